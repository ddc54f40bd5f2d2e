#include "services/droplr/credentials.h"

#include "services/droplr/functions.h"

namespace qm::droplr {

AppCredentials::AppCredentials(const QString& publicKey, QString privateKey)
    : publicKey_(publicKey.toLower())
    , privateKey_(std::move(privateKey)) {}

QString AppCredentials::description() const {
    return QStringLiteral("DKAppCredentials{publicKey='%1'}").arg(publicKey_);
}

UserCredentials UserCredentials::withHashedPassword(const QString& email, QString hashedPassword) {
    UserCredentials credentials;
    credentials.email_ = email.toLower();
    credentials.hashedPassword_ = std::move(hashedPassword);
    return credentials;
}

UserCredentials UserCredentials::withClearPassword(const QString& email, const QString& clearPassword) {
    return withHashedPassword(email, hashPassword(clearPassword));
}

const UserCredentials& UserCredentials::anonymous() {
    static const UserCredentials credentials =
        withClearPassword(QStringLiteral("anonymous@droplr.com"), QStringLiteral("quillmoor"));
    return credentials;
}

} // namespace qm::droplr
