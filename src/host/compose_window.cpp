#include "host/compose_window.h"

#include "host/selectors.h"

#include <QUrl>

namespace qm::host {

namespace sel = selectors;

platform::Result<void> FileWrapper::writeTo(const QString& path) const {
    const QVariantList arguments{QUrl::fromLocalFile(path), WritingAtomic | WritingWithNameUpdating,
                                 QVariant()};
    const QVariant written = call(sel::writeToURL, arguments);
    if (written.canConvert<platform::Error>())
        return written.value<platform::Error>();
    if (written.typeId() == QMetaType::Bool && written.toBool())
        return {};
    return platform::Error(QStringLiteral("QuillmoorHostErrorDomain"), 1,
                           QStringLiteral("The attachment could not be written."));
}

QString FileWrapper::sourcePath() const {
    return callString(sel::sourcePath);
}

QString AttachmentRecord::contentID() const {
    return callString(sel::contentID);
}
qint64 AttachmentRecord::approximateSize() const {
    return callInteger(sel::approximateSize);
}
FileWrapper AttachmentRecord::fileWrapper() const {
    return FileWrapper(callObject(sel::fileWrapper));
}
QString AttachmentRecord::filename() const {
    return callString(sel::filename);
}

AttachmentRecord AttachmentView::attachment() const {
    return AttachmentRecord(callObject(sel::attachment));
}

QList<AttachmentView> ComposeBackEnd::attachments() const {
    QList<AttachmentView> views;
    for (const QVariant& value : callList(sel::attachments))
        views.append(AttachmentView(toObject(value)));
    return views;
}

QString ComposeBackEnd::subject() const {
    return callString(sel::subject);
}

QStringList ComposeBackEnd::allRecipients() const {
    QStringList recipients;
    for (const QVariant& value : callList(sel::allRecipients))
        if (value.typeId() == QMetaType::QString)
            recipients.append(value.toString());
    return recipients;
}

platform::dom::Node WebView::contentElement() const {
    return call(sel::contentElement).value<platform::dom::Node>();
}

platform::dom::Document WebView::document() const {
    const ObjectFacade frame(callObject(sel::mainFrame));
    return frame.call(sel::domDocument).value<platform::dom::Document>();
}

WebView WebViewEditor::webView() const {
    return WebView(callObject(sel::webView));
}
bool WebViewEditor::allowsRichText() const {
    return callBool(sel::allowsRichText);
}

ComposeBackEnd ComposeWindow::backEnd() const {
    return ComposeBackEnd(callObject(sel::backEnd));
}
WebViewEditor ComposeWindow::webViewEditor() const {
    return WebViewEditor(callObject(sel::webViewEditor));
}
ObjectPtr ComposeWindow::window() const {
    return callObject(sel::window);
}

bool ComposeWindow::saveMessageToDrafts() const {
    if (!respondsTo(sel::saveMessageToDrafts))
        return false;
    call(sel::saveMessageToDrafts, {QVariant()});
    return true;
}

platform::dom::Node ComposeWindow::composeBody() const {
    return webViewEditor().webView().contentElement();
}

} // namespace qm::host
