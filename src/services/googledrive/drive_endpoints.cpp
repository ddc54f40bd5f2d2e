#include "services/googledrive/drive_endpoints.h"

namespace qm::upload::gdrive {

namespace {

QString fromEnvironment(const char* name, const QString& builtIn) {
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? builtIn : value;
}

QUrl baseFromEnvironment(const char* name, const char* builtIn) {
    return QUrl(fromEnvironment(name, QString::fromLatin1(builtIn)));
}

} // namespace

DriveEndpoints DriveEndpoints::fromEnvironment() {
    DriveEndpoints endpoints;
    endpoints.api = baseFromEnvironment("QUILLMOOR_GOOGLEDRIVE_URL", "https://www.googleapis.com");
    endpoints.auth = baseFromEnvironment("QUILLMOOR_GOOGLEDRIVE_AUTH_URL", "https://accounts.google.com");
    endpoints.token = baseFromEnvironment("QUILLMOOR_GOOGLEDRIVE_TOKEN_URL", "https://oauth2.googleapis.com");
    endpoints.upload = baseFromEnvironment("QUILLMOOR_GOOGLEDRIVE_UPLOAD_URL", "https://www.googleapis.com");
    endpoints.clientId =
        gdrive::fromEnvironment("QUILLMOOR_GOOGLEDRIVE_KEY", QString::fromUtf8(QUILLMOOR_GOOGLEDRIVE_KEY));
    endpoints.clientSecret = gdrive::fromEnvironment("QUILLMOOR_GOOGLEDRIVE_SECRET",
                                                     QString::fromUtf8(QUILLMOOR_GOOGLEDRIVE_SECRET));
    return endpoints;
}

QUrl DriveEndpoints::under(const QUrl& base, const QString& path) {
    QUrl url = base;
    QString prefix = base.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + path);
    return url;
}

} // namespace qm::upload::gdrive
