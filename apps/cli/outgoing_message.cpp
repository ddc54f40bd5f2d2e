#include "cli/outgoing_message.h"

#include "cli/html_to_text.h"
#include "cli/source_message.h"

#include <QMimeDatabase>

#include <algorithm>

namespace qm::cli {

namespace dom = platform::dom;

OutgoingMessage OutgoingMessage::fromWindow(const host::InMemoryComposeWindow& window,
                                            const LoadedMessage& loaded) {
    OutgoingMessage outgoing;
    outgoing.richText = window.richText;
    outgoing.source = loaded.source;

    const auto sameAttachment = [](const host::ComposeAttachment& a, const LoadedAttachment& b) {
        return a.contentID == b.attachment.contentID && a.filePath == b.attachment.filePath;
    };
    const QList<host::ComposeAttachment> attachments = window.attachments();
    // The window's document is compared with the one the loaded body makes: the same parser, so the same
    // markup when the plug-in left the body alone.
    outgoing.unchanged =
        loaded.source && window.richText == loaded.richText &&
        attachments.size() == loaded.attachments.size() &&
        std::equal(attachments.cbegin(), attachments.cend(), loaded.attachments.cbegin(), sameAttachment) &&
        window.document().toHTML() ==
            dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(loaded.bodyHTML))
                .toHTML();

    // A copy: the window keeps what the plug-in put there.
    const dom::Document document = dom::Document::parseHTML(window.document().toHTML());
    QStringList shown;
    for (dom::Node object : document.nodesForXPath(QStringLiteral("//object"))) {
        const QString data = object.getAttribute(QStringLiteral("data"));
        if (data.startsWith(QLatin1String("cid:"), Qt::CaseInsensitive))
            shown.append(data.mid(4));
        object.detach();
    }
    for (dom::Node comment : document.nodesForXPath(QStringLiteral("//comment()[contains(., '<object')]")))
        comment.detach();

    if (outgoing.richText) {
        outgoing.html = document.toHTML();
        outgoing.text = HtmlToText::convert(document.body(), HtmlToText::Mode::Rich);
        if (loaded.source)
            for (const InlinePart& part : loaded.source->inlineParts)
                if (outgoing.html.contains(QStringLiteral("cid:") + part.contentID))
                    outgoing.inlineContentIDs.append(part.contentID);
    } else {
        outgoing.text = HtmlToText::convert(document.body(), HtmlToText::Mode::Plain);
    }

    for (const host::ComposeAttachment& attachment : attachments) {
        if (!shown.contains(attachment.contentID))
            continue;
        QString mimeType;
        for (const LoadedAttachment& known : loaded.attachments)
            if (known.attachment.contentID == attachment.contentID)
                mimeType = known.mimeType;
        if (mimeType.isEmpty())
            mimeType = QMimeDatabase().mimeTypeForFile(attachment.filePath).name();
        outgoing.attachments.append({attachment, mimeType});
    }
    return outgoing;
}

} // namespace qm::cli
