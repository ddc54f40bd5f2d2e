#pragma once

#include "cli/gmime_support.h"

#include <QList>
#include <QString>

namespace qm::cli {

// An inline part of a multipart/related body (an image the HTML shows through "cid:"), kept as parsed so
// it is sent again exactly as it came.
struct InlinePart {
    QString contentID;
    gmime::Ref<GMimeObject> part;
};

// An attachment as it came, for sending it again unchanged: the part and the file it was decoded to.
struct AttachmentPart {
    QString contentID;
    QString filePath;
    gmime::Ref<GMimeObject> part;
};

// The parsed message file. Its parts are ranges of the file (the parser persists the stream), so the file
// stays open, unchanged, until the outgoing message is written.
class SourceMessage {
public:
    gmime::Ref<GMimeMessage> message; // the headers; its own MIME tree is never written
    QList<InlinePart> inlineParts;
    QList<AttachmentPart> attachmentParts;
    QString path; // the file parsed
};

} // namespace qm::cli
