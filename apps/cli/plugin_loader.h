#pragma once

#include "host/host.h"
#include "platform/bundle.h"
#include "platform/error.h"
#include "platform/settings_store.h"
#include "plugin/attachment_pipeline.h"
#include "plugin/document_editor.h"
#include "uploaders/service_registry.h"

#include <memory>
#include <variant>

namespace qm::cli {

// The plug-in as loaded into the command-line host. It must outlive every use of the host's runtime.
struct LoadedPlugin {
    LoadedPlugin(host::Host& host, platform::SettingsStore& settings, const platform::Bundle& bundle,
                 upload::ServiceRegistry& services, const QString& workingDirectory);
    plugin::PluginContext context;
    plugin::AttachmentPipeline pipeline;
    plugin::DocumentEditor editor;
};

// The bundle's QuillmoorDefaults.plist as the settings' registered defaults.
void registerBundleDefaults(platform::SettingsStore& settings, const platform::Bundle& bundle);

// Loads the plug-in into `host` the way the demo host does: defaults, the category's operations merged into
// the compose window class, send and close exchanged. The plug-in's own start-up sequence replaces this
// function once it exists; nothing else in the command-line host knows how loading is done.
// `workingDirectory` holds the plug-in's copies of attachments; each run has its own, so runs side by side
// never meet and nothing is left behind.
std::variant<std::unique_ptr<LoadedPlugin>, platform::Error> loadPlugin(host::Host& host,
                                                                       platform::SettingsStore& settings,
                                                                       const platform::Bundle& bundle,
                                                                       upload::ServiceRegistry& services,
                                                                       const QString& composeClassName,
                                                                       const QString& workingDirectory);

} // namespace qm::cli
