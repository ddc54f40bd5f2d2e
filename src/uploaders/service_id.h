#pragma once

#include <QString>

namespace qm::upload {

// The services files can go to; the number is what the settings store keeps.
enum ServiceId : int {
    Dropbox = 0,
    YouSendIt = 1,
    CloudApp = 2,
    Droplr = 3,
    Dropmark = 4,
    MediaFire = 5,
    Box = 6,
    GoogleDrive = 7,
    OwnCloud = 8,
    Generic = 9,
    NoService = 10,
};

inline constexpr int kServiceCount = 10;

inline bool isServiceId(int id) { return id >= 0 && id < kServiceCount; }

// Internal service names: they form keychain identifiers and icon names, so they never change.
QString serviceName(int id);   // null for an identifier outside 0 to 9

// Status codes of a failed or ended upload.
enum UploadStatus : int { UploadFailed = 1, UploadCancelledByUser = 2 };

} // namespace qm::upload
