#pragma once

#include "host/host.h"
#include "platform/bundle.h"
#include "platform/settings_store.h"
#include "uploaders/service_registry.h"

namespace qm::plugin {

// What the plug-in's code is given by whoever loads it. Nothing here is looked up globally.
struct PluginContext {
    host::Host& host;
    platform::SettingsStore& settings;
    const platform::Bundle& bundle;
    upload::ServiceRegistry& services;
};

} // namespace qm::plugin
