#include "cli/cli_host.h"

#include "host/interface_loading.h"
#include "host/selectors.h"

namespace qm::cli {

CliHost::CliHost(TerminalUi& ui, host::InMemoryComposeClasses::WindowAction send,
                 std::function<void()> preferencesRequested)
    : ui_(ui) {
    host::InMemoryComposeClasses::define(runtime_, QString::fromLatin1(composeClassName), std::move(send),
                                         [](host::InMemoryComposeWindow&, const QVariant&) {});
    host::Class* root = runtime_.classNamed(QStringLiteral("NSObject"));
    // Plug-in bundles register with the host's bundle class; this host keeps no list of them.
    host::Class* mailBundle = runtime_.addClass(QStringLiteral("MVMailBundle"), root);
    mailBundle->addClassMethod(QString::fromLatin1(host::selectors::registerBundle),
                               [](const host::Invocation&) { return QVariant(); });
    host::Class* app = runtime_.addClass(QStringLiteral("MailApp"), root);
    app->addInstanceMethod(QString::fromLatin1(host::selectors::showPreferencesPanel),
                           [preferencesRequested = std::move(preferencesRequested)](const host::Invocation&) {
                               if (preferencesRequested)
                                   preferencesRequested();
                               return QVariant();
                           });
    // The host's own handler: this host has no use for addresses of other schemes.
    app->addInstanceMethod(
        QString::fromLatin1(host::selectors::handleGURLAppleEvent), [this](const host::Invocation& call) {
            ui_.print(QStringLiteral("quillmoor: %1 is not a sign-in address; it is ignored\n")
                          .arg(call.argument(0).toString()));
            return QVariant();
        });
    application_ = std::make_shared<host::Object>(*app);
    host::defineInterfaceLoadingClass(runtime_, ui_);
}

std::shared_ptr<host::InMemoryComposeWindow> CliHost::newComposeWindow() {
    return std::make_shared<host::InMemoryComposeWindow>(
        *runtime_.classNamed(QString::fromLatin1(composeClassName)));
}

} // namespace qm::cli
