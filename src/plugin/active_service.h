#pragma once

#include "platform/settings_store.h"
#include "uploaders/service_registry.h"

namespace qm::plugin {

// The service uploads go to: the selected one if it is linked, else ServiceId::None.
upload::ServiceId activeService(const platform::SettingsStore& settings,
                                const upload::ServiceRegistry& services);

// The selected service; ServiceId::None when none was ever chosen or the stored number names none.
upload::ServiceId selectedService(const platform::SettingsStore& settings);

} // namespace qm::plugin
