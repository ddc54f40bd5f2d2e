#pragma once

#include "plugin/plugin_context.h"

namespace qm::plugin {

// Opens the host's preferences window on the plug-in's page.
void showPluginPreferences(const PluginContext& context);

} // namespace qm::plugin
