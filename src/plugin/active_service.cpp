#include "plugin/active_service.h"

#include "accounts/settings_keys.h"
#include "uploaders/service_id.h"

namespace qm::plugin {

int selectedService(const platform::SettingsStore& settings) {
    // Absent means "none chosen"; a stored 0 is Dropbox.
    if (!settings.objectForKey(accounts::keys::selectedService))
        return upload::NoService;
    return static_cast<int>(settings.integerForKey(accounts::keys::selectedService));
}

int activeService(const platform::SettingsStore& settings, const upload::ServiceRegistry& services) {
    const int selected = selectedService(settings);
    return services.isLinkedForService(selected) ? selected : upload::NoService;
}

} // namespace qm::plugin
