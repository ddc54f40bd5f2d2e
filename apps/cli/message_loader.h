#pragma once

#include "cli/loaded_message.h"
#include "platform/error.h"
#include "platform/result.h"

namespace qm::cli {

// Reads an RFC 5322 message file into what a composer shows:
// - the body: the HTML part (or else the plain-text part, and the message is plain text); successive
//   inline text parts of a multipart/mixed are joined in order;
// - every other part an attachment, decoded to a file, with its Content-ID (or a new one) and an object
//   element at its place in the body;
// - the parts of a multipart/related body that its HTML refers to through "cid:" stay inline: they are
//   kept as parsed, neither attachments nor measured;
// - text parts marked inline are body text even when named, wherever they stand;
// - the first quoted message (blockquote type="cite", with the citation line before it; in plain text
//   the first run of "> " lines) wrapped in an element of class "AppleOriginalContents".
// The file is parsed in place and attachments are decoded through a buffer, so memory does not grow
// with the size of the message.
class MessageLoader {
public:
    // Decoded attachments go into `attachmentFolder`, which the caller keeps private and removes.
    explicit MessageLoader(QString attachmentFolder);

    // Errors name the file `shownName` when one is given ("standard input" for a spooled one), else `path`.
    // A signed or encrypted message loads with its headers and `protection` only: it is sent as it came.
    platform::Result<LoadedMessage> load(const QString& path, const QString& shownName = {}) const;

    // Copies everything readable from `fd` into a new file at `path` through a buffer: the parser needs a
    // file it can seek, which standard input may not be.
    static platform::Result<void> spool(int fd, const QString& path);

private:
    QString attachmentFolder_;
};

} // namespace qm::cli
