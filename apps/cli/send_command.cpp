#include "cli/send_command.h"

#include "cli/cli_error.h"
#include "cli/cli_texts.h"
#include "cli/compose_session.h"
#include "cli/exit_status.h"
#include "cli/message_loader.h"
#include "cli/message_writer.h"
#include "cli/sendmail_submitter.h"
#include "cli/smtp_submitter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

namespace qm::cli {

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

    auto result = ComposeSession(env_, loaded, line.answer, workingDirectory).pressSend();
    if (const auto* error = std::get_if<platform::Error>(&result)) {
        report(error->localizedDescription);
        return ExitNotSent;
    }
    const ComposeSession::Outcome& outcome = std::get<ComposeSession::Outcome>(result);
    if (outcome.outgoing)
        return deliver(line.destination, *outcome.outgoing, Envelope{loaded.sender, loaded.envelopeRecipients});
    if (outcome.stop) {
        report(outcome.stop->reason);
        return outcome.stop->exitStatus;
    }
    if (outcome.preferencesRequested)
        report(QString::fromUtf8(texts::preferencesUnavailable));
    else if (outcome.interrupted)
        report(QString::fromUtf8(texts::interrupted));
    else if (outcome.uploadCancelled || outcome.lastAnswer == AnswerRole::Cancel)
        report(QString::fromUtf8(texts::cancelled));
    else if (outcome.uploadShown)
        report(QString::fromUtf8(texts::uploadEnded));
    else
        report(QString::fromUtf8(texts::notSent));
    return ExitNotSent;
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
        error = SmtpSubmitter(SmtpSubmitter::withStoredPassword(destination.smtp, env_.credentials)).submit(envelope, [&message](int fd) {
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
