#pragma once

#include "platform/bundle.h"
#include "uploaders/service_registry.h"

namespace qm::upload {

// Installs the class of every service this build has. Every host calls it once, before the plug-in loads.
void registerBuiltInServices(ServiceRegistry& registry, const ServiceEnvironment& environment,
                             const platform::Bundle& bundle);

} // namespace qm::upload
