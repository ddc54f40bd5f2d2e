#pragma once

#include "platform/secret_store.h"

#include <QString>

namespace qm::accounts {

// Account passwords: one item per service label and account name, holding one password as UTF-8.
// Each operation first checks that the item exists, then looks it up again for its data.
class CredentialStore {
public:
    explicit CredentialStore(platform::SecretStore& secrets)
        : secrets_(secrets) {}

    bool checkForExistanceOfKeychainItem(const QString& label, const QString& account) const;
    // The password, or a null QString when there is no item, the look-up fails or the stored data is empty.
    QString passwordFromKeychainItem(const QString& label, const QString& account) const;
    // Replaces the password of an existing item, or adds a new item.
    bool setPassword(const QString& password, const QString& label, const QString& account);
    // True when an item was found and deleted.
    bool removeKeychainItem(const QString& label, const QString& account);

    // The secret store underneath, for the services that keep OAuth credentials beside the passwords.
    platform::SecretStore& secretStore() const { return secrets_; }

private:
    bool modifyKeychainItem(const QString& label, const QString& account, const QString& newPassword);

    platform::SecretStore& secrets_;
};

} // namespace qm::accounts
