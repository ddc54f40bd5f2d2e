#pragma once

#include "platform/error.h"
#include "uploaders/service_description.h"

#include <QString>
#include <QUrl>
#include <chrono>

namespace qm::upload {

// Dropmark: files become items of a collection named after the program, linked with an e-mail address
// and a password that are exchanged once for a user id and an API token.
const ServiceDescription& dropmarkService();

// Where this deployment finds Dropmark and with which key it speaks to it.
struct DropmarkDeployment {
    QUrl apiURL;    // QUILLMOOR_DROPMARK_URL, else Dropmark's own API host
    QString apiKey; // QUILLMOOR_DROPMARK_KEY, else the key built in
    // Idle time after which a request fails.
    std::chrono::milliseconds timeout{60000};

    static DropmarkDeployment fromEnvironment();
    // Said at once by linking and uploading when there is no key to send.
    static platform::Error missingKeyError();
};

} // namespace qm::upload
