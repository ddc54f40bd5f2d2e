#pragma once

#include <QMetaType>
#include <QString>

namespace qm::droplr {

// The application's key pair, issued by the service.
class AppCredentials {
public:
    AppCredentials() = default;
    // The public key is kept in lower case.
    AppCredentials(const QString& publicKey, QString privateKey);

    const QString& publicKey() const { return publicKey_; }
    const QString& privateKey() const { return privateKey_; }
    // Names the public key only: the private one never reaches a log.
    QString description() const;

private:
    QString publicKey_;
    QString privateKey_;
};

// One user: the e-mail address in lower case and the SHA-1 of the password, which is what requests are
// signed with (the clear password never leaves this object's constructor).
class UserCredentials {
public:
    UserCredentials() = default;
    static UserCredentials withHashedPassword(const QString& email, QString hashedPassword);
    static UserCredentials withClearPassword(const QString& email, const QString& clearPassword);
    // Fixed credentials of no one, for requests to the authentication server.
    static const UserCredentials& anonymous();
    static bool isHashedPassword(const QString& text) { return text.size() == 40; }

    const QString& email() const { return email_; }
    const QString& hashedPassword() const { return hashedPassword_; }

private:
    QString email_;
    QString hashedPassword_;
};

} // namespace qm::droplr

Q_DECLARE_METATYPE(qm::droplr::UserCredentials)
