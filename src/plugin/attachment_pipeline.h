#pragma once

#include "host/compose_window.h"
#include "plugin/attachment_compressor.h"
#include "plugin/download_box.h"
#include "plugin/plugin_context.h"
#include "plugin/upload_controller.h"
#include "plugin/upload_pipeline.h"

namespace qm::plugin {

// Moves a compose window's large attachments once the user agreed:
//
//   copies in the working directory --> compressing (pool) --> attachments hidden, draft saved
//     --> uploading (progress sheet) --+--> links: download box in the body, copies deleted, optional send
//                                      +--> failure or cancel: attachments restored, sheet ended, alert
//
// Nothing of a message is lost on the way: every ending that is not a sent or rewritten message puts the
// attachments back.
class AttachmentPipeline final : public UploadPipeline, private UploadControllerDelegate {
public:
    AttachmentPipeline(PluginContext& context, QString workingDirectory);

    void prepareAndUploadAttachments(const host::ComposeWindow& editor) override;
    void editorWillClose(const host::ComposeWindow& editor) override;

    UploadControllerRegistry& controllers() { return controllers_; }
    const QString& workingDirectory() const { return workingDirectory_; }

    // Hides the object element of each ID behind a comment holding its markup, and brings it back.
    static void commentAttachmentsForIDs(const host::ComposeWindow& editor, const QStringList& ids);
    static void uncommentAttachmentsForIDs(const host::ComposeWindow& editor, const QStringList& ids);
    // The recipients' bare addresses.
    static QStringList recipientList(const host::ComposeWindow& editor);

    void cancelWithStatus(const host::ComposeWindow& editor, upload::UploadStatus status,
                          const QString& message);
    void receivedShareLinks(const host::ComposeWindow& editor, const QList<FileInfo>& files);

private:
    void receivedShareLinks(UploadController& controller, const QList<FileInfo>& files) override;
    void cancelWithStatus(UploadController& controller, upload::UploadStatus status,
                          const QString& message) override;

    void doUploadAttachments(const host::ComposeWindow& editor, const QStringList& paths,
                             const QStringList& ids);
    void compressionFinished(const host::ComposeWindow& editor, const AttachmentCompressor::Result& result,
                             const QStringList& ids);
    bool insertBox(const host::ComposeWindow& editor, const QString& boxHTML) const;
    void showInformation(upload::UploadStatus status, const QString& message) const;
    QString localized(const char* text) const;

    PluginContext& context_;
    QString workingDirectory_;
    UploadControllerRegistry controllers_;
    DownloadBox downloadBox_;
    std::shared_ptr<AttachmentPipeline*> self_; // work coming back from the pool checks it is still wanted
};

} // namespace qm::plugin
