#include "services/mediafire/mediafire_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

namespace {

constexpr char kDefaultWebURL[] = "https://www.mediafire.com";

QString deploymentValue(const char* variable, const QString& builtIn) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? builtIn : value;
}

} // namespace

const ServiceDescription& mediaFireService() {
    namespace keys = accounts::keys;
    static const ServiceDescription description{
        .id = ServiceId::MediaFire,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(keys::mediaFireEmail),
        .linkedKey = QString::fromLatin1(keys::mediaFireLinked),
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = QUrl(QStringLiteral("https://www.mediafire.com/upgrade/")),
    };
    return description;
}

MediaFireDeployment MediaFireDeployment::fromEnvironment() {
    MediaFireDeployment deployment;
    deployment.webURL = QUrl(deploymentValue("QUILLMOOR_MEDIAFIRE_URL", QString::fromLatin1(kDefaultWebURL)));
    deployment.uploadURL =
        QUrl(deploymentValue("QUILLMOOR_MEDIAFIRE_UPLOAD_URL", deployment.webURL.toString()));
    deployment.applicationId =
        deploymentValue("QUILLMOOR_MEDIAFIRE_KEY", QStringLiteral(QUILLMOOR_MEDIAFIRE_KEY));
    deployment.apiKey =
        deploymentValue("QUILLMOOR_MEDIAFIRE_SECRET", QStringLiteral(QUILLMOOR_MEDIAFIRE_SECRET));
    return deployment;
}

platform::Error MediaFireDeployment::missingKeyError() {
    return platform::Error(
        QStringLiteral("RVErrorDomain"), 1,
        QStringLiteral("MediaFire cannot be used: no application key was built in (build with "
                       "-DQUILLMOOR_MEDIAFIRE_KEY=APPLICATION-ID "
                       "-DQUILLMOOR_MEDIAFIRE_SECRET=API-KEY or set both variables)."));
}

} // namespace qm::upload
