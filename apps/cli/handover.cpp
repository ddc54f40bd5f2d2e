#include "cli/handover.h"

#include "cli/cli_error.h"
#include "cli/cli_settings.h"
#include "cli/compose_session.h"
#include "cli/message_loader.h"
#include "cli/message_writer.h"
#include "cli/sendmail_submitter.h"
#include "cli/smtp_submitter.h"
#include "platform/system_log.h"

#include <QDir>
#include <curl/curl.h>
#include <sysexits.h>

namespace qm::cli {

namespace {

constexpr int kLongestReplyText = 400;

QString failureKey() {
    return QStringLiteral("QuillmoorFailure");
}

Failure smtpFailure(const platform::Error& error) {
    const int reply = error.userInfo.value(QString::fromLatin1(SmtpSubmitter::replyCodeKey)).toInt();
    const QString command =
        error.userInfo.value(QString::fromLatin1(SmtpSubmitter::refusedCommandKey)).toString();
    const int curl = error.userInfo.value(QString::fromLatin1(SmtpSubmitter::curlCodeKey)).toInt();
    if (reply >= 500 && reply < 600) {
        if (command == u"AUTH")
            return Failure::Configuration;
        return command == u"RCPT" ? Failure::UnknownRecipient : Failure::Permanent;
    }
    if (reply >= 400)
        return Failure::Temporary;
    switch (curl) {
    case CURLE_LOGIN_DENIED:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return Failure::Configuration;
    default:
        return Failure::Temporary;
    }
}

} // namespace

QString handoverErrorDomain() {
    return QStringLiteral("QuillmoorHandoverErrorDomain");
}

platform::Error handoverError(Failure failure, const QString& description, QVariantMap userInfo) {
    userInfo.insert(failureKey(), static_cast<int>(failure));
    return platform::Error(handoverErrorDomain(), static_cast<int>(failure), description,
                           std::move(userInfo));
}

Failure failureOf(const platform::Error& error) {
    if (error.userInfo.contains(failureKey()))
        return static_cast<Failure>(error.userInfo.value(failureKey()).toInt());
    if (error.domain == errorDomain() && error.code == SubmissionFailed) {
        if (error.userInfo.contains(QString::fromLatin1(SmtpSubmitter::curlCodeKey)))
            return smtpFailure(error);
        const QVariant status = error.userInfo.value(QString::fromLatin1(SendmailSubmitter::exitStatusKey));
        if (status.isValid() && status.toInt() != EX_TEMPFAIL)
            return Failure::Permanent;
    }
    if (error.domain == errorDomain() && error.code == MissingAddress)
        return Failure::Usage;
    return Failure::Temporary;
}

int exitStatusOf(const platform::Error& error) {
    // Another sendmail's own status says more than any translation of it.
    const QVariant status = error.userInfo.value(QString::fromLatin1(SendmailSubmitter::exitStatusKey));
    if (status.isValid() && status.toInt() >= EX__BASE && status.toInt() <= EX__MAX)
        return status.toInt();
    switch (failureOf(error)) {
    case Failure::Temporary:
        return EX_TEMPFAIL;
    case Failure::Permanent:
    case Failure::Refused:
        return EX_UNAVAILABLE;
    case Failure::UnknownRecipient:
        return EX_NOUSER;
    case Failure::DataError:
        return EX_DATAERR;
    case Failure::Configuration:
        return EX_CONFIG;
    case Failure::Usage:
        return EX_USAGE;
    }
    return EX_TEMPFAIL;
}

QByteArray smtpReplyOf(const platform::Error& error) {
    QString text = error.localizedDescription.simplified().left(kLongestReplyText);
    const Failure failure = failureOf(error);
    // The relay's own refusal goes back in its own code, so the client sees what the server said.
    const int reply = error.userInfo.value(QString::fromLatin1(SmtpSubmitter::replyCodeKey)).toInt();
    const char* code = "451 4.3.0";
    switch (failure) {
    case Failure::Temporary:
        break;
    case Failure::Configuration:
        code = "451 4.3.5";
        break;
    case Failure::Permanent:
        code = "554 5.0.0";
        break;
    case Failure::UnknownRecipient:
        code = "550 5.1.1";
        break;
    case Failure::DataError:
        code = "554 5.6.0";
        break;
    case Failure::Refused:
        code = "552 5.3.4";
        break;
    case Failure::Usage:
        code = "501 5.5.4";
        break;
    }
    QByteArray line(code);
    if ((failure == Failure::Permanent || failure == Failure::UnknownRecipient) && reply >= 500 &&
        reply < 600)
        line = QByteArray::number(reply) + line.mid(3);
    return line + ' ' + text.toUtf8();
}

Handover::Handover(Environment& environment, std::optional<AnswerRole> answer)
    : env_(environment)
    , answer_(answer) {}

AnswerRole Handover::unattendedAnswer(const platform::SettingsStore& settings) {
    const std::optional<AnswerRole> role =
        answerRoleFromName(settings.stringForKey(QString::fromLatin1(settings::unattendedAnswer)));
    return role && *role != AnswerRole::Configure ? *role : AnswerRole::Upload;
}

void Handover::note(const QString& text) {
    platform::SystemLog::write(QStringLiteral("Quillmoor: ") + text);
    if (env_.errIsTerminal)
        env_.err.write((QStringLiteral("quillmoor: ") + text + u'\n').toUtf8());
}

platform::Result<Handover::Prepared> Handover::prepare(const QString& messagePath, const QString& scratch) {
    const QString attachments = QDir(scratch).filePath(QStringLiteral("attachments"));
    const QString work = QDir(scratch).filePath(QStringLiteral("work"));
    if (!QDir().mkpath(attachments) || !QDir().mkpath(work))
        return handoverError(Failure::Temporary, QStringLiteral("cannot make folders in %1").arg(scratch));

    const auto asItCame = [messagePath](int fd, bool crlf) {
        return MessageWriter::writeAsItCame(messagePath, fd, {.keepBcc = false, .crlf = crlf});
    };
    const auto loadedOrError = MessageLoader(attachments).load(messagePath);
    if (!loadedOrError) {
        const platform::Error& error = loadedOrError.error();
        if (error.code != MalformedMessage)
            return handoverError(Failure::Temporary, error.localizedDescription);
        note(QStringLiteral("the message cannot be parsed (%1); it is passed on unchanged")
                 .arg(error.localizedDescription));
        return Prepared{asItCame, true, upload::ServiceId::None, {}};
    }
    const auto loaded = std::make_shared<const LoadedMessage>(*loadedOrError);
    if (!loaded->protection.isEmpty()) {
        note(QStringLiteral("the message is %1; it is passed on unchanged").arg(loaded->protection));
        return Prepared{asItCame, true, upload::ServiceId::None, {}};
    }

    // Nothing to measure: the decision would send it as it is, so the plug-in need not be loaded for it.
    if (loaded->attachments.isEmpty())
        return Prepared{asItCame, true, upload::ServiceId::None, {}};

    const auto result = ComposeSession(env_, *loaded, answer_, work).pressSend();
    if (!result)
        return handoverError(Failure::Temporary, result.error().localizedDescription);
    const ComposeSession::Outcome& outcome = *result;
    if (outcome.outgoing) {
        if (outcome.outgoing->unchanged)
            return Prepared{asItCame, true, outcome.service, outcome.uploadedLinks};
        auto message = std::make_shared<const OutgoingMessage>(*outcome.outgoing);
        // The loaded message owns the decoded attachments the writer reads.
        Writer writer = [message, loaded](int fd, bool crlf) {
            return MessageWriter::write(*message, fd, {.keepBcc = false, .crlf = crlf, .keepIdentity = true});
        };
        return Prepared{std::move(writer), false, outcome.service, outcome.uploadedLinks};
    }
    const QString answer = answer_ ? answerRoleName(*answer_) : QString();
    if (outcome.stop)
        return handoverError(Failure::Configuration,
                             QStringLiteral("the attachments exceed the threshold and the question asked has "
                                            "no answer \"%1\" (%2): is a service linked? Nothing was sent.")
                                 .arg(answer, QString::fromLatin1(settings::unattendedAnswer)));
    if (outcome.lastAnswer == AnswerRole::Cancel)
        return handoverError(Failure::Refused,
                             QStringLiteral("the attachments exceed the threshold and %1 is cancel. Nothing "
                                            "was sent.")
                                 .arg(QString::fromLatin1(settings::unattendedAnswer)));
    if (outcome.interrupted || outcome.uploadCancelled)
        return handoverError(Failure::Temporary, QStringLiteral("interrupted. Nothing was sent."));
    if (outcome.preferencesRequested)
        return handoverError(Failure::Configuration,
                             QStringLiteral("no service is linked. Nothing was sent."));
    return handoverError(Failure::Temporary,
                         QStringLiteral("the attachments were not uploaded. Nothing was sent."));
}

} // namespace qm::cli
