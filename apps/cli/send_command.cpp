#include "cli/send_command.h"

#include "cli/cli_error.h"
#include "cli/cli_host.h"
#include "cli/cli_texts.h"
#include "cli/exit_status.h"
#include "cli/interrupt_watcher.h"
#include "cli/message_loader.h"
#include "cli/message_writer.h"
#include "cli/outgoing_message.h"
#include "cli/plugin_loader.h"
#include "cli/sendmail_submitter.h"
#include "cli/smtp_submitter.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

namespace qm::cli {

namespace {

constexpr int kPollMilliseconds = 10;
constexpr int kPoolDrainMilliseconds = 60000;
constexpr char downloadBoxID[] = "QuillmoorAttachmentInfo";

bool hasDownloadBox(const host::InMemoryComposeWindow& window) {
    return !window.document()
                .nodesForXPath(QStringLiteral("//*[@id='%1']").arg(QLatin1String(downloadBoxID)))
                .isEmpty();
}

// How the plug-in's part of the run ended.
struct RunOutcome {
    std::optional<OutgoingMessage> outgoing;
    bool preferencesRequested = false;
    bool interrupted = false;
    bool uploadCancelled = false;
};

} // namespace

SendCommand::SendCommand(Environment& environment) : env_(environment) {}

void SendCommand::report(const QString& text) { env_.err.write((QStringLiteral("quillmoor: ") + text + u'\n').toUtf8()); }

int SendCommand::run(const CommandLine& line) {
    // Decoded attachments and a spooled standard input live here, readable by the user alone.
    QTemporaryDir scratch(QDir::temp().filePath(QStringLiteral("quillmoor-send-XXXXXX")));
    if (!scratch.isValid()) {
        report(QStringLiteral("cannot make a temporary folder: %1").arg(scratch.errorString()));
        return ExitNotSent;
    }
    QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString attachmentFolder = scratch.filePath(QStringLiteral("attachments"));
    const QString workingDirectory = scratch.filePath(QStringLiteral("work"));
    if (!QDir().mkpath(attachmentFolder) || !QDir().mkpath(workingDirectory)) {
        report(QStringLiteral("cannot make folders in %1").arg(scratch.path()));
        return ExitNotSent;
    }

    QString messagePath = line.message;
    if (messagePath == u"-") {
        messagePath = scratch.filePath(QStringLiteral("message.eml"));
        if (const auto error = MessageLoader::spool(env_.inputFd, messagePath)) {
            report(error->localizedDescription);
            return ExitUsage;
        }
    }
    if (line.destination.kind == Destination::Kind::File && line.message != u"-") {
        const QString input = QFileInfo(line.message).canonicalFilePath();
        if (!input.isEmpty() && QFileInfo(line.destination.file).canonicalFilePath() == input) {
            report(QStringLiteral("--out names the message file itself, which is never modified"));
            return ExitUsage;
        }
    }

    auto loadedOrError = MessageLoader(attachmentFolder).load(messagePath);
    if (const auto* error = std::get_if<platform::Error>(&loadedOrError)) {
        report(error->localizedDescription);
        return ExitUsage;
    }
    const LoadedMessage& loaded = std::get<LoadedMessage>(loadedOrError);
    for (const QString& warning : loaded.warnings)
        report(QStringLiteral("warning: %1").arg(warning));
    if (line.destination.kind == Destination::Kind::Smtp && (loaded.sender.isEmpty() || loaded.envelopeRecipients.isEmpty())) {
        report(loaded.sender.isEmpty() ? QStringLiteral("the message has no From address to submit it from")
                                       : QStringLiteral("the message has no recipient"));
        return ExitUsage;
    }

    RunOutcome outcome;
    TerminalUi ui(env_.bundle, {line.answer, env_.promptFd, &env_.err, env_.errIsTerminal});
    CliHost host(
        ui,
        [&outcome, &loaded](host::InMemoryComposeWindow& window, const QVariant&) {
            // The message leaves as it is at this moment; delivery follows once the plug-in is done.
            if (!outcome.outgoing)
                outcome.outgoing = OutgoingMessage::fromWindow(window, loaded);
        },
        [&outcome] { outcome.preferencesRequested = true; });
    auto pluginOrError = loadPlugin(host, env_.settings, env_.bundle, env_.services,
                                    QString::fromLatin1(CliHost::composeClassName), workingDirectory);
    if (const auto* error = std::get_if<platform::Error>(&pluginOrError)) {
        report(error->localizedDescription);
        return ExitNotSent;
    }
    const std::unique_ptr<LoadedPlugin> plugin = std::move(std::get<std::unique_ptr<LoadedPlugin>>(pluginOrError));

    const std::shared_ptr<host::InMemoryComposeWindow> window = host.newComposeWindow();
    loaded.fill(*window);

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
            if (++quietChecks < 2)
                return;
            // Links are in but the plug-in does not send by itself (QuillmoorAutoSendEmail is NO): the
            // command was asked to send, so Send is pressed once more, as the user would after a look.
            if (!pressedAgain && hasDownloadBox(*window)) {
                pressedAgain = true;
                quietChecks = 0;
                window->invoke(QStringLiteral("send:"), {host::toVariant(window)});
                return;
            }
            loop.quit();
        });
        window->invoke(QStringLiteral("send:"), {host::toVariant(window)});
        poll.start();
        loop.exec();
    }
    window->invoke(QStringLiteral("windowWillClose:"), {QVariant()});
    // Work still on the pool refers to the plug-in, which ends with this function.
    QThreadPool::globalInstance()->waitForDone(kPoolDrainMilliseconds);
    QCoreApplication::sendPostedEvents();

    if (!outcome.outgoing) {
        if (const auto& stop = ui.stop()) {
            report(stop->reason);
            return stop->exitStatus;
        }
        if (outcome.preferencesRequested)
            report(QString::fromUtf8(texts::preferencesUnavailable));
        else if (outcome.interrupted)
            report(QString::fromUtf8(texts::interrupted));
        else if (outcome.uploadCancelled || ui.lastAnswer() == AnswerRole::Cancel)
            report(QString::fromUtf8(texts::cancelled));
        else if (ui.panelSheetsShown() > 0)
            report(QString::fromUtf8(texts::uploadEnded));
        else
            report(QString::fromUtf8(texts::notSent));
        return ExitNotSent;
    }
    return deliver(line.destination, *outcome.outgoing, Envelope{loaded.sender, loaded.envelopeRecipients});
}

