#pragma once

#include "services/droplr/credentials.h"

#include <QString>

namespace qm::droplr {

// How a Droplr request is signed:
//
//   string to sign = METHOD " " PATH " HTTP/1.1\n" CONTENT-TYPE "\n" DATE   (no trailing line feed)
//   Authorization  = REALM " " Base64(publicKey ":" email) ":" Base64(HMAC-SHA1(privateKey ":" sha1, s))
//
// The body is not signed: what the server can check is the verb, the path, the content type and the
// date, which it compares with its clock.
class AuthUtils {
public:
    static inline const QString kRealm = QStringLiteral("droplr");
    static inline const QString kAnonymousRealm = QStringLiteral("droplranon");

    static QString accessKey(const AppCredentials& app, const UserCredentials& user);
    static QString accessSecret(const AppCredentials& app, const UserCredentials& user);
    static QString stringToSign(const QString& path, const QString& method, const QString& date,
                                const QString& contentType);
    static QString signature(const QString& stringToSign, const QString& accessSecret);
    static QString signatureForRequest(const QString& path, const QString& method, const QString& date,
                                       const QString& contentType, const AppCredentials& app,
                                       const UserCredentials& user, const QString& realm = kRealm);
    // Signed with the anonymous credentials, for the authentication server.
    static QString anonymousSignatureForRequest(const QString& path, const QString& method,
                                                const QString& date, const QString& contentType,
                                                const AppCredentials& app);

    // "<endpoint>/login?callback=<scheme>" (and "&closewhendone=true"); the scheme is used as given.
    static QString loginURL(const QString& authEndpoint, const QString& urlScheme, bool closeWhenDone);
    static QString registerURL(const QString& authEndpoint, const QString& urlScheme, bool closeWhenDone);
};

} // namespace qm::droplr
