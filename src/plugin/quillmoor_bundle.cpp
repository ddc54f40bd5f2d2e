#include "plugin/quillmoor_bundle.h"

#include "accounts/settings_keys.h"
#include "host/selectors.h"
#include "platform/dispatch.h"
#include "platform/property_list.h"
#include "platform/system_log.h"
#include "platform/url_scheme_handler.h"
#include "plugin/interface_localizer.h"
#include "plugin/texts.h"

#include <QDir>

namespace qm::plugin {

namespace sel = host::selectors;

QuillmoorBundle::QuillmoorBundle(host::Host& host, platform::SettingsStore& settings,
                                 const platform::Bundle& bundle, upload::ServiceRegistry& services,
                                 QString workingDirectory)
    : context_{host, settings, bundle, services}
    , classLookup_(host.runtime())
    , pipeline_(context_, workingDirectory)
    , editor_(context_, pipeline_)
    , urlHandler_(context_, linkingUploader_)
    , delegate_(context_, std::move(workingDirectory)) {}

QString QuillmoorBundle::composeWindowClassName(const QVersionNumber& systemVersion) {
    // Versions past 10.x count as later than 10.9, not by their minor number alone.
    const bool modern = systemVersion.majorVersion() > 10 || systemVersion.minorVersion() > 8;
    return modern ? QStringLiteral("DocumentEditor") : QStringLiteral("MailDocumentEditor");
}

QString QuillmoorBundle::supportDirectory() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString path = data + QStringLiteral("/quillmoor");
    QDir().mkpath(path);
    return path;
}

void QuillmoorBundle::initialize() {
    std::call_once(once_, [this] {
        registerBundleClass();
        const QString composeName = composeWindowClassName(context_.host.systemVersion());

        mergeCategory(editor_.defineCategoryClass(), composeName);
        mergeLocalizingLoaders();
        mergeCategory(urlHandler_.defineCategoryClass(), QStringLiteral("MailApp"));

        exchange(QStringLiteral("NSPreferences"), true, sel::sharedPreferences,
                 QStringLiteral("quillmoorSharedPreferences"));
        exchange(composeName, false, sel::send, QString::fromLatin1(DocumentEditor::quillmoorSendSelector));
        exchange(composeName, false, sel::windowWillClose,
                 QString::fromLatin1(DocumentEditor::quillmoorWindowWillCloseSelector));
        exchange(QStringLiteral("MailApp"), false, QString::fromLatin1(sel::handleGURLAppleEvent),
                 QString::fromLatin1(UrlHandler::quillmoorHandlerSelector));
        const QString loadingClass = QString::fromLatin1(host::interface_loading::className);
        exchange(loadingClass, true, QString::fromLatin1(host::interface_loading::loadNibFile),
                 QString::fromLatin1(LocalizingLoaders::loadNibFileSelector));
        exchange(loadingClass, true, QString::fromLatin1(host::interface_loading::loadNibNamed),
                 QString::fromLatin1(LocalizingLoaders::loadNibNamedSelector));

        claimUrlSchemes();
        if (host::Class* preferences = classLookup_.classFromString(QStringLiteral("NSPreferences")))
            preferences->invokeClassMethod(sel::sharedPreferences);
        registerDefaults();
        supportDirectory();

        delegate_.prepare();
        if (context_.host.staysOpen()) {
            platform::dispatch::after(
                5000, [this] { delegate_.showWelcome(); }, &timerContext_);
            platform::dispatch::after(
                10000, [this] { delegate_.checkForUpdate(); }, &timerContext_);
        }

        recordVersion();
        platform::SystemLog::write(QString::fromLatin1(texts::loadedBundle));
    });
}

