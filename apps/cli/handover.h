#pragma once

#include "cli/answer_role.h"
#include "cli/delivery.h"
#include "cli/environment.h"
#include "platform/error.h"
#include "platform/result.h"
#include "uploaders/service_id.h"

#include <QUrl>
#include <functional>
#include <memory>

namespace qm::cli {

// Why a message a mail client handed over did not go on, in the terms its callers act on: sendmail's
// exit status (sysexits) and an SMTP reply.
enum class Failure {
    Temporary,        // try again later: the relay or the upload service failed, a local problem
    Permanent,        // the next server refused the message for good
    UnknownRecipient, // the next server refused a recipient
    DataError,        // the input is no message at all
    Configuration,    // the user's settings or accounts stand in the way
    Refused,          // the configured answer is cancel
    Usage,            // the caller's arguments
};

QString handoverErrorDomain();
platform::Error handoverError(Failure failure, const QString& description, QVariantMap userInfo = {});
// What a failure of any layer means to a mail client: handover errors as they are, SMTP and sendmail
// failures by the reply or status they carry, everything else Temporary.
Failure failureOf(const platform::Error& error);
int exitStatusOf(const platform::Error& error); // sysexits.h
// "451 4.3.0 text" and the like: one line without its CRLF.
QByteArray smtpReplyOf(const platform::Error& error);

// A finished message from a mail client run through the send decision unattended: the answer to a
// question is the configured one, and the message's own headers (Message-ID and Date included) stay as
// they are. A signed or encrypted message, and one whose parts cannot be parsed, passes on unchanged with
// a line in the log (and a note on standard error when it is a terminal).
class Handover {
public:
    // Writes the message to pass on; CRLF line ends when `crlf`. Bcc never goes out: the envelope has it.
    using Writer = std::function<platform::Result<void>(int fd, bool crlf)>;

    struct Prepared {
        Writer writer;
        bool unchanged = false; // passed on byte for byte
        upload::ServiceId service = upload::ServiceId::None;
        QList<QUrl> uploadedLinks; // to take back when the delivery fails
    };

    // `answer` answers every question; without one a person at the terminal does (the prompt of `env`).
    Handover(Environment& environment, std::optional<AnswerRole> answer);

    // `messagePath` is a spooled copy the caller keeps until the writer has run; `scratch` a private
    // folder for attachments and the plug-in's copies. Runs an event loop until the decision is made.
    platform::Result<Prepared> prepare(const QString& messagePath, const QString& scratch);

    // The answer named by QuillmoorUnattendedAnswer (upload when unset or unknown).
    static AnswerRole unattendedAnswer(const platform::SettingsStore& settings);

private:
    void note(const QString& text);

    Environment& env_;
    std::optional<AnswerRole> answer_;
};

} // namespace qm::cli
