#pragma once

#include "net/http_client.h"
#include "net/oauth2_credential.h"

#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

namespace qm::net {

// An HTTP client that obtains tokens from an OAuth 2 token endpoint (RFC 6749) and authorises its own
// requests with the bearer token it gets.
class OAuth2Client : public HTTPClient {
public:
    using CredentialSuccess = std::function<void(const OAuth2Credential&)>;
    // No error when the server answered an OAuth error with a success status.
    using CredentialFailure = std::function<void(const std::optional<platform::Error>&)>;

    // An empty URL or client identifier throws platform::InvalidArgument.
    OAuth2Client(const QUrl& baseURL, const QString& clientID, const QString& secret,
                 const ClientIdentity& identity = {});
    ~OAuth2Client() override;

    static std::shared_ptr<OAuth2Client> clientWithBaseURL(const QUrl& baseURL, const QString& clientID,
                                                           const QString& secret,
                                                           const ClientIdentity& identity = {}) {
        return std::make_shared<OAuth2Client>(baseURL, clientID, secret, identity);
    }

    const QString& serviceProviderIdentifier() const { return serviceProviderIdentifier_; }
    const QString& clientID() const { return clientID_; }
    const QString& secret() const { return secret_; }

    // As a bearer token.
    void setAuthorizationHeaderWithToken(const QString& token) override;
    // Only a bearer type (in any case) sets the header; any other type leaves it as it was.
    void setAuthorizationHeaderWithToken(const QString& token, const QString& type);
    void setAuthorizationHeaderWithCredential(const OAuth2Credential& credential);

    // Each grant refuses a missing argument by throwing platform::InvalidArgument.
    void authenticateWithAuthorizationCode(const QString& path, const QString& code,
                                           const QString& redirectURI, CredentialSuccess success,
                                           CredentialFailure failure);
    void authenticateWithRefreshToken(const QString& path, const QString& refreshToken,
                                      CredentialSuccess success, CredentialFailure failure);
    void authenticateWithPassword(const QString& path, const QString& username, const QString& password,
                                  const QString& scope, CredentialSuccess success, CredentialFailure failure);
    void authenticateWithClientCredentials(const QString& path, const QString& scope,
                                           CredentialSuccess success, CredentialFailure failure);
    // The common end of the grants: adds the client's identifier and secret and posts the form.
    void authenticateWithParameters(const QString& path, QVariantMap parameters, CredentialSuccess success,
                                    CredentialFailure failure);

private:
    QString serviceProviderIdentifier_;
    QString clientID_;
    QString secret_;
    // Answers may arrive after the client is gone; they then must not touch its header.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

using QNOAuth2Client = OAuth2Client;

} // namespace qm::net
