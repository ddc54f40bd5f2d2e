#pragma once

#include <QString>
#include <QUrl>
#include <chrono>

namespace qm::upload {

// Where Box is and who we are to it: built-in defaults, each overridden by its environment variable
// (QUILLMOOR_BOX_URL for the API, _AUTH_URL for the web site with the sign-in page, _TOKEN_URL for the
// token endpoint's host, _UPLOAD_URL for uploads, _KEY and _SECRET for the application's client).
struct BoxConfig {
    QUrl webURL; // sign-in page; the token endpoint unless tokenURL says otherwise
    QUrl tokenURL;
    QUrl apiURL;
    QUrl uploadURL;
    QString clientID;
    QString clientSecret;
    std::chrono::milliseconds uploadTimeout{60000}; // idle time after which the file's upload fails

    static BoxConfig fromEnvironment();

    // The page the user signs in on; Box sends `state` back with the redirect.
    QUrl authorizationPage(const QString& state) const;
};

namespace box {
inline constexpr char tokenPath[] = "/api/oauth2/token";
inline constexpr char authorizePath[] = "/api/oauth2/authorize";
inline constexpr char noApplicationKey[] =
    "no application key was built in for Box (set QUILLMOOR_BOX_KEY and QUILLMOOR_BOX_SECRET)";
} // namespace box

} // namespace qm::upload