int SendCommand::deliver(const Destination& destination, const OutgoingMessage& message, const Envelope& envelope) {
    std::optional<platform::Error> error;
    QString done;
    switch (destination.kind) {
    case Destination::Kind::StandardOutput:
        error = MessageWriter::write(message, env_.messageOutputFd, {});
        break;
    case Destination::Kind::File: {
        // Written beside and renamed into place: a failed run leaves no half message behind.
        QSaveFile file(destination.file);
        if (!file.open(QIODevice::WriteOnly)) {
            error = cliError(WriteFailed, QStringLiteral("cannot write %1: %2").arg(destination.file, file.errorString()));
            break;
        }
        error = MessageWriter::write(message, file.handle(), {});
        if (!error && !file.commit())
            error = cliError(WriteFailed, QStringLiteral("cannot write %1: %2").arg(destination.file, file.errorString()));
        done = QStringLiteral("the message was written to %1").arg(destination.file);
        break;
    }
    case Destination::Kind::Smtp:
        error = SmtpSubmitter(destination.smtp).submit(envelope, [&message](int fd) {
            return MessageWriter::write(message, fd, {.keepBcc = false, .crlf = true});
        });
        done = QStringLiteral("the message was submitted to %1").arg(destination.smtp.toString(QUrl::RemoveUserInfo));
        break;
    case Destination::Kind::Sendmail:
        error = SendmailSubmitter(env_.sendmailProgram).submit([&message](int fd) {
            return MessageWriter::write(message, fd, {.keepBcc = true, .crlf = false});
        });
        done = QStringLiteral("the message was handed to %1").arg(env_.sendmailProgram);
        break;
    }
    if (error) {
        report(error->localizedDescription);
        report(QString::fromUtf8(texts::notSent));
        return ExitNotSent;
    }
    if (!done.isEmpty())
        report(done);
    return ExitSent;
}

} // namespace qm::cli
