#pragma once

#include "cli/outgoing_message.h"
#include "platform/error.h"

#include <optional>

namespace qm::cli {

// Turns an outgoing message into MIME and writes it to a file descriptor:
//   plain text:  text/plain
//   rich text:   multipart/alternative [text/plain, text/html] (the HTML inside multipart/related with
//                its inline parts when it has any)
//   either, with attachments, inside multipart/mixed [body, attachment, ...]
// A message whose window nothing changed keeps the MIME tree it came with, part for part; otherwise the
// attachments still in it go out as the parts they came as (headers and encoded bytes unchanged).
// The headers of the source message are kept except MIME's own, Bcc (unless kept) and Date and
// Message-ID, which are new. Attachments are read from their files while the message is written, so
// memory does not grow with their size.
class MessageWriter {
public:
    struct Options {
        bool keepBcc = false; // sendmail -t reads the Bcc header and removes it itself
        bool crlf = false;    // SMTP wants CRLF line ends; files and sendmail the local LF
        // A mail client's finished message keeps its Date and Message-ID: its sent folder and threading
        // rely on them.
        bool keepIdentity = false;
    };

    static platform::Result<void> write(const OutgoingMessage& message, int fd, const Options& options);

    // The message file byte for byte (a signed or encrypted message, which no change may touch), less its
    // Bcc header unless kept, with the line ends the transport wants. Streamed.
    static platform::Result<void> writeAsItCame(const QString& path, int fd, const Options& options);
};

} // namespace qm::cli
