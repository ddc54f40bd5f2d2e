#include "services/dropbox/dropbox_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

const ServiceDescription& dropboxService() {
    static const ServiceDescription description{
        .id = ServiceId::Dropbox,
        .linking = Linking::Browser,
        .accountKey = {},
        .linkedKey = QString::fromLatin1(accounts::keys::dropboxLinked),
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = QUrl(QStringLiteral("https://www.dropbox.com/register")),
    };
    return description;
}

} // namespace qm::upload
