#pragma once

#include "host/runtime.h"
#include "ui/preference_module.h"

namespace qm::ui {

// Gives the runtime the plug-in's preference module class "RVQuillmoorPreferenceModule" (its shared
// instance stands for `module`) and merges the controller category "RVQuillmoorPreferences" into the
// host's preferences controller class. Once start-up has exchanged the controller's shared-instance
// accessor with the category's, every call of it attaches the page the first time it finds a controller:
// the module under the name "Quillmoor" unless "_preferenceModules" has it, and a toolbar item of that
// identifier on "_preferencesPanel" unless one is there. Hosts call this before the plug-in starts.
void definePreferenceClasses(host::Runtime& runtime, PreferenceModule& module);

} // namespace qm::ui
