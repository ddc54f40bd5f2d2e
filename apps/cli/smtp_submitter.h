#pragma once

#include "accounts/credential_store.h"

#include "cli/delivery.h"
#include "platform/result.h"

#include <QUrl>

namespace qm::cli {

// Submits a message over SMTP with libcurl: "smtp://" (STARTTLS when the server offers it, and required
// when a password is sent) or "smtps://" (TLS from the start); user and password from the URL. The
// message is pulled through libcurl's read callback while it is written, never held whole.
//
// submit() blocks until the server has answered the end of the message; the command-line host calls it
// only after the plug-in has finished, when nothing else is waiting on the main thread.
class SmtpSubmitter {
public:
    explicit SmtpSubmitter(QUrl url);

    static bool isSupportedUrl(const QUrl& url); // smtp or smtps with a host

    // The credential-store label of SMTP passwords; the account is "user@host".
    static constexpr char credentialLabel[] = "Quillmoor (SMTP)";
    // `url` with the stored password of its user filled in, when it names a user but no password.
    static QUrl withStoredPassword(QUrl url, const accounts::CredentialStore* credentials);

    // The user info of a failed submission: the server's reply code (0 when it never answered), the
    // command its refusal answered ("RCPT", "DATA", ...), the refusal's text and libcurl's code.
    static constexpr char replyCodeKey[] = "SMTPReplyCode";
    static constexpr char refusedCommandKey[] = "SMTPRefusedCommand";
    static constexpr char replyTextKey[] = "SMTPReplyText";
    static constexpr char curlCodeKey[] = "CurlCode";

    platform::Result<void> submit(const Envelope& envelope, const MessageSource& source) const;

    int connectTimeoutSeconds = 30;
    // A server that takes nothing for this long is given up on.
    int stallTimeoutSeconds = 120;

private:
    QUrl url_;
};

} // namespace qm::cli
