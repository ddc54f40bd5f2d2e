#pragma once

#include <QString>
#include <QUrl>

namespace qm::upload::gdrive {

// Where Google Drive lives and who the application is to it. Built-in values, each overridden by an
// environment variable of the deployment (tests, staging servers): QUILLMOOR_GOOGLEDRIVE_URL (the API),
// _AUTH_URL (the sign-in page), _TOKEN_URL (the token endpoint's host), _UPLOAD_URL (uploads), _KEY and
// _SECRET (the OAuth client). Paths below each base stay as Google has them.
struct DriveEndpoints {
    QUrl api;
    QUrl auth;
    QUrl token;
    QUrl upload;
    QString clientId;
    QString clientSecret;

    // Read at the moment of use, so a changed environment takes effect at the next linking or upload.
    static DriveEndpoints fromEnvironment();

    bool hasClient() const { return !clientId.isEmpty(); }

    QUrl authorizePage() const { return under(auth, QStringLiteral("/o/oauth2/v2/auth")); }
    QUrl tokenEndpoint() const { return under(token, QStringLiteral("/token")); }
    QUrl apiPath(const QString& path) const { return under(api, QStringLiteral("/drive/v3/") + path); }
    QUrl uploadEndpoint() const { return under(upload, QStringLiteral("/upload/drive/v3/files")); }

    // `path` appended to the base's own path, so a base with a path prefix keeps it.
    static QUrl under(const QUrl& base, const QString& path);
};

} // namespace qm::upload::gdrive
