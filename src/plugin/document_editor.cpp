#include "plugin/document_editor.h"

#include "accounts/settings_keys.h"
#include "platform/string_format.h"
#include "platform/system_log.h"
#include "plugin/active_service.h"
#include "plugin/attachment_selection.h"
#include "plugin/preferences_opener.h"
#include "plugin/texts.h"
#include "uploaders/service_id.h"

namespace qm::plugin {

namespace keys = accounts::keys;
using host::ComposeWindow;

DocumentEditor::DocumentEditor(PluginContext& context, UploadPipeline& pipeline)
    : context_(context)
    , pipeline_(pipeline) {}

host::Class* DocumentEditor::defineCategoryClass() const {
    host::Class* category = context_.host.runtime().addClass(QString::fromLatin1(categoryClassName));
    if (!category)
        return nullptr;
    auto editorOf = [](const host::Invocation& call) {
        return ComposeWindow(call.self ? call.self->shared_from_this() : host::ObjectPtr());
    };
    category->addInstanceMethod(QString::fromLatin1(quillmoorSendSelector),
                                [this, editorOf](const host::Invocation& call) {
                                    quillmoorSend(editorOf(call), call.argument(0));
                                    return QVariant();
                                });
    category->addInstanceMethod(QString::fromLatin1(quillmoorWindowWillCloseSelector),
                                [this, editorOf](const host::Invocation& call) {
                                    quillmoorWindowWillClose(editorOf(call), call.argument(0));
                                    return QVariant();
                                });
    return category;
}

void DocumentEditor::hostSend(const ComposeWindow& editor, const QVariant& sender) {
    editor.call(QString::fromLatin1(quillmoorSendSelector), {sender});
}

void DocumentEditor::quillmoorSend(const ComposeWindow& editor, const QVariant& sender) const {
    double criticalSize = 0;
    const std::optional<QStringList> ids =
        attachmentIDArrayWithCriticalFileSize(editor, context_.settings, &criticalSize);
    if (!ids || ids->isEmpty()) {
        hostSend(editor, sender);
        return;
    }
    if (criticalSize <= 0)
        platform::SystemLog::write(QString::fromLatin1(texts::criticalSizeNotPositive));

    if (activeService(context_.settings, context_.services) == upload::ServiceId::None)
        showReminderSheetForFileSize(editor, criticalSize);
    else if (!context_.settings.boolForKey(keys::askBeforeUpload))
        pipeline_.prepareAndUploadAttachments(editor);
    else
        showSheetForFileSize(editor, criticalSize);
}

void DocumentEditor::quillmoorWindowWillClose(const ComposeWindow& editor,
                                              const QVariant& notification) const {
    pipeline_.editorWillClose(editor);
    editor.call(QString::fromLatin1(quillmoorWindowWillCloseSelector), {notification});
}

QString DocumentEditor::sheetFormat() const {
    const char* format = isPerFileMode(context_.settings) ? texts::perFileFormat : texts::totalFormat;
    return context_.bundle.localized(QString::fromLatin1(format));
}

QString DocumentEditor::iconPath() const {
    return context_.bundle.pathForResource(QStringLiteral("Quillmoor"), QStringLiteral("png"));
}

void DocumentEditor::beginSheet(const ComposeWindow& editor, host::AlertRequest request,
                                void (DocumentEditor::*didEnd)(const ComposeWindow&, int) const) const {
    request.iconPath = iconPath();
    // The window may close while the sheet is up; then there is nothing left to act on.
    std::weak_ptr<host::Object> weakEditor = editor.object();
    context_.host.ui().beginAlertSheet(request, editor.window(), [this, weakEditor, didEnd](int returnCode) {
        if (const host::ObjectPtr object = weakEditor.lock())
            (this->*didEnd)(ComposeWindow(object), returnCode);
    });
}

void DocumentEditor::showReminderSheetForFileSize(const ComposeWindow& editor, double criticalSize) const {
    const platform::Bundle& bundle = context_.bundle;
    const QString format = sheetFormat() + bundle.localized(QString::fromLatin1(texts::noServiceAppendix));
    host::AlertRequest request;
    request.title = bundle.localized(QString::fromLatin1(texts::reminderTitle));
    request.informativeText =
        platform::formatString(format, {thresholdInMByte(context_.settings), criticalSize});
    request.defaultButton = bundle.localized(QString::fromLatin1(texts::sendAttachments));
    request.alternateButton = bundle.localized(QString::fromLatin1(texts::configureQuillmoor));
    beginSheet(editor, request, &DocumentEditor::reminderSheetDidEnd);
}

void DocumentEditor::reminderSheetDidEnd(const ComposeWindow& editor, int returnCode) const {
    if (returnCode == host::AlertDefaultReturn) {
        hostSend(editor, host::toVariant(editor.object()));
    } else if (returnCode == host::AlertAlternateReturn) {
        showPluginPreferences(context_);
    }
}

void DocumentEditor::showSheetForFileSize(const ComposeWindow& editor, double criticalSize) const {
    const platform::Bundle& bundle = context_.bundle;
    host::AlertRequest request;
    request.title = bundle.localized(QString::fromLatin1(texts::reminderTitle));
    request.informativeText =
        platform::formatString(sheetFormat(), {thresholdInMByte(context_.settings), criticalSize});
    request.defaultButton = bundle.localized(QString::fromLatin1(texts::uploadAttachments));
    request.alternateButton = bundle.localized(QString::fromLatin1(texts::cancel));
    request.otherButton = bundle.localized(QString::fromLatin1(texts::sendAttachments));
    beginSheet(editor, request, &DocumentEditor::fileSheetDidEnd);
}

void DocumentEditor::fileSheetDidEnd(const ComposeWindow& editor, int returnCode) const {
    switch (returnCode) {
    case host::AlertDefaultReturn:
        pipeline_.prepareAndUploadAttachments(editor);
        break;
    case host::AlertOtherReturn:
        hostSend(editor, host::toVariant(editor.object()));
        break;
    default: // Cancel: the message stays as it is
        break;
    }
}

} // namespace qm::plugin
