#pragma once

// The settings of the command-line host's own, read when a mail client hands a message over
// (`quillmoor sendmail`, `quillmoor smtpd`).
namespace qm::cli::settings {

// upload, send or cancel: the answer to a question when nobody is at a terminal to give one.
inline constexpr char unattendedAnswer[] = "QuillmoorUnattendedAnswer";
inline constexpr char unattendedAnswerDefault[] = "upload";
// smtp:// or smtps:// URL of the server that takes the message next; its password from the credential
// store as for `send --smtp`.
inline constexpr char smtpURL[] = "QuillmoorSMTPURL";
// The sendmail program that takes the message next when no SMTP URL is set.
inline constexpr char sendmailPath[] = "QuillmoorSendmailPath";
inline constexpr char sendmailPathDefault[] = "/usr/sbin/sendmail";

} // namespace qm::cli::settings
