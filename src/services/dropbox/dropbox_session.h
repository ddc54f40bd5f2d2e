#pragma once

#include "net/oauth2_client.h"
#include "net/oauth2_credential.h"
#include "platform/result.h"

#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

namespace qm::dropbox {

// Where Dropbox is and which application we are: built-in defaults overridden by QUILLMOOR_DROPBOX_URL
// (API), _AUTH_URL (sign-in page), _TOKEN_URL (token endpoint host, the API's by default), _UPLOAD_URL
// (content host), _KEY and _SECRET.
struct Config {
    QUrl authURL, apiURL, tokenURL, contentURL;
    QString appKey, appSecret;
    // Idle time after which an API call or chunk fails (and a chunk is sent again); tests shorten it.
    std::chrono::milliseconds timeout{60000};
    // The wait before the first retry of a 429 without Retry-After or a 5xx, doubled for each further one.
    std::chrono::milliseconds firstRetryWait{1000};

    static Config fromEnvironment();
    // "db-" and the key: the scheme the sign-in returns through.
    QString scheme() const { return QStringLiteral("db-") + appKey; }
    QString redirectURI() const { return scheme() + QStringLiteral("://2/token"); }
};

inline constexpr char noApplicationKey[] =
    "no application key was built in for Dropbox (set QUILLMOOR_DROPBOX_KEY)";

// The account's session: the tokens in the credential store (linked while there are some), kept fresh.
class Session {
public:
    Session(platform::SecretStore& secrets, QString keychainIdentifier, Config config);

    const Config& config() const { return config_; }
    bool isLinked();
    // Forgets every linked account: the tokens go.
    void unlinkAll();
    bool store(const net::OAuth2Credential& credential);

    // A valid access token, refreshed first when it has expired (or `force`, after a 401). `done` runs once,
    // on the main thread, after this call has returned.
    void accessToken(bool force, std::function<void(const platform::Result<QString>&)> done);

private:
    net::OAuth2CredentialStore store_;
    QString identifier_;
    Config config_;
    std::shared_ptr<net::OAuth2Client> tokenClient_;
};

} // namespace qm::dropbox
