#pragma once

#include "accounts/credential_store.h"
#include "platform/settings_store.h"

#include <QString>

namespace qm::upload {

// What every service needs from the program: its settings, its passwords, and the bundle name that
// prefixes its keychain identifier.
struct ServiceEnvironment {
    platform::SettingsStore& settings;
    accounts::CredentialStore& credentials;
    QString bundleName;
};

} // namespace qm::upload
