#include "services/droplr/auth_utils.h"

#include "services/droplr/functions.h"

namespace qm::droplr {

namespace {

QString pageURL(const char* page, const QString& authEndpoint, const QString& urlScheme, bool closeWhenDone) {
    QString url = QStringLiteral("%1/%2?callback=%3").arg(authEndpoint, QLatin1String(page), urlScheme);
    if (closeWhenDone)
        url += QStringLiteral("&closewhendone=true");
    return url;
}

} // namespace

QString AuthUtils::accessKey(const AppCredentials& app, const UserCredentials& user) {
    return base64Encode(app.publicKey() + QLatin1Char(':') + user.email());
}

QString AuthUtils::accessSecret(const AppCredentials& app, const UserCredentials& user) {
    return app.privateKey() + QLatin1Char(':') + user.hashedPassword();
}

QString AuthUtils::stringToSign(const QString& path, const QString& method, const QString& date,
                                const QString& contentType) {
    return method + QLatin1Char(' ') + path + QStringLiteral(" HTTP/1.1\n") + contentType +
           QLatin1Char('\n') + date;
}

QString AuthUtils::signature(const QString& stringToSign, const QString& accessSecret) {
    return base64EncodeData(hmacSha1WithKey(stringToSign, accessSecret));
}

QString AuthUtils::signatureForRequest(const QString& path, const QString& method, const QString& date,
                                       const QString& contentType, const AppCredentials& app,
                                       const UserCredentials& user, const QString& realm) {
    const QString signed_ = signature(stringToSign(path, method, date, contentType), accessSecret(app, user));
    return realm + QLatin1Char(' ') + accessKey(app, user) + QLatin1Char(':') + signed_;
}

QString AuthUtils::anonymousSignatureForRequest(const QString& path, const QString& method,
                                                const QString& date, const QString& contentType,
                                                const AppCredentials& app) {
    return signatureForRequest(path, method, date, contentType, app, UserCredentials::anonymous(),
                               kAnonymousRealm);
}

QString AuthUtils::loginURL(const QString& authEndpoint, const QString& urlScheme, bool closeWhenDone) {
    return pageURL("login", authEndpoint, urlScheme, closeWhenDone);
}

QString AuthUtils::registerURL(const QString& authEndpoint, const QString& urlScheme, bool closeWhenDone) {
    return pageURL("register", authEndpoint, urlScheme, closeWhenDone);
}

} // namespace qm::droplr
