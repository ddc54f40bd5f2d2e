#include "cli/compose_session.h"

#include "cli/cli_host.h"
#include "cli/interrupt_watcher.h"
#include "cli/plugin_loader.h"
#include "plugin/upload_controller.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThreadPool>
#include <QTimer>

namespace qm::cli {

namespace {

constexpr int kPollMilliseconds = 10;
// Judged quiet only when two checks in a row find nothing to wait for.
constexpr int kQuietChecks = 2;
constexpr int kPoolDrainMilliseconds = 60000;
constexpr char downloadBoxID[] = "QuillmoorAttachmentInfo";

bool hasDownloadBox(const host::InMemoryComposeWindow& window) {
    return !window.document()
                .nodesForXPath(QStringLiteral("//*[@id='%1']").arg(QLatin1String(downloadBoxID)))
                .isEmpty();
}

} // namespace

ComposeSession::ComposeSession(Environment& environment, const LoadedMessage& message,
                               std::optional<AnswerRole> answer, QString workingDirectory)
    : env_(environment)
    , message_(message)
    , answer_(answer)
    , workingDirectory_(std::move(workingDirectory)) {}

platform::Result<ComposeSession::Outcome> ComposeSession::pressSend() {
    Outcome outcome;
    TerminalUi ui(env_.bundle, {answer_, env_.promptFd, &env_.err, env_.errIsTerminal});
    CliHost host(
        ui,
        [&outcome, this](host::InMemoryComposeWindow& window, const QVariant&) {
            // The message leaves as it is at this moment; delivery follows once the plug-in is done.
            if (!outcome.outgoing)
                outcome.outgoing = OutgoingMessage::fromWindow(window, message_);
        },
        [&outcome] { outcome.preferencesRequested = true; });
    auto loaded = loadPlugin(host, env_.settings, env_.bundle, env_.services,
                             QString::fromLatin1(CliHost::composeClassName), workingDirectory_);
    if (!loaded)
        return loaded.error();
    const std::unique_ptr<LoadedPlugin> plugin = std::move(*loaded);

    const std::shared_ptr<host::InMemoryComposeWindow> window = host.newComposeWindow();
    message_.fill(*window);
    {
        QEventLoop loop;
        const auto finished = [&] {
            return outcome.outgoing || outcome.preferencesRequested || outcome.interrupted || ui.stop();
        };
        const auto busy = [&ui] {
            return ui.openSheetCount() > 0 || QThreadPool::globalInstance()->activeThreadCount() > 0;
        };
        InterruptWatcher interrupts([&] {
            if (ui.triggerPanelAction(QStringLiteral("cancelUpload:")))
                outcome.uploadCancelled = true;
            else
                outcome.interrupted = true;
        });
        int quietChecks = 0;
        bool pressedAgain = false;
        QTimer poll;
        poll.setInterval(kPollMilliseconds);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (finished()) {
                loop.quit();
                return;
            }
            if (busy()) {
                quietChecks = 0;
                return;
            }
            // What the pool handed back to the main thread is queued, not yet run: run it before judging.
            QCoreApplication::sendPostedEvents();
            if (finished() || busy()) {
                quietChecks = 0;
                return;
            }
            if (++quietChecks < kQuietChecks)
                return;
            if (!pressedAgain && hasDownloadBox(*window)) {
                pressedAgain = true;
                quietChecks = 0;
                window->invoke(QStringLiteral("send:"), {host::toVariant(window)});
                return;
            }
            loop.quit();
        });
        window->invoke(QStringLiteral("send:"), {host::toVariant(window)});
        // Below the threshold the host's send has run already: no poll interval to wait out.
        if (!finished()) {
            poll.start();
            loop.exec();
        }
    }
    // Read before the window closes, which ends its upload controller.
    if (plugin->pipeline().controllers().size() > 0) {
        const plugin::UploadController& controller =
            plugin->pipeline().controllers().uploadControllerForDelegate(window);
        for (const plugin::FileInfo& file : controller.fileStatsArray()) {
            const QUrl link = file.value(QString::fromLatin1(plugin::file_info::linkURL)).toUrl();
            if (!link.isEmpty())
                outcome.uploadedLinks.append(link);
        }
        outcome.service = plugin::UploadController::activeService(plugin->context());
    }
    // The window closes as after any send or cancel, so the plug-in lets go of it.
    window->invoke(QStringLiteral("windowWillClose:"), {QVariant()});
    // Work still on the pool (an interrupted compression) refers to the plug-in, which ends here; the plug-in
    // has nothing else to do, so waiting keeps nobody waiting.
    QThreadPool::globalInstance()->waitForDone(kPoolDrainMilliseconds);
    QCoreApplication::sendPostedEvents();

    outcome.stop = ui.stop();
    outcome.lastAnswer = ui.lastAnswer();
    outcome.uploadShown = ui.panelSheetsShown() > 0;
    return outcome;
}

} // namespace qm::cli
