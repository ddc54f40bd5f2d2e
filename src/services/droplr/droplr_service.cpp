#include "services/droplr/droplr_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

const ServiceDescription& droplrService() {
    namespace keys = accounts::keys;
    static const ServiceDescription description{
        .id = ServiceId::Droplr,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(keys::droplrEmail),
        .linkedKey = QString::fromLatin1(keys::droplrLinked),
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = QUrl(QStringLiteral("https://droplr.com/register")),
    };
    return description;
}

} // namespace qm::upload