void QuillmoorBundle::registerBundleClass() {
    host::Runtime& runtime = context_.host.runtime();
    host::Class* bundleClass = runtime.classNamed(QString::fromLatin1(className));
    if (!bundleClass) {
        bundleClass = runtime.addClass(QString::fromLatin1(className));
        bundleClass->addClassMethod(QStringLiteral("hasPreferencesPanel"),
                                    [](const host::Invocation&) { return QVariant(true); });
        bundleClass->addClassMethod(QStringLiteral("preferencesOwnerClassName"), [](const host::Invocation&) {
            return QVariant(QString::fromLatin1(preferencesOwnerClassName));
        });
        bundleClass->addClassMethod(QStringLiteral("preferencesPanelName"), [](const host::Invocation&) {
            return QVariant(QString::fromLatin1(preferencesPanelName));
        });
    }
    host::Class* mailBundle = classLookup_.classFromString(QStringLiteral("MVMailBundle"));
    if (mailBundle && bundleClass->superclass() != mailBundle)
        bundleClass->setSuperclass(mailBundle);
    bundleClass->invokeClassMethod(sel::registerBundle);
}

void QuillmoorBundle::mergeCategory(host::Class* category, const QString& targetName) {
    host::Class* target = classLookup_.classFromString(targetName);
    if (category && target)
        target->addMethodsFrom(*category);
}

void QuillmoorBundle::mergeLocalizingLoaders() {
    // Each of the plug-in's loaders ends in the host's other one: both are exchanged, or neither is merged.
    const host::Class* loading =
        classLookup_.classFromString(QString::fromLatin1(host::interface_loading::className));
    if (!loading ||
        !loading->respondsToClassMethod(QString::fromLatin1(host::interface_loading::loadNibNamed)) ||
        !loading->respondsToClassMethod(QString::fromLatin1(host::interface_loading::loadNibFile)))
        return;
    mergeCategory(LocalizingLoaders::defineCategoryClass(context_.host.runtime(), context_.bundle),
                  QString::fromLatin1(host::interface_loading::className));
}

void QuillmoorBundle::exchange(const QString& className, bool classMethod, const QString& hostSelector,
                               const QString& ownSelector) {
    host::Class* cls = classLookup_.classFromString(className);
    if (!cls)
        return;
    // An operation this build does not bring (or the host lacks) leaves the host's own in place.
    if (classMethod)
        cls->exchangeClassMethods(hostSelector, ownSelector);
    else
        cls->exchangeInstanceMethods(hostSelector, ownSelector);
}

void QuillmoorBundle::claimUrlSchemes() {
    const QString command = context_.host.urlHandlerCommand();
    if (command.isEmpty())
        return;
    const platform::UrlSchemeHandler::Application application{QStringLiteral("quillmoor.desktop"),
                                                              QStringLiteral("Quillmoor"), command};
    // The plug-in's own scheme, and the schemes of the services whose sign-in returns through one of theirs
    // (Dropbox's "db-" and its application key; none without a key).
    QStringList schemes{QString::fromLatin1(UrlHandler::ownScheme)};
    for (const upload::ServiceId id : upload::kAllServices)
        if (const upload::UploaderClass* service = context_.services.classForService(id))
            schemes.append(service->redirectSchemes());
    // xdg-mime runs a while; the host's start-up does not wait for it.
    platform::dispatch::onGlobalPool(
        [application, schemes, environment = QProcessEnvironment::systemEnvironment()] {
            if (const auto registered =
                    platform::UrlSchemeHandler::registerDefaultHandler(application, schemes, environment);
                !registered)
                platform::SystemLog::write(registered.error().localizedDescription);
        });
}

void QuillmoorBundle::registerDefaults() {
    const QString path =
        context_.bundle.pathForResource(QStringLiteral("QuillmoorDefaults"), QStringLiteral("plist"));
    if (path.isEmpty())
        return;
    if (const auto defaults = platform::plist::readFile(path))
        context_.settings.registerDefaults(defaults->toMap());
}

void QuillmoorBundle::recordVersion() {
    const QString running = context_.bundle.version();
    if (context_.settings.stringForKey(accounts::keys::version) != running)
        (void)context_.settings.setObject(running, accounts::keys::version);
}

} // namespace qm::plugin
