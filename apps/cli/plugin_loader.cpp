#include "cli/plugin_loader.h"

#include "cli/cli_error.h"
#include "platform/property_list.h"

namespace qm::cli {

void registerBundleDefaults(platform::SettingsStore& settings, const platform::Bundle& bundle) {
    const auto defaults = platform::plist::readFile(
        bundle.pathForResource(QStringLiteral("QuillmoorDefaults"), QStringLiteral("plist")));
    settings.registerDefaults(defaults ? defaults->toMap() : QVariantMap());
}

platform::Result<std::unique_ptr<LoadedPlugin>>
loadPlugin(host::Host& host, platform::SettingsStore& settings, const platform::Bundle& bundle,
           upload::ServiceRegistry& services, const QString& composeClassName,
           const QString& workingDirectory) {
    auto plugin = std::make_unique<LoadedPlugin>(host, settings, bundle, services, workingDirectory);
    plugin->initialize();
    const host::Class* compose = host.runtime().classNamed(composeClassName);
    if (!compose ||
        !compose->instancesRespondTo(QString::fromLatin1(plugin::DocumentEditor::quillmoorSendSelector)))
        return cliError(PluginNotLoaded,
                        QStringLiteral("the plug-in could not be loaded into the compose window class %1")
                            .arg(composeClassName));
    return plugin;
}

} // namespace qm::cli
