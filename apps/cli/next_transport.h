#pragma once

#include "accounts/credential_store.h"
#include "cli/delivery.h"
#include "cli/handover.h"
#include "platform/result.h"
#include "platform/settings_store.h"

#include <QUrl>

namespace qm::cli {

// Where a message handed over by a mail client goes after Quillmoor: the SMTP server of QuillmoorSMTPURL
// (its password from the credential store), else the sendmail program of QuillmoorSendmailPath. Never
// Quillmoor itself: that would hand the message round in a circle.
class NextTransport {
public:
    // Set in the environment of the sendmail program we run: a Quillmoor that finds it there was reached
    // through some detour (a wrapper script) and refuses instead of looping.
    static constexpr char hopVariable[] = "QUILLMOOR_SENDMAIL_HOP";

    // From the settings; a Configuration error when they name no usable transport. `smtpOnly` for the
    // SMTP service, which has no sendmail to fall back on.
    static platform::Result<NextTransport> fromSettings(const platform::SettingsStore& settings,
                                                        bool smtpOnly = false);
    // Whether `program` is this very program (a symbolic link to it included).
    static bool isQuillmoorItself(const QString& program);

    // Blocks until the next transport has taken the message or refused it.
    platform::Result<void> deliver(const Envelope& envelope, const Handover::Writer& writer,
                                   const accounts::CredentialStore* credentials) const;
    QString describe() const;

    QUrl smtp;
    QString sendmail;
};

} // namespace qm::cli
