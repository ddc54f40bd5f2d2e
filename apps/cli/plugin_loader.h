#pragma once

#include "host/host.h"
#include "platform/bundle.h"
#include "platform/error.h"
#include "platform/result.h"
#include "platform/settings_store.h"
#include "plugin/quillmoor_bundle.h"
#include "uploaders/service_registry.h"

#include <memory>

namespace qm::cli {

// The plug-in as loaded into the command-line host. It must outlive every use of the host's runtime.
using LoadedPlugin = plugin::QuillmoorBundle;

// The bundle's QuillmoorDefaults.plist as the settings' registered defaults.
void registerBundleDefaults(platform::SettingsStore& settings, const platform::Bundle& bundle);

// Loads the plug-in into `host` through its start-up, and checks that it took the compose window's send.
// `workingDirectory` holds the plug-in's copies of attachments; each run has its own, so runs side by side
// never meet and nothing is left behind.
platform::Result<std::unique_ptr<LoadedPlugin>>
loadPlugin(host::Host& host, platform::SettingsStore& settings, const platform::Bundle& bundle,
           upload::ServiceRegistry& services, const QString& composeClassName,
           const QString& workingDirectory);

} // namespace qm::cli
