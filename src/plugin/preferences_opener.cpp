#include "plugin/preferences_opener.h"

#include "host/application.h"

namespace qm::plugin {

void showPluginPreferences(const PluginContext& context) {
    host::Application(context.host.application()).showPreferencesPanel();
    // The page's owner is the plug-in's preference module, when this build and host have one.
    const host::Class* moduleClass =
        context.host.runtime().classNamed(QStringLiteral("RVQuillmoorPreferenceModule"));
    const host::ObjectPtr module =
        moduleClass ? host::toObject(moduleClass->invokeClassMethod(QStringLiteral("sharedInstance")))
                    : nullptr;
    host::PreferencesController::shared(context.host.runtime()).showPreferencesPanelForOwner(module);
}

} // namespace qm::plugin
