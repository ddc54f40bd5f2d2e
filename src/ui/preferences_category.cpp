#include "ui/preferences_category.h"

#include "host/selectors.h"
#include "ui/preferences_window.h"
#include "ui/qt_ui_services.h"

#include <QAction>

namespace qm::ui {

namespace sel = host::selectors;

namespace {

constexpr char panelName[] = "Quillmoor";
constexpr char moduleClassName[] = "RVQuillmoorPreferenceModule";
constexpr char categoryClassName[] = "RVQuillmoorPreferences";
constexpr char ownAccessor[] = "quillmoorSharedPreferences";

class ModuleObject final : public host::Object {
public:
    ModuleObject(host::Class& moduleClass, PreferenceModule& module)
        : host::Object(moduleClass)
        , module(module) {}
    PreferenceModule& module;
};

PreferenceModule& moduleOf(const host::Invocation& call) {
    return static_cast<ModuleObject*>(call.self)->module;
}

void attachPage(const host::ObjectPtr& controller, const host::ObjectPtr& module) {
    const QVariantMap modules =
        controller->invoke(QString::fromLatin1(sel::valueForKey), {QStringLiteral("_preferenceModules")})
            .toMap();
    if (!modules.contains(QString::fromLatin1(panelName)))
        controller->invoke(QString::fromLatin1(sel::addPreferenceNamed),
                           {QString::fromLatin1(panelName), host::toVariant(module)});
    const host::ObjectPtr panel = host::toObject(
        controller->invoke(QString::fromLatin1(sel::valueForKey), {QStringLiteral("_preferencesPanel")}));
    auto* window = qobject_cast<QMainWindow*>(widgetOfWindow(panel));
    auto* toolbar = window ? window->findChild<QToolBar*>() : nullptr;
    if (!toolbar)
        return;
    for (QAction* item : toolbar->actions())
        if (item->objectName() == QLatin1String(panelName))
            return;
    QAction* item = toolbar->addAction(QString::fromLatin1(panelName));
    item->setObjectName(QString::fromLatin1(panelName));
    QObject::connect(item, &QAction::triggered, window, [controller, module] {
        controller->invoke(QString::fromLatin1(sel::showPreferencesPanelForOwner), {host::toVariant(module)});
    });
}

} // namespace

void definePreferenceClasses(host::Runtime& runtime, PreferenceModule& module) {
    host::Class* root = runtime.classNamed(QStringLiteral("NSObject"));
    host::Class* moduleClass = runtime.addClass(QString::fromLatin1(moduleClassName), root);
    if (!moduleClass)
        return;
    const auto shared = std::make_shared<ModuleObject>(*moduleClass, module);
    moduleClass->addClassMethod(QStringLiteral("sharedInstance"),
                                [weak = std::weak_ptr<ModuleObject>(shared)](const host::Invocation&) {
                                    return host::toVariant(weak.lock());
                                });
    moduleClass->addInstanceMethod(QStringLiteral("view"), [](const host::Invocation& call) {
        return QVariant::fromValue<QObject*>(moduleOf(call).view());
    });
    moduleClass->addInstanceMethod(QStringLiteral("willBeDisplayed"), [](const host::Invocation& call) {
        moduleOf(call).willBeDisplayed();
        return QVariant();
    });
    moduleClass->addInstanceMethod(QStringLiteral("updateUI"), [](const host::Invocation& call) {
        moduleOf(call).updateUI();
        return QVariant();
    });
    moduleClass->addInstanceMethod(QStringLiteral("preferencesNibName"), [](const host::Invocation&) {
        return QVariant(QString::fromLatin1(PreferenceModule::nibName));
    });
    moduleClass->addInstanceMethod(QStringLiteral("isResizable"),
                                   [](const host::Invocation&) { return QVariant(false); });
    moduleClass->addInstanceMethod(QStringLiteral("preferencesWindowShouldClose"),
                                   [](const host::Invocation&) { return QVariant(true); });

    host::Class* category = runtime.addClass(QString::fromLatin1(categoryClassName), root);
    const auto attached = std::make_shared<bool>(false);
    // The module object lives as long as the accessor that hands it out.
    category->addClassMethod(
        QString::fromLatin1(ownAccessor), [attached, shared, &module](const host::Invocation& call) {
            // After the exchange this name runs the host's own accessor.
            const host::ObjectPtr controller =
                host::toObject(call.receiverClass.invokeClassMethod(QString::fromLatin1(ownAccessor)));
            if (controller && !*attached) {
                *attached = true;
                module.preferencesWindow = host::toObject(controller->invoke(
                    QString::fromLatin1(sel::valueForKey), {QStringLiteral("_preferencesPanel")}));
                attachPage(controller, shared);
            }
            return host::toVariant(controller);
        });
    category->addInstanceMethod(QStringLiteral("quillmoorPreferenceWindow"),
                                [](const host::Invocation& call) {
                                    return call.self->invoke(QString::fromLatin1(sel::valueForKey),
                                                             {QStringLiteral("_preferencesPanel")});
                                });
    category->addInstanceMethod(
        QStringLiteral("quillmoorClosePreferences"), [](const host::Invocation& call) {
            if (QWidget* window = widgetOfWindow(host::toObject(call.self->invoke(
                    QString::fromLatin1(sel::valueForKey), {QStringLiteral("_preferencesPanel")}))))
                window->close();
            return QVariant();
        });
    if (host::Class* controllerClass =
            runtime.classNamed(QString::fromLatin1(PreferencesWindow::controllerClassName)))
        controllerClass->addMethodsFrom(*category);
}

} // namespace qm::ui
