#pragma once

#include "cli/loaded_message.h"

namespace qm::cli {

// What the host's own send takes from the compose window at the moment of sending: the body as the
// recipient gets it and the attachments the body still shows.
struct OutgoingMessage {
    bool richText = true;
    QString html;                        // rich: the HTML document; empty for plain text
    QString text;                        // the text/plain part (rich: generated from the HTML)
    QList<LoadedAttachment> attachments; // only those whose object element is still in the body
    QStringList inlineContentIDs;        // the inline parts the HTML still refers to
    std::shared_ptr<const SourceMessage> source;
    // Nothing was changed in the window: the message leaves with the structure and parts it came with.
    bool unchanged = false;

    // Object elements, and the comments that hide attachments (any comment holding "<object"), never
    // reach the recipient.
    static OutgoingMessage fromWindow(const host::InMemoryComposeWindow& window, const LoadedMessage& loaded);
};

} // namespace qm::cli
