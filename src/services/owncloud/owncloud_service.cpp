#include "services/owncloud/owncloud_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

const ServiceDescription& ownCloudService() {
    namespace keys = accounts::keys;
    using Kind = AccountField::Kind;
    static const ServiceDescription description{
        .id = ServiceId::OwnCloud,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(keys::ownCloudEmail),
        .linkedKey = QString::fromLatin1(keys::ownCloudLinked),
        .fields = {{QStringLiteral("server"), QString::fromLatin1(keys::ownCloudURL), Kind::ServerAddress},
                   {QStringLiteral("folder"), QString::fromLatin1(keys::ownCloudDirectoryName), Kind::Text}},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = {}, // the user's own server
    };
    return description;
}

} // namespace qm::upload
