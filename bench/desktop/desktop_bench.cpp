// Measures the desktop host's main thread (the window must answer within 100 ms throughout a send):
//   desktop_bench CONFIG_DIR stall SIZE_MIB   the longest gap between 5 ms ticks of the main thread while a
//                                             message with one SIZE_MIB attachment is sent to the Generic
//                                             service on a local folder, from Send to delivery
//   desktop_bench CONFIG_DIR open MESSAGE     opening MESSAGE in a compose window, and pressing Send up to
//                                             the upload question
// CONFIG_DIR receives settings.plist (Generic linked to CONFIG_DIR/store, threshold 1 MB, ask first,
// send automatically), which `quillmoor send` reads too when QUILLMOOR_CONFIG_DIR names the folder.

#include "accounts/settings_keys.h"
#include "desktop/desktop_application.h"
#include "platform/secret_store.h"
#include "services/built_in_services.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

using namespace qm;

namespace {

QMessageBox* openAlert(QWidget* window) {
    for (QMessageBox* box : window->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: desktop_bench CONFIG_DIR stall SIZE_MIB | CONFIG_DIR open MESSAGE\n");
        return 2;
    }
    const QString config = QString::fromLocal8Bit(argv[1]);
    const QString mode = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(config + QStringLiteral("/store"));
    QDir().mkpath(config + QStringLiteral("/work"));
    platform::SettingsStore settings(config + QStringLiteral("/settings.plist"));
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials(secrets);
    const std::optional<platform::Bundle> bundle = platform::Bundle::locate();
    if (!bundle)
        return 2;
    const upload::ServiceEnvironment environment{settings, credentials, bundle->name()};
    upload::ServiceRegistry services(bundle->name());
    upload::registerBuiltInServices(services, environment, *bundle);
    namespace keys = accounts::keys;
    (void)settings.setInteger(9, QString::fromLatin1(keys::selectedService));
    (void)settings.setBool(true, QString::fromLatin1(keys::genericLinked));
    (void)settings.setObject(QStringLiteral("bench"), QString::fromLatin1(keys::genericLogin));
    (void)settings.setObject(QUrl::fromLocalFile(config + QStringLiteral("/store")).toString(),
                             QString::fromLatin1(keys::genericServer));
    (void)settings.setFloat(1.0, QString::fromLatin1(keys::minFileSize));
    (void)settings.setBool(true, QString::fromLatin1(keys::askBeforeUpload));
    (void)settings.setBool(true, QString::fromLatin1(keys::autoSendEmail));
    (void)settings.setBool(true, QStringLiteral("Welcome to Quillmoor"));
    // The start-up notices are modal: unanswered, they would hold every send longer than 5 seconds.
    (void)settings.setBool(true, QString::fromLatin1(keys::dontAskForPlugins));
    (void)settings.setBool(true, QString::fromLatin1(keys::suppressMissingManagerAlert));

    desktop::DeliverySettings delivery;
    delivery.destination.kind = cli::Destination::Kind::File;
    delivery.destination.file = config + QStringLiteral("/sent.eml");
    desktop::DesktopApplication application(
        {settings, services, *bundle, &credentials, delivery, config + QStringLiteral("/work"), nullptr});
    if (!application.start())
        return 1;
    desktop::ComposeWindow* window = application.newComposeWindow();
    window->resize(800, 600);

    if (mode == u"open") {
        QElapsedTimer timer;
        timer.start();
        if (auto opened = window->openDraft(QString::fromLocal8Bit(argv[3])); !opened) {
            std::fprintf(stderr, "%s\n", qPrintable(opened.error().localizedDescription));
            return 1;
        }
        window->show();
        QCoreApplication::processEvents();
        const qint64 openMs = timer.restart();
        window->send();
        if (!waitFor([&] { return openAlert(window) != nullptr; }, 120000))
            return 1;
        std::printf("open_ms %lld\nsend_to_sheet_ms %lld\n", openMs, timer.elapsed());
        return 0;
    }

    const qint64 size = QString::fromLocal8Bit(argv[3]).toLongLong() * 1024 * 1024;
    const QString attachment = config + QStringLiteral("/big.bin");
    {
        QFile file(attachment);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray block(1 << 20, 'q');
        for (qint64 written = 0; written < size; written += block.size())
            file.write(block);
    }
    window->from()->setText(QStringLiteral("bench@example.org"));
    window->to()->setText(QStringLiteral("peer@example.org"));
    window->subject()->setText(QStringLiteral("Large file"));
    window->body()->setHtml(QStringLiteral("<p>Here it is.</p>"));
    window->addAttachment(attachment);
    window->show();
    bool delivered = false;
    QObject::connect(window, &desktop::ComposeWindow::delivered, [&] { delivered = true; });

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticks;
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    ticks.start();
    window->send();
    if (!waitFor([&] { return openAlert(window) != nullptr; }, 60000))
        return 1;
    openAlert(window)->defaultButton()->click();
    const bool done = waitFor([&] { return delivered; }, 30 * 60 * 1000);
    ticks.stop();
    std::printf("size_mib %lld\nsend_seconds %.2f\nlongest_main_thread_stall_ms %lld\n", size >> 20,
                clock.elapsed() / 1000.0, longest);
    QFile::remove(attachment);
    QDir(config + QStringLiteral("/store")).removeRecursively();
    return done ? 0 : 1;
}
