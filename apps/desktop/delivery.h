#pragma once

#include "accounts/credential_store.h"
#include "cli/command_line.h"
#include "cli/message_delivery.h"
#include "cli/outgoing_message.h"
#include "platform/result.h"

namespace qm::desktop {

// Where the desktop host's messages go, as the command-line host's --out, --smtp and --sendmail say.
struct DeliverySettings {
    cli::Destination destination;
    QString sendmailProgram = QStringLiteral("/usr/sbin/sendmail");
    accounts::CredentialStore* credentials = nullptr; // the SMTP password, when the URL names a user
};

// Writes or submits `message` with the command-line host's MIME writer and transports. Blocks: the
// compose window runs it on the pool. Answers what was done, for the user.
platform::Result<QString> deliver(const DeliverySettings& settings, const cli::Envelope& envelope,
                                  const cli::OutgoingMessage& message);

} // namespace qm::desktop
