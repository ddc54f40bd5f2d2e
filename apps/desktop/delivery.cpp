#include "desktop/delivery.h"

#include "cli/message_writer.h"
#include "cli/sendmail_submitter.h"
#include "cli/smtp_submitter.h"

#include <QSaveFile>

namespace qm::desktop {

namespace {

platform::Error deliveryError(const QString& text) {
    return platform::Error(QStringLiteral("quillmoor-mail"), 1, text);
}

} // namespace

platform::Result<QString> deliver(const DeliverySettings& settings, const cli::Envelope& envelope,
                                  const cli::OutgoingMessage& message) {
    using Kind = cli::Destination::Kind;
    const cli::Destination& destination = settings.destination;
    switch (destination.kind) {
    case Kind::StandardOutput:
    case Kind::File: {
        const QString path =
            destination.kind == Kind::File ? destination.file : QStringLiteral("/dev/stdout");
        // Written beside and renamed into place: a failed send leaves no half message behind.
        QSaveFile file(path);
        file.setDirectWriteFallback(destination.kind == Kind::StandardOutput);
        if (!file.open(QIODevice::WriteOnly))
            return deliveryError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        if (auto written = cli::MessageWriter::write(message, file.handle(), {}); !written)
            return written.error();
        if (!file.commit())
            return deliveryError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return QStringLiteral("The message was written to %1.").arg(path);
    }
    case Kind::Smtp: {
        const cli::SmtpSubmitter submitter(
            cli::SmtpSubmitter::withStoredPassword(destination.smtp, settings.credentials));
        if (auto submitted = submitter.submit(envelope,
                                              [&message](int fd) {
                                                  return cli::MessageWriter::write(
                                                      message, fd, {.keepBcc = false, .crlf = true});
                                              });
            !submitted)
            return submitted.error();
        return QStringLiteral("The message was submitted to %1.")
            .arg(destination.smtp.toString(QUrl::RemoveUserInfo));
    }
    case Kind::Sendmail: {
        if (auto submitted = cli::SendmailSubmitter(settings.sendmailProgram).submit([&message](int fd) {
                return cli::MessageWriter::write(message, fd, {.keepBcc = true, .crlf = false});
            });
            !submitted)
            return submitted.error();
        return QStringLiteral("The message was handed to %1.").arg(settings.sendmailProgram);
    }
    }
    return deliveryError(QStringLiteral("no way to send the message is configured"));
}

} // namespace qm::desktop
