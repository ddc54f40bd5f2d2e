#include "ui/preferences_window.h"

#include "host/selectors.h"
#include "ui/qt_ui_services.h"

#include <QCloseEvent>

namespace qm::ui {

namespace sel = host::selectors;

namespace {

QWidget* pageOf(const host::ObjectPtr& owner) {
    return owner ? qobject_cast<QWidget*>(owner->invoke(QStringLiteral("view")).value<QObject*>()) : nullptr;
}

} // namespace

PreferencesWindow::PreferencesWindow(host::Runtime& runtime, QWidget* parent)
    : QMainWindow(parent)
    , runtime_(runtime)
    , toolbar_(addToolBar(QStringLiteral("Preferences")))
    , pages_(new QStackedWidget(this)) {
    setWindowTitle(tr("Preferences"));
    toolbar_->setMovable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setCentralWidget(pages_);
    window_ = ui::windowObject(runtime, this);

    host::Class* root = runtime.classNamed(QStringLiteral("NSObject"));
    host::Class* controllerClass = runtime.addClass(QString::fromLatin1(controllerClassName), root);
    controller_ = std::make_shared<host::Object>(*controllerClass);
    controllerClass->addClassMethod(
        QString::fromLatin1(sel::sharedPreferences),
        [controller = std::weak_ptr<host::Object>(controller_)](const host::Invocation&) {
            return host::toVariant(controller.lock());
        });
    controllerClass->addInstanceMethod(
        QString::fromLatin1(sel::addPreferenceNamed), [this](const host::Invocation& call) {
            addModule(call.argument(0).toString(), host::toObject(call.argument(1)));
            return QVariant();
        });
    controllerClass->addInstanceMethod(QString::fromLatin1(sel::showPreferencesPanelForOwner),
                                       [this](const host::Invocation& call) {
                                           showModule(host::toObject(call.argument(0)));
                                           return QVariant();
                                       });
    controllerClass->addInstanceMethod(QString::fromLatin1(sel::valueForKey),
                                       [this](const host::Invocation& call) {
                                           const QString key = call.argument(0).toString();
                                           if (key == u"_preferencesPanel")
                                               return host::toVariant(window_);
                                           if (key == u"_preferenceModules")
                                               return QVariant(modules());
                                           return QVariant();
                                       });
    controllerClass->addInstanceMethod(QString::fromLatin1(sel::window),
                                       [this](const host::Invocation&) { return host::toVariant(window_); });
}

QVariantMap PreferencesWindow::modules() const {
    QVariantMap map;
    for (const auto& [name, owner] : modules_)
        map.insert(name, host::toVariant(owner));
    return map;
}

void PreferencesWindow::addModule(const QString& name, const host::ObjectPtr& owner) {
    for (const auto& module : std::as_const(modules_))
        if (module.first == name)
            return;
    modules_.append({name, owner});
    QAction* item = toolbar_->addAction(name);
    item->setObjectName(name);
    connect(item, &QAction::triggered, this, [this, owner] { showModule(owner); });
}

void PreferencesWindow::showModule(const host::ObjectPtr& owner) {
    host::ObjectPtr shown = owner;
    if (!shown && !modules_.isEmpty())
        shown = modules_.first().second;
    if (QWidget* page = pageOf(shown)) {
        if (pages_->indexOf(page) < 0)
            pages_->addWidget(page);
        shown->invoke(QStringLiteral("willBeDisplayed"));
        pages_->setCurrentWidget(page);
        current_ = shown;
    }
    show();
    raise();
    activateWindow();
}

void PreferencesWindow::closeEvent(QCloseEvent* event) {
    const QVariant mayClose =
        current_ ? current_->invoke(QStringLiteral("preferencesWindowShouldClose")) : QVariant(true);
    if (mayClose.isValid() && !mayClose.toBool())
        event->ignore();
    else
        QMainWindow::closeEvent(event);
}

} // namespace qm::ui
