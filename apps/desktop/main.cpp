// quillmoor-mail: the desktop host. A compose window (a new message, or the draft named on the command
// line) with the plug-in loaded; the message leaves as `quillmoor send` would send it.
//
//   quillmoor-mail [--out FILE | --smtp URL | --sendmail] [MESSAGE.eml]

#include "accounts/credential_store.h"
#include "desktop/desktop_application.h"
#include "platform/bundle.h"
#include "platform/secret_service_store.h"
#include "platform/settings_store.h"
#include "platform/system_log.h"
#include "platform/url_relay.h"
#include "services/built_in_services.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    using namespace qm;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillmoor-mail"));
    // Closing the last compose window leaves the process running: the preferences window may still be open.
    QApplication::setQuitOnLastWindowClosed(true);

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("out"), QStringLiteral("Write sent messages to FILE."), QStringLiteral("FILE")});
    parser.addOption(
        {QStringLiteral("smtp"), QStringLiteral("Submit sent messages to URL."), QStringLiteral("URL")});
    parser.addOption({QStringLiteral("sendmail"), QStringLiteral("Hand sent messages to sendmail.")});
    parser.addPositionalArgument(QStringLiteral("message"), QStringLiteral("A draft to open."));
    parser.process(app);

    const std::optional<platform::Bundle> bundle = platform::Bundle::locate();
    if (!bundle) {
        QMessageBox::critical(
            nullptr, QStringLiteral("Quillmoor"),
            QStringLiteral("The Quillmoor.bundle resources were not found (QUILLMOOR_BUNDLE names them)."));
        return 2;
    }
    platform::SettingsStore& settings = platform::SettingsStore::standard();
    platform::SecretServiceStore secrets;
    accounts::CredentialStore credentials(secrets);
    const upload::ServiceEnvironment environment{settings, credentials, bundle->name()};
    upload::ServiceRegistry services(bundle->name());
    upload::registerBuiltInServices(services, environment, *bundle);

    desktop::DeliverySettings delivery;
    delivery.credentials = &credentials;
    if (parser.isSet(QStringLiteral("out"))) {
        delivery.destination.kind = cli::Destination::Kind::File;
        delivery.destination.file = parser.value(QStringLiteral("out"));
    } else if (parser.isSet(QStringLiteral("smtp"))) {
        delivery.destination.kind = cli::Destination::Kind::Smtp;
        delivery.destination.smtp = QUrl(parser.value(QStringLiteral("smtp")));
    } else {
        delivery.destination.kind = cli::Destination::Kind::Sendmail;
    }
    // The plug-in's copies of attachments live in a folder of this process alone.
    QTemporaryDir work(QDir::temp().filePath(QStringLiteral("quillmoor-mail-work-XXXXXX")));
    desktop::DesktopApplication application(
        {settings, services, *bundle, &credentials, delivery, work.path(), nullptr});
    if (auto started = application.start(); !started) {
        QMessageBox::critical(nullptr, QStringLiteral("Quillmoor"), started.error().localizedDescription);
        return 1;
    }
    // Sign-ins that come back through the browser reach this process through `quillmoor open-url`.
    platform::UrlRelay relay([&application](const QString& url) { application.handleUrl(QUrl(url)); });
    if (auto listening = relay.listen(); !listening)
        platform::SystemLog::write(QStringLiteral("Quillmoor: browser sign-ins cannot come back here: %1")
                                       .arg(listening.error().localizedDescription));
    desktop::ComposeWindow* window = application.newComposeWindow();
    if (!parser.positionalArguments().isEmpty())
        if (auto opened = window->openDraft(parser.positionalArguments().constFirst()); !opened) {
            QMessageBox::critical(nullptr, QStringLiteral("Quillmoor"), opened.error().localizedDescription);
            return 2;
        }
    window->resize(760, 620);
    window->show();
    return QApplication::exec();
}
