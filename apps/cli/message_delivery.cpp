#include "cli/message_delivery.h"

#include "cli/cli_error.h"
#include "cli/sendmail_submitter.h"
#include "cli/smtp_submitter.h"

#include <QSaveFile>

namespace qm::cli {

namespace {

platform::Result<void> writeFile(const QString& path, const FormattedMessageSource& source) {
    QSaveFile file(path);
    const auto failed = [&path, &file] {
        return cliError(WriteFailed, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    if (auto written = source(file.handle(), {}); !written)
        return written;
    if (!file.commit())
        return failed();
    return {};
}

} // namespace

platform::Result<QString> deliverMessage(const Destination& destination, const Envelope& envelope,
                                         const FormattedMessageSource& source, const Transports& transports) {
    switch (destination.kind) {
    case Destination::Kind::StandardOutput:
        if (auto written = source(transports.standardOutputFd, {}); !written)
            return written.error();
        return QString();
    case Destination::Kind::File:
        if (auto written = writeFile(destination.file, source); !written)
            return written.error();
        return QStringLiteral("the message was written to %1").arg(destination.file);
    case Destination::Kind::Smtp:
        if (auto submitted =
                SmtpSubmitter(SmtpSubmitter::withStoredPassword(destination.smtp, transports.credentials))
                    .submit(envelope,
                            [&source](int fd) { return source(fd, {.keepBcc = false, .crlf = true}); });
            !submitted)
            return submitted.error();
        return QStringLiteral("the message was submitted to %1")
            .arg(destination.smtp.toString(QUrl::RemoveUserInfo));
    case Destination::Kind::Sendmail:
        if (auto submitted = SendmailSubmitter(transports.sendmailProgram).submit([&source](int fd) {
                return source(fd, {.keepBcc = true, .crlf = false});
            });
            !submitted)
            return submitted.error();
        return QStringLiteral("the message was handed to %1").arg(transports.sendmailProgram);
    }
    return cliError(WriteFailed, QStringLiteral("no way to send the message is configured"));
}

} // namespace qm::cli
