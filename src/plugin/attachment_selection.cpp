#include "plugin/attachment_selection.h"

#include "accounts/settings_keys.h"
#include "platform/string_additions.h"

namespace qm::plugin {

namespace keys = accounts::keys;

QStringList referencedContentIDs(const platform::dom::Node& composeBody) {
    QStringList ids;
    ids.reserve(5);
    if (composeBody.isNull())
        return ids;
    const auto document = platform::dom::Document::parseTidyHTML(composeBody.outerHTML());
    if (document.isNull())
        return ids;
    for (const platform::dom::Node& object : document.nodesForXPath(QStringLiteral("//object"))) {
        QString data = object.getAttribute(QStringLiteral("data"));
        if (data.isNull())
            continue;
        if (data.startsWith(QLatin1String("cid:")))
            data.remove(0, 4);
        ids.append(data);
    }
    return ids;
}

double sizeInMByte(const host::AttachmentRecord& record) {
    return static_cast<double>(record.approximateSize()) / kBytesPerMByte;
}

double thresholdInMByte(const platform::SettingsStore& settings) {
    return static_cast<double>(static_cast<float>(settings.floatForKey(keys::minFileSize)));
}

bool isPerFileMode(const platform::SettingsStore& settings) {
    return settings.integerForKey(keys::fileSizeMode) == 1;
}

std::optional<QStringList> attachmentIDArrayWithCriticalFileSize(const host::ComposeWindow& editor,
                                                                 const platform::SettingsStore& settings,
                                                                 double* criticalSize) {
    const QStringList ids = referencedContentIDs(editor.composeBody());
    const double threshold = thresholdInMByte(settings);

    QList<host::AttachmentRecord> matching;
    for (const host::AttachmentView& view : editor.backEnd().attachments()) {
        const host::AttachmentRecord record = view.attachment();
        // Containment, not equality: the host may decorate the ID the body shows.
        if (platform::containsWordsInArray(record.contentID(), ids))
            matching.append(record);
    }

    if (isPerFileMode(settings)) {
        QStringList result;
        double largest = 0;
        for (const host::AttachmentRecord& record : matching) {
            const double size = sizeInMByte(record);
            if (size <= threshold)
                continue;
            const QString contentID = record.contentID();
            for (const QString& id : ids)
                if (platform::containsString(contentID, id))
                    result.append(id);
            largest = std::max(largest, size);
        }
        if (criticalSize)
            *criticalSize = largest;
        return result;
    }

    qint64 totalBytes = 0;
    for (const host::AttachmentRecord& record : matching)
        totalBytes += record.approximateSize();
    const double total = static_cast<double>(totalBytes) / kBytesPerMByte;
    if (total > threshold) {
        if (criticalSize)
            *criticalSize = total;
        return ids;
    }
    if (criticalSize)
        *criticalSize = 0;
    return std::nullopt;
}

} // namespace qm::plugin
