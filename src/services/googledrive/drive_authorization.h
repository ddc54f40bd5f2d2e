#pragma once

#include "accounts/credential_store.h"
#include "platform/result.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace qm::upload::gdrive {

// The members of a JSON object as read by the JSON reader; nullopt for anything else.
std::optional<QVariantMap> jsonObject(const QVariant& value);

// What signing in to Google Drive gives: the tokens and the account they belong to.
struct Authorization {
    QString accessToken;
    QString refreshToken;
    QDateTime expiresAt; // invalid: unknown, taken as still valid until the server says otherwise
    QString email;

    // Has a token to send or to renew one with.
    bool canAuthorize() const { return !accessToken.isEmpty() || !refreshToken.isEmpty(); }
    // The Drive account is known: the link is complete.
    bool isSignedIn() const { return canAuthorize() && !email.isEmpty(); }
    // Expired, or about to: renewed before use rather than failing a request half-way.
    bool needsRefresh(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;

    QByteArray serialise() const;
    static std::optional<Authorization> deserialise(const QByteArray& data);
};

// The authorization as one credential-store item, under the service's keychain identifier.
class AuthorizationStore {
public:
    AuthorizationStore(accounts::CredentialStore& credentials, QString keychainIdentifier)
        : credentials_(credentials)
        , label_(std::move(keychainIdentifier)) {}

    std::optional<Authorization> load() const;
    platform::Result<void> save(const Authorization& authorization);
    void remove();

private:
    accounts::CredentialStore& credentials_;
    QString label_;
};

// The proof key of one sign-in (RFC 7636, S256), with the state that ties the answer to the request.
struct ProofKey {
    QString verifier;
    QString challenge;
    QString state;

    static ProofKey generate();
};

} // namespace qm::upload::gdrive
