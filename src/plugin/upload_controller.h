#pragma once

#include "host/interface_objects.h"
#include "plugin/file_info.h"
#include "plugin/plugin_context.h"
#include "uploaders/uploader.h"

#include <QStringList>
#include <memory>

namespace qm::plugin {

class UploadController;

// The compose window's side of an upload run.
class UploadControllerDelegate {
public:
    virtual ~UploadControllerDelegate() = default;
    // Every file has its link; `files` in upload order.
    virtual void receivedShareLinks(UploadController& controller, const QList<FileInfo>& files) = 0;
    // The run ended without links: 1 failed, 2 cancelled by the user, other values informational.
    virtual void cancelWithStatus(UploadController& controller, upload::UploadStatus status,
                                  const QString& message) = 0;
};

// Drives one upload run for one compose window: one uploader of the active service, the files one after
// the other in order, per-file statistics, and a progress panel that the window shows as a sheet.
//
//   inactive --uploadFiles()--> active --(link for every file | failure)--> reported to the delegate
//                                 |
//                                 +--cancelUpload()--> inactive: later uploader reports are ignored
class UploadController final : public upload::UploaderDelegate {
public:
    UploadController(PluginContext& context, host::ObjectPtr editor, UploadControllerDelegate& delegate);
    ~UploadController() override;

    // The service to upload to: the selected one when linked, else ServiceId::None.
    static upload::ServiceId activeService(const PluginContext& context);

    // Starts a run; true when the first upload has started.
    bool uploadFiles(const QStringList& paths, const QStringList& ids, const QStringList& recipients);
    // The panel's cancel button.
    void cancelUpload();

    void uploadProgress(double fraction, const QString& file) override;
    void createdLink(const QUrl& link, const QString& file, const QUrl& iconURL) override;
    void uploadFailedWithStatus(upload::UploadStatus status, const platform::Error& error) override;

    host::ObjectPtr editor() const { return editor_.lock(); }
    const host::Object* editorIdentity() const { return editorIdentity_; }
    upload::Uploader* uploader() const { return uploader_.get(); }
    const QList<FileInfo>& fileStatsArray() const { return fileStats_; }
    bool active() const { return active_; }
    const QStringList& filePathArray() const { return filePaths_; }
    const QStringList& fileIDArray() const { return fileIDs_; }
    const std::shared_ptr<host::Panel>& progressPanel() const { return progressPanel_; }
    const std::shared_ptr<host::ProgressIndicator>& progressIndicator() const { return progressIndicator_; }
    const std::shared_ptr<host::TextField>& progressText() const { return progressText_; }

private:
    void updateProgressBar();
    void forEachStatOf(const QString& file, const std::function<void(FileInfo&)>& update);

    PluginContext& context_;
    std::weak_ptr<host::Object> editor_;
    const host::Object* editorIdentity_;
    UploadControllerDelegate& delegate_;
    std::unique_ptr<upload::Uploader> uploader_;
    QList<FileInfo> fileStats_;
    QStringList filePaths_;
    QStringList fileIDs_;
    bool active_ = false;
    std::shared_ptr<host::Panel> progressPanel_;
    std::shared_ptr<host::ProgressIndicator> progressIndicator_;
    std::shared_ptr<host::TextField> progressText_;
    std::shared_ptr<UploadController*> self_;
};

// One controller per compose window, found by the window's identity, kept until the window closes.
class UploadControllerRegistry {
public:
    UploadControllerRegistry(PluginContext& context, UploadControllerDelegate& delegate)
        : context_(context)
        , delegate_(delegate) {}

    UploadController& uploadControllerForDelegate(const host::ObjectPtr& editor);
    void removeUploadControllerForDelegate(const host::Object* editor);
    qsizetype size() const { return static_cast<qsizetype>(controllers_.size()); }

private:
    PluginContext& context_;
    UploadControllerDelegate& delegate_;
    std::vector<std::unique_ptr<UploadController>> controllers_;
};

} // namespace qm::plugin
