#pragma once

#include "accounts/credential_store.h"
#include "cli/command_line.h"
#include "cli/delivery.h"
#include "cli/message_writer.h"
#include "platform/result.h"

#include <functional>
#include <unistd.h>

namespace qm::cli {

// Writes the whole message to a file descriptor in the form a transport wants.
using FormattedMessageSource = std::function<platform::Result<void>(int fd, const MessageWriter::Options&)>;

// What the transports need besides the destination.
struct Transports {
    QString sendmailProgram = QStringLiteral("/usr/sbin/sendmail");
    const accounts::CredentialStore* credentials = nullptr; // the SMTP password, when the URL names a user
    int standardOutputFd = STDOUT_FILENO;
};

// Writes or submits a message where `destination` says, blocking until it is done: a file is written
// beside and renamed into place, so a failure leaves no half message; SMTP gets CRLF lines without Bcc;
// sendmail gets Bcc, which it removes itself. Answers what was done, in words for the user.
platform::Result<QString> deliverMessage(const Destination& destination, const Envelope& envelope,
                                         const FormattedMessageSource& source, const Transports& transports);

} // namespace qm::cli
