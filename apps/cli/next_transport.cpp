#include "cli/next_transport.h"

#include "cli/cli_settings.h"
#include "cli/sendmail_submitter.h"
#include "cli/smtp_submitter.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace qm::cli {

bool NextTransport::isQuillmoorItself(const QString& program) {
    const QString target = QFileInfo(program).canonicalFilePath();
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    return !target.isEmpty() && target == self;
}

platform::Result<NextTransport> NextTransport::fromSettings(const platform::SettingsStore& settings,
                                                            bool smtpOnly) {
    NextTransport transport;
    const QString url = settings.stringForKey(QString::fromLatin1(settings::smtpURL)).trimmed();
    if (!url.isEmpty()) {
        transport.smtp = QUrl(url, QUrl::StrictMode);
        if (!SmtpSubmitter::isSupportedUrl(transport.smtp))
            return handoverError(Failure::Configuration,
                                 QStringLiteral("%1 is \"%2\", not an smtp:// or smtps:// URL")
                                     .arg(QString::fromLatin1(settings::smtpURL), url));
        return transport;
    }
    if (smtpOnly)
        return handoverError(Failure::Configuration,
                             QStringLiteral("%1 is not set: there is no server to relay the messages to "
                                            "(quillmoor config set %1 smtps://user@host)")
                                 .arg(QString::fromLatin1(settings::smtpURL)));
    transport.sendmail = settings.stringForKey(QString::fromLatin1(settings::sendmailPath));
    if (transport.sendmail.isEmpty())
        transport.sendmail = QString::fromLatin1(settings::sendmailPathDefault);
    if (isQuillmoorItself(transport.sendmail) || qEnvironmentVariableIsSet(hopVariable))
        return handoverError(Failure::Configuration,
                             QStringLiteral("%1 leads back to Quillmoor itself (%2), which would pass the "
                                            "message round in a circle; set %3 or point %1 at the system's "
                                            "own sendmail")
                                 .arg(QString::fromLatin1(settings::sendmailPath), transport.sendmail,
                                      QString::fromLatin1(settings::smtpURL)));
    const QFileInfo program(transport.sendmail);
    if (!program.isFile() || !program.isExecutable())
        return handoverError(Failure::Configuration,
                             QStringLiteral("cannot run %1: there is no such program (set %2 or %3)")
                                 .arg(transport.sendmail, QString::fromLatin1(settings::sendmailPath),
                                      QString::fromLatin1(settings::smtpURL)));
    return transport;
}

QString NextTransport::describe() const {
    return smtp.isEmpty() ? sendmail : smtp.toString(QUrl::RemoveUserInfo);
}

platform::Result<void> NextTransport::deliver(const Envelope& envelope, const Handover::Writer& writer,
                                              const accounts::CredentialStore* credentials) const {
    if (!smtp.isEmpty())
        return SmtpSubmitter(SmtpSubmitter::withStoredPassword(smtp, credentials))
            .submit(envelope, [&writer](int fd) { return writer(fd, true); });
    SendmailSubmitter submitter(sendmail);
    // The envelope as the client gave it; Bcc has left the headers, so -t would lose those recipients.
    submitter.arguments = {QStringLiteral("-i")};
    if (!envelope.sender.isEmpty())
        submitter.arguments << QStringLiteral("-f") << envelope.sender;
    submitter.arguments << QStringLiteral("--") << envelope.recipients;
    qputenv(hopVariable, "1");
    const platform::Result<void> submitted =
        submitter.submit([&writer](int fd) { return writer(fd, false); });
    qunsetenv(hopVariable);
    return submitted;
}

} // namespace qm::cli
