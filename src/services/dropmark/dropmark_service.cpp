#include "services/dropmark/dropmark_service.h"

#include "accounts/settings_keys.h"

namespace qm::upload {

namespace {

constexpr char kDefaultAPIURL[] = "https://api.dropmark.com";

QString deploymentValue(const char* variable, const QString& builtIn) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? builtIn : value;
}

} // namespace

const ServiceDescription& dropmarkService() {
    namespace keys = accounts::keys;
    static const ServiceDescription description{
        .id = ServiceId::Dropmark,
        .linking = Linking::Password,
        .accountKey = QString::fromLatin1(keys::dropmarkEmail),
        .linkedKey = QString::fromLatin1(keys::dropmarkLinked),
        .fields = {},
        .needsRecipients = false,
        .reportsProgress = true,
        .signUpPage = QUrl(QStringLiteral("https://www.dropmark.com/signup")),
    };
    return description;
}

DropmarkDeployment DropmarkDeployment::fromEnvironment() {
    DropmarkDeployment deployment;
    deployment.apiURL = QUrl(deploymentValue("QUILLMOOR_DROPMARK_URL", QString::fromLatin1(kDefaultAPIURL)));
    deployment.apiKey = deploymentValue("QUILLMOOR_DROPMARK_KEY", QStringLiteral(QUILLMOOR_DROPMARK_KEY));
    return deployment;
}

platform::Error DropmarkDeployment::missingKeyError() {
    return platform::Error(
        QStringLiteral("RVErrorDomain"), 1,
        QStringLiteral("Dropmark cannot be used: no application key was built in (build with "
                       "-DQUILLMOOR_DROPMARK_KEY=KEY or set QUILLMOOR_DROPMARK_KEY)."));
}

} // namespace qm::upload
