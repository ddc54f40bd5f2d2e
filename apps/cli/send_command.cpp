#include "cli/send_command.h"

#include "cli/cli_error.h"
#include "cli/cli_texts.h"
#include "cli/compose_session.h"
#include "cli/exit_status.h"
#include "cli/message_delivery.h"
#include "cli/message_loader.h"
#include "cli/termination_cleanup.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

namespace qm::cli {

namespace {

constexpr int kRemovalTimeoutMilliseconds = 120000;

} // namespace

SendCommand::SendCommand(Environment& environment)
    : env_(environment) {}

void SendCommand::report(const QString& text) {
    env_.err.write((QStringLiteral("quillmoor: ") + text + u'\n').toUtf8());
}

std::optional<QString> SendCommand::checkDestination(const Destination& destination) const {
    switch (destination.kind) {
    case Destination::Kind::File: {
        const QFileInfo target(destination.file);
        const QFileInfo folder(target.absolutePath());
        if (target.isDir())
            return QStringLiteral("cannot write %1: it is a folder").arg(destination.file);
        if (!folder.isDir())
            return QStringLiteral("cannot write %1: the folder %2 does not exist")
                .arg(destination.file, folder.filePath());
        if (!folder.isWritable())
            return QStringLiteral("cannot write %1: the folder %2 is not writable")
                .arg(destination.file, folder.filePath());
        return std::nullopt;
    }
    case Destination::Kind::Sendmail: {
        const QFileInfo program(env_.sendmailProgram);
        if (!program.isFile() || !program.isExecutable())
            return QStringLiteral("cannot run %1: there is no such program").arg(env_.sendmailProgram);
        return std::nullopt;
    }
    case Destination::Kind::StandardOutput:
    case Destination::Kind::Smtp:
        return std::nullopt;
    }
    return std::nullopt;
}

int SendCommand::run(const CommandLine& line) {
    // Decoded attachments and a spooled standard input live here, readable by the user alone.
    QTemporaryDir scratch(QDir::temp().filePath(QStringLiteral("quillmoor-send-XXXXXX")));
    if (!scratch.isValid()) {
        report(QStringLiteral("cannot make a temporary folder: %1").arg(scratch.errorString()));
        return ExitNotSent;
    }
    const TerminationCleanup cleanup(scratch.path());
    QFile::setPermissions(scratch.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString attachmentFolder = scratch.filePath(QStringLiteral("attachments"));
    const QString workingDirectory = scratch.filePath(QStringLiteral("work"));
    if (!QDir().mkpath(attachmentFolder) || !QDir().mkpath(workingDirectory)) {
        report(QStringLiteral("cannot make folders in %1").arg(scratch.path()));
        return ExitNotSent;
    }

    QString messagePath = line.message;
    QString shownName;
    if (messagePath == u"-") {
        messagePath = scratch.filePath(QStringLiteral("message.eml"));
        shownName = QString::fromLatin1(texts::standardInput);
        if (const auto spooled = MessageLoader::spool(env_.inputFd, messagePath); !spooled) {
            report(spooled.error().localizedDescription);
            return ExitNotSent;
        }
    }
    if (line.destination.kind == Destination::Kind::File && line.message != u"-") {
        const QString input = QFileInfo(line.message).canonicalFilePath();
        if (!input.isEmpty() && QFileInfo(line.destination.file).canonicalFilePath() == input) {
            report(QStringLiteral("--out names the message file itself, which is never modified"));
            return ExitUsage;
        }
    }
    // What would fail the delivery is found before anything is uploaded.
    if (const auto problem = checkDestination(line.destination)) {
        report(*problem);
        report(QString::fromUtf8(texts::notSent));
        return ExitNotSent;
    }

    const auto loadedOrError = MessageLoader(attachmentFolder).load(messagePath, shownName);
    if (!loadedOrError) {
        report(loadedOrError.error().localizedDescription);
        // Only a message that cannot be read or understood is a usage error; a full disk is not.
        return loadedOrError.error().code == AttachmentFailed ? ExitNotSent : ExitUsage;
    }
    const LoadedMessage& loaded = *loadedOrError;
    for (const QString& warning : loaded.warnings)
        report(QStringLiteral("warning: %1").arg(warning));
    if (line.destination.kind == Destination::Kind::Smtp &&
        (loaded.sender.isEmpty() || loaded.envelopeRecipients.isEmpty())) {
        report(loaded.sender.isEmpty() ? QStringLiteral("the message has no From address to submit it from")
                                       : QStringLiteral("the message has no recipient"));
        return ExitUsage;
    }
    const Envelope envelope{loaded.sender, loaded.envelopeRecipients};

    if (!loaded.protection.isEmpty()) {
        report(QString::fromUtf8(texts::sentAsItCame).arg(loaded.protection));
        const QString path = messagePath;
        return deliver(line.destination, envelope, [path](int fd, const MessageWriter::Options& options) {
            return MessageWriter::writeAsItCame(path, fd, options);
        });
    }

    const auto result = ComposeSession(env_, loaded, line.answer, workingDirectory).pressSend();
    if (!result) {
        report(result.error().localizedDescription);
        return ExitNotSent;
    }
    const ComposeSession::Outcome& outcome = *result;
    if (outcome.outgoing) {
        const OutgoingMessage& message = *outcome.outgoing;
        const int status =
            deliver(line.destination, envelope, [&message](int fd, const MessageWriter::Options& options) {
                return MessageWriter::write(message, fd, options);
            });
        if (status != ExitSent)
            removeUploads(outcome.service, outcome.uploadedLinks);
        return status;
    }
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

int SendCommand::deliver(const Destination& destination, const Envelope& envelope, const Writer& writer) {
    const auto done = deliverMessage(destination, envelope, writer,
                                     {env_.sendmailProgram, env_.credentials, env_.messageOutputFd});
    if (!done) {
        report(done.error().localizedDescription);
        report(QString::fromUtf8(texts::notSent));
        return ExitNotSent;
    }
    if (!done->isEmpty())
        report(*done);
    return ExitSent;
}

void SendCommand::removeUploads(upload::ServiceId service, const QList<QUrl>& links) {
    if (links.isEmpty())
        return;
    upload::UploaderClass* serviceClass = env_.services.classForService(service);
    const std::unique_ptr<upload::Uploader> uploader = serviceClass ? serviceClass->create() : nullptr;
    // One deadline for all removals, which run one after the other as uploads do.
    const QDeadlineTimer deadline(kRemovalTimeoutMilliseconds);
    int removed = 0;
    QStringList failures;
    for (const QUrl& link : links) {
        const QString shown = link.toDisplayString(QUrl::RemoveUserInfo);
        if (!uploader) {
            failures.append(QStringLiteral("%1: the service is not available").arg(shown));
            continue;
        }
        // Shared with the answer, which may still come after its wait has timed out.
        struct Wait {
            std::optional<platform::Result<void>> answer;
            QEventLoop loop;
        };
        const auto wait = std::make_shared<Wait>();
        if (!deadline.hasExpired()) {
            uploader->removeUploadedFile(link, [wait](platform::Result<void> result) {
                wait->answer = std::move(result);
                wait->loop.quit();
            });
            QTimer::singleShot(std::chrono::milliseconds(deadline.remainingTime()), &wait->loop,
                               &QEventLoop::quit);
            wait->loop.exec();
        }
        if (!wait->answer)
            failures.append(QStringLiteral("%1: no answer in time").arg(shown));
        else if (*wait->answer)
            ++removed;
        else
            failures.append(QStringLiteral("%1: %2").arg(shown, wait->answer->error().localizedDescription));
    }
    if (removed > 0)
        report(QString::fromUtf8(texts::uploadsRemoved).arg(removed));
    for (const QString& failure : std::as_const(failures))
        report(QString::fromUtf8(texts::uploadNotRemoved).arg(failure));
}

} // namespace qm::cli
