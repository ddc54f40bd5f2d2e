#pragma once

#include "platform/error.h"
#include "uploaders/service_description.h"

#include <QString>
#include <QUrl>
#include <chrono>

namespace qm::upload {

// MediaFire: files go into a folder named after the program and are linked for direct download; every
// operation first obtains a session token with the account's e-mail address and password.
const ServiceDescription& mediaFireService();

// Where this deployment finds MediaFire, with which application credentials, and how long it waits.
struct MediaFireDeployment {
    QUrl webURL;           // QUILLMOOR_MEDIAFIRE_URL, else MediaFire's own web host
    QUrl uploadURL;        // QUILLMOOR_MEDIAFIRE_UPLOAD_URL, else the web host
    QString applicationId; // QUILLMOOR_MEDIAFIRE_KEY, else the id built in
    QString apiKey;        // QUILLMOOR_MEDIAFIRE_SECRET, else the key built in
    // Idle time after which a request fails.
    std::chrono::milliseconds timeout{60000};
    // MediaFire processes an upload after receiving it; it is asked this often whether it is done ...
    std::chrono::milliseconds pollInterval{2000};
    // ... for at most this long, plus one second per MiB of the file, before the upload fails.
    std::chrono::milliseconds pollLimit{std::chrono::minutes(10)};

    static MediaFireDeployment fromEnvironment();
    bool hasKeys() const { return !applicationId.isEmpty() && !apiKey.isEmpty(); }
    // Said at once by linking and uploading when there is no application id or API key to sign with.
    static platform::Error missingKeyError();
};

} // namespace qm::upload
