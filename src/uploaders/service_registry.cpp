#include "uploaders/service_registry.h"

#include "uploaders/service_id.h"

namespace qm::upload {

void ServiceRegistry::registerService(int id, std::unique_ptr<UploaderClass> serviceClass) {
    if (isServiceId(id))
        classes_[static_cast<size_t>(id)] = std::move(serviceClass);
}

UploaderClass* ServiceRegistry::classForService(int id) const {
    return isServiceId(id) ? classes_[static_cast<size_t>(id)].get() : nullptr;
}

bool ServiceRegistry::isLinkedForService(int id) const {
    const UploaderClass* serviceClass = classForService(id);
    return serviceClass && serviceClass->isLinked();
}

QString ServiceRegistry::nameOfService(int id) const {
    const UploaderClass* serviceClass = classForService(id);
    return serviceClass ? serviceClass->name() : QString();
}

QString ServiceRegistry::keychainIdentifierForService(int id) const {
    const UploaderClass* serviceClass = classForService(id);
    return serviceClass ? serviceClass->keychainIdentifier() : QString();
}

void ServiceRegistry::setIsLinked(bool linked, int id) {
    if (UploaderClass* serviceClass = classForService(id))
        serviceClass->setIsLinked(linked);
}

} // namespace qm::upload
