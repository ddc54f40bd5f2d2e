#pragma once

#include <QString>
#include <array>
#include <optional>

namespace qm::upload {

// The services files can go to. The number is what "QuillmoorSelectedService" keeps; it never changes.
enum class ServiceId : int {
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
    None = 10, // no service chosen
};

inline constexpr int kServiceCount = 10;

// Every service, in identifier order.
inline constexpr std::array<ServiceId, kServiceCount> kAllServices{
    ServiceId::Dropbox,  ServiceId::YouSendIt, ServiceId::CloudApp, ServiceId::Droplr,
    ServiceId::Dropmark, ServiceId::MediaFire, ServiceId::Box,      ServiceId::GoogleDrive,
    ServiceId::OwnCloud, ServiceId::Generic};

inline constexpr int serviceNumber(ServiceId id) {
    return static_cast<int>(id);
}

// The service a stored or typed number stands for; nullopt outside 0 to 9.
inline std::optional<ServiceId> serviceFromNumber(qint64 number) {
    if (number < 0 || number >= kServiceCount)
        return std::nullopt;
    return static_cast<ServiceId>(number);
}

// Internal service names: they form keychain identifiers and icon names, so they never change. Null for
// ServiceId::None.
QString serviceName(ServiceId id);

// "<bundle name> (<service name>)": names the service's secrets. Null for ServiceId::None.
QString keychainIdentifier(const QString& bundleName, ServiceId id);

// How an upload or a run ended, as the delegates pass it on: failed shows an error alert, cancelled by
// the user shows nothing; other values an information alert.
enum class UploadStatus : int { Failed = 1, CancelledByUser = 2 };

} // namespace qm::upload
