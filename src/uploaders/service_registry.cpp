#include "uploaders/service_registry.h"

namespace qm::upload {

namespace {

std::optional<size_t> slotOf(ServiceId id) {
    if (!serviceFromNumber(serviceNumber(id)))
        return std::nullopt;
    return static_cast<size_t>(serviceNumber(id));
}

} // namespace

ServiceRegistry::ServiceRegistry(QString bundleName)
    : bundleName_(std::move(bundleName)) {}

void ServiceRegistry::registerService(std::unique_ptr<UploaderClass> serviceClass) {
    if (const auto slot = serviceClass ? slotOf(serviceClass->id()) : std::nullopt)
        classes_[*slot] = std::move(serviceClass);
}

UploaderClass* ServiceRegistry::classForService(ServiceId id) const {
    const auto slot = slotOf(id);
    return slot ? classes_[*slot].get() : nullptr;
}

const ServiceDescription* ServiceRegistry::descriptionOfService(ServiceId id) const {
    const UploaderClass* serviceClass = classForService(id);
    return serviceClass ? &serviceClass->description() : nullptr;
}

bool ServiceRegistry::isLinkedForService(ServiceId id) const {
    const UploaderClass* serviceClass = classForService(id);
    return serviceClass && serviceClass->isLinked();
}

QString ServiceRegistry::nameOfService(ServiceId id) const {
    return serviceName(id);
}

QString ServiceRegistry::keychainIdentifierForService(ServiceId id) const {
    const UploaderClass* serviceClass = classForService(id);
    return serviceClass ? serviceClass->keychainIdentifier() : keychainIdentifier(bundleName_, id);
}

void ServiceRegistry::setIsLinked(bool linked, ServiceId id) {
    if (UploaderClass* serviceClass = classForService(id))
        serviceClass->setIsLinked(linked);
}

} // namespace qm::upload
