#include "accounts/credential_store.h"

namespace qm::accounts {

bool CredentialStore::checkForExistanceOfKeychainItem(const QString& label, const QString& account) const {
    return secrets_.contains(label, account);
}

QString CredentialStore::passwordFromKeychainItem(const QString& label, const QString& account) const {
    if (!checkForExistanceOfKeychainItem(label, account))
        return {};
    const std::optional<QByteArray> data = secrets_.find(label, account);
    if (!data || data->isEmpty())
        return {};
    return QString::fromUtf8(*data);
}

bool CredentialStore::setPassword(const QString& password, const QString& label, const QString& account) {
    if (checkForExistanceOfKeychainItem(label, account))
        return modifyKeychainItem(label, account, password);
    return secrets_.add(label, account, password.toUtf8());
}

bool CredentialStore::removeKeychainItem(const QString& label, const QString& account) {
    if (!checkForExistanceOfKeychainItem(label, account))
        return false;
    return secrets_.remove(label, account);
}

bool CredentialStore::modifyKeychainItem(const QString& label, const QString& account,
                                         const QString& newPassword) {
    if (!checkForExistanceOfKeychainItem(label, account))
        return false;
    return secrets_.replace(label, account, newPassword.toUtf8());
}

} // namespace qm::accounts
