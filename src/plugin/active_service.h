#pragma once

#include "platform/settings_store.h"
#include "uploaders/service_registry.h"

namespace qm::plugin {

// The service uploads go to: the selected one if it is linked, else NoService (10).
int activeService(const platform::SettingsStore& settings, const upload::ServiceRegistry& services);

// The selected service; NoService when none was ever chosen.
int selectedService(const platform::SettingsStore& settings);

} // namespace qm::plugin
