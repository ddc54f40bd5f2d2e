#include "services/cloudapp/cloudapp_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

namespace {

// The web site (where accounts are made) is a deployment value like the API's address.
QUrl signUpPage() {
    const QString site = qEnvironmentVariable("QUILLMOOR_CLOUDAPP_AUTH_URL").trimmed();
    return QUrl(site.isEmpty() ? QStringLiteral("https://www.getcloudapp.com/") : site);
}

} // namespace

const ServiceDescription& cloudAppService() {
    namespace keys = accounts::keys;
    static const ServiceDescription description{
        .id = ServiceId::CloudApp,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(keys::cloudAppEmail),
        .linkedKey = QString::fromLatin1(keys::cloudAppLinked),
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = signUpPage(),
    };
    return description;
}

} // namespace qm::upload
