#include "desktop/desktop_host.h"

#include "host/interface_loading.h"
#include "host/selectors.h"
#include "platform/system_log.h"

#include <QCoreApplication>

namespace qm::desktop {

DesktopHost::DesktopHost() {
    host::InMemoryComposeClasses::define(
        runtime_, QString::fromLatin1(composeClassName),
        [this](host::InMemoryComposeWindow& window, const QVariant&) {
            if (const SendHandler send = sends_.value(&window))
                send(window);
        },
        [this](host::InMemoryComposeWindow& window, const QVariant&) { sends_.remove(&window); });
    host::Class* root = runtime_.classNamed(QStringLiteral("NSObject"));
    host::Class* mailBundle = runtime_.addClass(QStringLiteral("MVMailBundle"), root);
    mailBundle->addClassMethod(QString::fromLatin1(host::selectors::registerBundle),
                               [](const host::Invocation&) { return QVariant(); });
    preferences_ = std::make_unique<ui::PreferencesWindow>(runtime_);
    host::Class* app = runtime_.addClass(QStringLiteral("MailApp"), root);
    app->addInstanceMethod(QString::fromLatin1(host::selectors::showPreferencesPanel),
                           [this](const host::Invocation&) {
                               preferences_->showModule(nullptr);
                               return QVariant();
                           });
    // The host itself has no use for the URLs it is given; plug-ins put their handler in front of this one.
    app->addInstanceMethod(
        QStringLiteral("handleGURLAppleEvent:replyEvent:"), [](const host::Invocation& call) {
            platform::SystemLog::write(QStringLiteral("No handler for %1").arg(call.argument(0).toString()));
            return QVariant();
        });
    application_ = std::make_shared<host::Object>(*app);
    host::defineInterfaceLoadingClass(runtime_, ui_);
}

QString DesktopHost::urlHandlerCommand() const {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quillmoor open-url");
}

std::shared_ptr<host::InMemoryComposeWindow> DesktopHost::newComposeWindow(SendHandler send) {
    auto window = std::make_shared<host::InMemoryComposeWindow>(
        *runtime_.classNamed(QString::fromLatin1(composeClassName)));
    sends_.insert(window.get(), std::move(send));
    return window;
}

} // namespace qm::desktop
