#pragma once

#include "host/compose_window.h"
#include "plugin/plugin_context.h"
#include "plugin/upload_pipeline.h"

namespace qm::plugin {

// The plug-in's operations of the compose window. They are defined on the category class
// "RVQuillmoorDocumentEditor", whose operations start-up copies into the host's compose window class and
// then exchanges with the host's send and close, so that:
//   "send:"                      runs quillmoorSend(),  and "quillmoorSend:" runs the host's send;
//   "windowWillClose:"           runs quillmoorWindowWillClose(), and "quillmoorWindowWillClose:" the host's.
class DocumentEditor {
public:
    static constexpr char categoryClassName[] = "RVQuillmoorDocumentEditor";
    static constexpr char quillmoorSendSelector[] = "quillmoorSend:";
    static constexpr char quillmoorWindowWillCloseSelector[] = "quillmoorWindowWillClose:";

    DocumentEditor(PluginContext& context, UploadPipeline& pipeline);

    // Registers the category class in the host's runtime; nullptr when a class of that name exists.
    // The class's operations call into this object, which must outlive the runtime's use of them.
    host::Class* defineCategoryClass() const;

    // The decision at Send: the host's send, the reminder sheet, the upload sheet, or the upload at once.
    void quillmoorSend(const host::ComposeWindow& editor, const QVariant& sender) const;
    void quillmoorWindowWillClose(const host::ComposeWindow& editor, const QVariant& notification) const;

    void showReminderSheetForFileSize(const host::ComposeWindow& editor, double criticalSize) const;
    void reminderSheetDidEnd(const host::ComposeWindow& editor, int returnCode) const;
    void showSheetForFileSize(const host::ComposeWindow& editor, double criticalSize) const;
    void fileSheetDidEnd(const host::ComposeWindow& editor, int returnCode) const;

    // The host's own send, reached through the exchanged name.
    static void hostSend(const host::ComposeWindow& editor, const QVariant& sender);

private:
    QString sheetFormat() const;
    QString iconPath() const;
    void beginSheet(const host::ComposeWindow& editor, host::AlertRequest request,
                    void (DocumentEditor::*didEnd)(const host::ComposeWindow&, int) const) const;

    PluginContext& context_;
    UploadPipeline& pipeline_;
};

} // namespace qm::plugin
