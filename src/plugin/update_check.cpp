#include "plugin/update_check.h"

#include "accounts/settings_keys.h"
#include "platform/dispatch.h"
#include "platform/property_list.h"
#include "platform/string_format.h"
#include "platform/system_log.h"
#include "plugin/texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

namespace qm::plugin {

namespace {

const QString managerName = QStringLiteral("Mail Plugin Manager.app");
const QString toolName = QStringLiteral("MailPluginTool");

QString dataHome() {
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    return data.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : data;
}

// An application installed by a desktop entry lives where the entry's working directory says.
QString desktopEntryFolder(const QString& entryPath) {
    QFile entry(entryPath);
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inMainGroup = false;
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(u'['))
            inMainGroup = line == u"[Desktop Entry]";
        else if (inMainGroup && line.startsWith(u"Path="))
            return line.mid(5).trimmed();
    }
    return {};
}

// Shown from the event loop, after the timer has returned; the context outlives every queued report.
void reportMissingTool(PluginContext& context) {
    const platform::Bundle& bundle = context.bundle;
    const QString name = bundle.name();
    host::AlertRequest request;
    request.title = platform::formatString(
        bundle.localized(QString::fromUtf8(texts::updateManagerMissingTitle)), {name, name});
    request.informativeText = bundle.localized(QString::fromUtf8(texts::updateManagerMissingMessage));
    request.iconPath = bundle.pathForResource(QStringLiteral("Quillmoor"), QStringLiteral("png"));
    request.defaultButton = bundle.localized(QString::fromLatin1(texts::download));
    request.alternateButton = bundle.localized(QString::fromLatin1(texts::cancel));
    request.showsSuppressionButton = true;
    const host::AlertResponse response = context.host.ui().runModalAlert(request);
    if (response.returnCode == host::AlertDefaultReturn)
        context.host.ui().openUrl(QUrl(QString::fromLatin1(UpdateCheck::managerDownloadAddress)));
    if (response.suppressionChecked)
        (void)context.settings.setBool(true,
                                       QString::fromLatin1(accounts::keys::suppressMissingManagerAlert));
}

} // namespace

UpdateToolLocations UpdateToolLocations::system() {
    UpdateToolLocations locations;
    locations.applicationsFolder = QStringLiteral("/opt");
    locations.libraryFolder = dataHome();
    locations.desktopEntryFolders.append(dataHome() + QStringLiteral("/applications"));
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& folder : dataDirs.split(u':', Qt::SkipEmptyParts))
        locations.desktopEntryFolders.append(folder + QStringLiteral("/applications"));
    return locations;
}

QString UpdateCheck::applicationForIdentifier(const QString& identifier) const {
    for (const QString& folder : locations_.desktopEntryFolders) {
        const QString entry = folder + u'/' + identifier + QStringLiteral(".desktop");
        if (QFileInfo(entry).isFile())
            return entry;
    }
    return {};
}

QString UpdateCheck::locateManager() const {
    const QString local = locations_.applicationsFolder + u'/' + managerName;
    if (QFileInfo(local).isDir())
        return local;
    const QString entry =
        applicationForIdentifier(QString::fromLatin1(vendorPrefix) + QStringLiteral("MailPluginManager"));
    return entry.isEmpty() ? QString() : desktopEntryFolder(entry);
}

QString UpdateCheck::locateTool() const {
    const QString tool = applicationForIdentifier(QString::fromLatin1(vendorPrefix) + toolName);
    if (!tool.isEmpty())
        return tool;
    const QString manager = locateManager();
    if (manager.isEmpty())
        return {};
    const QString bundled =
        manager + QStringLiteral("/Contents/Resources/") + QStringLiteral("%1.app").arg(toolName);
    return QFileInfo::exists(bundled) ? bundled : QString();
}

void UpdateCheck::checkForUpdate() const {
    if (context_.bundle.bundlePath().isEmpty()) {
        platform::SystemLog::write(QString::fromLatin1(texts::updateNilBundle));
        return;
    }
    if (locateTool().isEmpty()) {
        platform::SystemLog::write(QString::fromLatin1(texts::updateToolNotFound));
        if (!context_.settings.boolForKey(QString::fromLatin1(accounts::keys::suppressMissingManagerAlert)))
            platform::dispatch::onMain([&context = context_] { reportMissingTool(context); });
        return;
    }
    writeActionFile();
}

QString UpdateCheck::writeActionFile() const {
    const bool beta = context_.settings.boolForKey(QString::fromLatin1(accounts::keys::downloadBetaUpdates));
    const QVariantMap action{
        {QStringLiteral("action"), QStringLiteral("-update")},
        {QStringLiteral("plugin-path"), context_.bundle.bundlePath()},
        {QStringLiteral("-sparkle-value"),
         QVariantMap{{QStringLiteral("beta"), beta ? QStringLiteral("1") : QStringLiteral("0")}}},
    };
    const QString folder = locations_.libraryFolder + QStringLiteral("/Mail/MPT");
    // Only the last folder is made: the tool owns "Mail" and makes it when it is installed.
    if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder)) {
        platform::SystemLog::write(QString::fromLatin1(texts::updateFolderMissing));
        return {};
    }
    const QString path = folder + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                         QStringLiteral(".mtperform");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(platform::plist::toXml(action)) < 0 || !file.flush()) {
        file.close();
        file.remove();
        platform::SystemLog::write(QString::fromLatin1(texts::updateFileNotWritten));
        return {};
    }
    return path;
}

} // namespace qm::plugin
