#pragma once

#include "uploaders/uploader_class.h"

#include <array>
#include <memory>

namespace qm::upload {

// The service classes by identifier. A service whose uploader is not part of this build has no class:
// it is never linked and cannot become the active service.
class ServiceRegistry {
public:
    // Installs the class of service `id` (0 to 9), replacing an earlier one; other identifiers are ignored.
    void registerService(int id, std::unique_ptr<UploaderClass> serviceClass);

    UploaderClass* classForService(int id) const;   // nullptr outside 0 to 9 or when not built
    bool isLinkedForService(int id) const;
    QString nameOfService(int id) const;             // null without a class
    QString keychainIdentifierForService(int id) const;
    void setIsLinked(bool linked, int id);

private:
    std::array<std::unique_ptr<UploaderClass>, 10> classes_;
};

} // namespace qm::upload
