#include "plugin/active_service.h"

#include "accounts/settings_keys.h"
#include "uploaders/service_id.h"

namespace qm::plugin {

upload::ServiceId selectedService(const platform::SettingsStore& settings) {
    // Absent means "none chosen"; a stored 0 is Dropbox.
    if (!settings.objectForKey(accounts::keys::selectedService))
        return upload::ServiceId::None;
    return upload::serviceFromNumber(settings.integerForKey(accounts::keys::selectedService))
        .value_or(upload::ServiceId::None);
}

upload::ServiceId activeService(const platform::SettingsStore& settings,
                                const upload::ServiceRegistry& services) {
    const upload::ServiceId selected = selectedService(settings);
    return services.isLinkedForService(selected) ? selected : upload::ServiceId::None;
}

} // namespace qm::plugin
