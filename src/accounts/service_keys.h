#pragma once

#include "accounts/settings_keys.h"

#include <QString>

namespace qm::accounts {

// How each service keeps its account in the settings store: the key of its account name and, for
// services linked by a flag, the key of that flag. Empty where a service has none.
struct ServiceAccountKeys {
    QString accountName;
    QString linkedFlag;
};

inline ServiceAccountKeys accountKeysForService(int id) {
    switch (id) {
    case 0: return {{}, keys::dropboxLinked};
    case 1: return {keys::youSendItEmail, {}};
    case 2: return {keys::cloudAppEmail, keys::cloudAppLinked};
    case 3: return {keys::droplrEmail, keys::droplrLinked};
    case 4: return {keys::dropmarkEmail, keys::dropmarkLinked};
    case 5: return {keys::mediaFireEmail, keys::mediaFireLinked};
    case 8: return {keys::ownCloudEmail, keys::ownCloudLinked};
    case 9: return {keys::genericLogin, keys::genericLinked};
    default: return {};   // Box and Google Drive keep OAuth credentials; no service outside 0 to 9
    }
}

} // namespace qm::accounts
