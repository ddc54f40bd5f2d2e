#pragma once

#include "host/in_memory_compose.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace qm::cli {

class SourceMessage; // the parsed file: headers and inline parts, kept for the outgoing message

// One attachment of a loaded message, decoded to a file of its own.
struct LoadedAttachment {
    host::ComposeAttachment attachment;
    QString mimeType;
};

// A message file as the compose window shows it.
struct LoadedMessage {
    QString subject;
    QStringList recipients; // To, Cc and Bcc: "Name <address>" or the bare address
    QString bodyHTML;       // the content of the compose body, attachments as object elements
    bool richText = true;
    QList<LoadedAttachment> attachments;
    QString sender;                 // the first From address, for the SMTP envelope
    QStringList envelopeRecipients; // the bare addresses of To, Cc and Bcc, each once
    QStringList warnings;           // what the parser tolerated and damage found in attachments, for the user
    QString protection;             // "signed" or "encrypted": no part may change, the body is not loaded
    std::shared_ptr<const SourceMessage> source;

    // Fills a compose window: body, attachment records, subject, recipients, rich or plain.
    void fill(host::InMemoryComposeWindow& window) const;
};

} // namespace qm::cli
