#include "cli/plugin_loader.h"

#include "cli/cli_error.h"
#include "platform/property_list.h"

namespace qm::cli {

LoadedPlugin::LoadedPlugin(host::Host& host, platform::SettingsStore& settings, const platform::Bundle& bundle,
                           upload::ServiceRegistry& services, const QString& workingDirectory)
    : context{host, settings, bundle, services}
    , pipeline(context, workingDirectory)
    , editor(context, pipeline) {}

void registerBundleDefaults(platform::SettingsStore& settings, const platform::Bundle& bundle) {
    const auto defaults =
        platform::plist::readFile(bundle.pathForResource(QStringLiteral("QuillmoorDefaults"), QStringLiteral("plist")));
    settings.registerDefaults(defaults ? defaults->toMap() : QVariantMap());
}

std::variant<std::unique_ptr<LoadedPlugin>, platform::Error> loadPlugin(host::Host& host,
                                                                       platform::SettingsStore& settings,
                                                                       const platform::Bundle& bundle,
                                                                       upload::ServiceRegistry& services,
                                                                       const QString& composeClassName,
                                                                       const QString& workingDirectory) {
    registerBundleDefaults(settings, bundle);

    auto plugin = std::make_unique<LoadedPlugin>(host, settings, bundle, services, workingDirectory);
    host::Class* category = plugin->editor.defineCategoryClass();
    host::Class* compose = host.runtime().classNamed(composeClassName);
    const auto failed = [&composeClassName] {
        return cliError(PluginNotLoaded, QStringLiteral("the plug-in could not be loaded into the compose window class %1")
                                             .arg(composeClassName));
    };
    if (!category || !compose)
        return failed();
    compose->addMethodsFrom(*category);
    if (!compose->exchangeInstanceMethods(QStringLiteral("send:"),
                                          QString::fromLatin1(plugin::DocumentEditor::quillmoorSendSelector)) ||
        !compose->exchangeInstanceMethods(QStringLiteral("windowWillClose:"),
                                          QString::fromLatin1(plugin::DocumentEditor::quillmoorWindowWillCloseSelector)))
        return failed();
    return plugin;
}

} // namespace qm::cli
