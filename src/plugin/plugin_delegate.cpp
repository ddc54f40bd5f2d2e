#include "plugin/plugin_delegate.h"

#include "accounts/settings_keys.h"
#include "plugin/active_service.h"
#include "plugin/alert_panel.h"
#include "plugin/preferences_opener.h"
#include "plugin/texts.h"
#include "uploaders/service_id.h"

#include <QDirIterator>
#include <QFile>

namespace qm::plugin {

PluginDelegate::PluginDelegate(PluginContext& context, QString workingDirectory,
                               UpdateToolLocations updateTool)
    : context_(context)
    , workingDirectory_(std::move(workingDirectory))
    , updateCheck_(context, std::move(updateTool)) {}

void PluginDelegate::prepare() {
    if (prepared_)
        return;
    prepared_ = true;
    initializeCloudServices();
    cleanTemporaryDirectory();
    seedTemplate();
}

void PluginDelegate::initializeCloudServices() const {
    if (!context_.host.staysOpen())
        return;
    for (const upload::ServiceId id : upload::kAllServices)
        if (upload::UploaderClass* service = context_.services.classForService(id))
            service->prepareAtStartup();
}

void PluginDelegate::cleanTemporaryDirectory() const {
    if (workingDirectory_.isEmpty())
        return;
    // Folders stay; every file below them goes. The folder is the plug-in's own, so nothing else is touched.
    QDirIterator it(workingDirectory_, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::remove(it.next());
}

void PluginDelegate::seedTemplate() const {
    if (context_.settings.objectForKey(accounts::keys::infoBoxTemplate))
        return;
    QFile resource(
        context_.bundle.pathForResource(QStringLiteral("DefaultTemplate"), QStringLiteral("html")));
    if (resource.open(QIODevice::ReadOnly))
        (void)context_.settings.setObject(QString::fromUtf8(resource.readAll()),
                                          accounts::keys::infoBoxTemplate);
}

void PluginDelegate::showWelcome() const {
    if (selectedService(context_.settings) != upload::ServiceId::None)
        return;
    const platform::Bundle& bundle = context_.bundle;
    const int answer =
        runAlertPanelWithCheckbox(context_, bundle.localized(QString::fromLatin1(welcomeTitle)),
                                  bundle.localized(QString::fromLatin1(texts::welcomeMessage)),
                                  bundle.localized(QString::fromLatin1(texts::yes)),
                                  bundle.localized(QString::fromLatin1(texts::notNow)));
    if (answer == host::AlertDefaultReturn)
        showPluginPreferences(context_);
}

} // namespace qm::plugin
