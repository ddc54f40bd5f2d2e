#include "plugin/other_plugins_notice.h"

#include "accounts/settings_keys.h"
#include "platform/property_list.h"
#include "plugin/texts.h"

#include <QRandomGenerator>

namespace qm::plugin {

QVariantList OtherPluginsNotice::missingPlugins() const {
    const auto info = platform::plist::readFile(
        context_.bundle.pathForResource(QStringLiteral("RovendalPluginInfo"), QStringLiteral("plist")));
    if (!info)
        return {};
    QVariantList missing;
    for (const QVariant& entry : info->toMap().value(QStringLiteral("RovendalPlugins")).toList()) {
        const QString pluginClass = entry.toMap().value(QStringLiteral("pluginClass")).toString();
        if (!pluginClass.isEmpty() && !context_.host.runtime().classNamed(pluginClass))
            missing.append(entry);
    }
    return missing;
}

void OtherPluginsNotice::checkForRovendalPlugins() {
    if (done_)
        return;
    done_ = true;
    const QVariantList missing = missingPlugins();
    if (missing.isEmpty() ||
        context_.settings.boolForKey(QString::fromLatin1(accounts::keys::dontAskForPlugins)))
        return;
    const quint32 number = random ? random() : QRandomGenerator::system()->generate();
    const QVariantMap entry = missing.at(static_cast<qsizetype>(number % missing.size())).toMap();
    const platform::Bundle& bundle = context_.bundle;
    host::AlertRequest request;
    request.title = bundle.localized(QString::fromLatin1(title));
    request.informativeText = bundle.localized(QString::fromLatin1(messageFormat))
                                  .arg(entry.value(QStringLiteral("name")).toString(),
                                       entry.value(QStringLiteral("description")).toString());
    request.defaultButton = bundle.localized(QString::fromLatin1(texts::yes));
    request.alternateButton = bundle.localized(QString::fromLatin1(texts::notNow));
    request.showsSuppressionButton = true;
    // Only an icon already on this machine: fetching one from the web would hold up the main thread.
    const QUrl icon(entry.value(QStringLiteral("iconURL")).toString());
    request.iconPath = icon.isLocalFile()
                           ? icon.toLocalFile()
                           : bundle.pathForResource(QStringLiteral("Quillmoor"), QStringLiteral("png"));
    const host::AlertResponse response = context_.host.ui().runModalAlert(request);
    (void)context_.settings.setBool(response.suppressionChecked,
                                    QString::fromLatin1(accounts::keys::dontAskForPlugins));
    if (response.returnCode == host::AlertDefaultReturn)
        context_.host.ui().openUrl(QUrl(entry.value(QStringLiteral("productURL")).toString()));
}

} // namespace qm::plugin
