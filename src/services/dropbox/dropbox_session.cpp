#include "services/dropbox/dropbox_session.h"

#include <QTimer>

namespace qm::dropbox {

namespace {

QString environmentOr(const char* name, const QString& builtIn) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? builtIn : value;
}

platform::Error sessionError(const QString& text) {
    return platform::Error(QStringLiteral("DBErrorDomain"), 401, text);
}

} // namespace

Config Config::fromEnvironment() {
    Config config;
    config.authURL =
        QUrl(environmentOr("QUILLMOOR_DROPBOX_AUTH_URL", QStringLiteral("https://www.dropbox.com")));
    config.apiURL =
        QUrl(environmentOr("QUILLMOOR_DROPBOX_URL", QStringLiteral("https://api.dropboxapi.com")));
    config.tokenURL = QUrl(environmentOr("QUILLMOOR_DROPBOX_TOKEN_URL", config.apiURL.toString()));
    config.contentURL =
        QUrl(environmentOr("QUILLMOOR_DROPBOX_UPLOAD_URL", QStringLiteral("https://content.dropboxapi.com")));
    config.appKey = environmentOr("QUILLMOOR_DROPBOX_KEY", QStringLiteral(QUILLMOOR_DROPBOX_KEY));
    config.appSecret = environmentOr("QUILLMOOR_DROPBOX_SECRET", QStringLiteral(QUILLMOOR_DROPBOX_SECRET));
    return config;
}

Session::Session(platform::SecretStore& secrets, QString keychainIdentifier, Config config)
    : store_(secrets)
    , identifier_(std::move(keychainIdentifier))
    , config_(std::move(config)) {}

bool Session::isLinked() {
    return store_.retrieveCredential(identifier_).has_value();
}

void Session::unlinkAll() {
    store_.deleteCredential(identifier_);
}

bool Session::store(const net::OAuth2Credential& credential) {
    return store_.storeCredential(credential, identifier_);
}

void Session::accessToken(bool force, std::function<void(const platform::Result<QString>&)> done) {
    const auto answer = [done](const platform::Result<QString>& outcome) {
        QTimer::singleShot(0, [done, outcome] { done(outcome); });
    };
    const std::optional<net::OAuth2Credential> credential = store_.retrieveCredential(identifier_);
    if (!credential) {
        answer(sessionError(QStringLiteral("Dropbox is not linked")));
        return;
    }
    if (!force && !credential->isExpired()) {
        answer(credential->accessToken());
        return;
    }
    if (!credential->refreshToken()) {
        answer(sessionError(QStringLiteral("the Dropbox sign-in has expired; link Dropbox again")));
        return;
    }
    tokenClient_ = net::OAuth2Client::clientWithBaseURL(config_.tokenURL, config_.appKey, config_.appSecret);
    tokenClient_->authenticateWithRefreshToken(
        QStringLiteral("/oauth2/token"), *credential->refreshToken(),
        [this, answer](const net::OAuth2Credential& renewed) {
            if (!store(renewed)) {
                answer(sessionError(QStringLiteral("the renewed Dropbox sign-in could not be stored")));
                return;
            }
            answer(renewed.accessToken());
        },
        [answer](const std::optional<platform::Error>& error) {
            answer(error ? *error
                         : sessionError(
                               QStringLiteral("Dropbox refused to renew the sign-in; link Dropbox again")));
        });
}

} // namespace qm::dropbox
