#pragma once

#include "uploaders/uploader_class.h"

#include <array>
#include <memory>

namespace qm::upload {

// The service classes by identifier. Names and keychain identifiers are answered for all ten services;
// a service whose uploader is not part of this build has no class: it is never linked and cannot become
// the active service.
class ServiceRegistry {
public:
    // `bundleName` forms the keychain identifiers of services without a class.
    explicit ServiceRegistry(QString bundleName = QStringLiteral("Quillmoor"));

    // Installs a service's class under its description's identifier, replacing an earlier one.
    void registerService(std::unique_ptr<UploaderClass> serviceClass);

    UploaderClass* classForService(ServiceId id) const;                 // nullptr for None or when not built
    const ServiceDescription* descriptionOfService(ServiceId id) const; // nullptr without a class
    bool isLinkedForService(ServiceId id) const;
    QString nameOfService(ServiceId id) const; // null for None
    QString keychainIdentifierForService(ServiceId id) const;
    void setIsLinked(bool linked, ServiceId id);

private:
    QString bundleName_;
    std::array<std::unique_ptr<UploaderClass>, kServiceCount> classes_;
};

} // namespace qm::upload
