#include "plugin/upload_controller.h"

#include "accounts/settings_keys.h"
#include "host/interface_loading.h"
#include "platform/string_format.h"
#include "plugin/active_service.h"
#include "plugin/texts.h"

#include <QFileInfo>

namespace qm::plugin {

namespace keys = accounts::keys;

UploadController::UploadController(PluginContext& context, host::ObjectPtr editor,
                                   UploadControllerDelegate& delegate)
    : context_(context)
    , editor_(editor)
    , editorIdentity_(editor.get())
    , delegate_(delegate)
    , self_(std::make_shared<UploadController*>(this)) {
    fileStats_.reserve(5);
    // The host keeps the panel's actions; a click after this controller is gone must find nothing.
    const host::InterfaceActions actions{
        {QStringLiteral("cancelUpload:"), [alive = std::weak_ptr<UploadController*>(self_)] {
             if (const auto controller = alive.lock())
                 (*controller)->cancelUpload();
         }}};
    const auto owner = std::make_shared<host::InterfaceOwner>(
        host::InterfaceOwner{context_.bundle.bundlePath(), actions, {}});
    if (host::loadInterfaceNamed(context_.host.runtime(), QStringLiteral("UploadProgressView"), owner) &&
        owner->loaded) {
        const host::LoadedInterface* loaded = &*owner->loaded;
        progressPanel_ = loaded->outlet<host::Panel>(QStringLiteral("progressPanel"));
        progressIndicator_ = loaded->outlet<host::ProgressIndicator>(QStringLiteral("progressIndicator"));
        progressText_ = loaded->outlet<host::TextField>(QStringLiteral("progressText"));
    }
}

UploadController::~UploadController() {
    // Reports still queued for the uploader must not reach a controller that is gone.
    if (uploader_)
        uploader_->setDelegate(nullptr);
}

upload::ServiceId UploadController::activeService(const PluginContext& context) {
    return plugin::activeService(context.settings, context.services);
}

bool UploadController::uploadFiles(const QStringList& paths, const QStringList& ids,
                                   const QStringList& recipients) {
    if (paths.isEmpty())
        return false;
    filePaths_ = paths;
    fileIDs_ = ids;
    fileStats_.clear();
    for (const QString& path : paths)
        fileStats_.append(FileInfo{{file_info::path, path},
                                   {file_info::size, static_cast<quint64>(QFileInfo(path).size())},
                                   {file_info::sizePart, quint64(0)}});

    if (progressIndicator_) {
        progressIndicator_->setIndeterminate(false);
        progressIndicator_->setDoubleValue(0);
    }
    if (progressText_) {
        const char* text = context_.settings.boolForKey(keys::autoSendEmail) ? texts::progressAutoSend
                                                                             : texts::progressManualSend;
        progressText_->setStringValue(context_.bundle.localized(QString::fromLatin1(text)));
    }

    if (uploader_)
        uploader_->setDelegate(nullptr);
    const upload::UploaderClass* serviceClass = context_.services.classForService(activeService(context_));
    uploader_ = serviceClass ? serviceClass->create() : nullptr;
    if (!uploader_)
        return false;

    const upload::ServiceDescription& service = serviceClass->description();
    if (service.needsRecipients) {
        if (recipients.isEmpty())
            return false;
        uploader_->setRecipientList(recipients);
    }
    if (!service.reportsProgress && progressIndicator_) {
        progressIndicator_->setIndeterminate(true);
        progressIndicator_->startAnimation();
    }

    uploader_->setDelegate(this);
    active_ = true;
    return uploader_->uploadFile(fileStats_.first().value(file_info::path).toString(), true);
}

void UploadController::cancelUpload() {
    active_ = false;
    if (uploader_)
        uploader_->cancelUpload();
    delegate_.cancelWithStatus(*this, upload::UploadStatus::CancelledByUser, QString());
}

void UploadController::forEachStatOf(const QString& file, const std::function<void(FileInfo&)>& update) {
    // Uploaders may hand back another path to the same file; the name identifies it.
    const QString name = QFileInfo(file).fileName();
    for (FileInfo& stats : fileStats_)
        if (QFileInfo(stats.value(file_info::path).toString()).fileName() == name)
            update(stats);
}

void UploadController::updateProgressBar() {
    float totalSize = 0;
    float totalPart = 0;
    for (const FileInfo& stats : fileStats_) {
        totalSize += stats.value(file_info::size).toFloat();
        totalPart += stats.value(file_info::sizePart).toFloat();
    }
    // Empty files give no fraction to show; the bar then waits for the links.
    if (!progressIndicator_ || totalSize <= 0)
        return;
    const double percent = 100.0 / totalSize * totalPart;
    progressIndicator_->setDoubleValue(std::max(percent, progressIndicator_->doubleValue()));
}

void UploadController::uploadProgress(double fraction, const QString& file) {
    if (!active_)
        return;
    forEachStatOf(file, [fraction](FileInfo& stats) {
        const double done = stats.value(file_info::size).toDouble() * std::clamp(fraction, 0.0, 1.0);
        stats.insert(file_info::sizePart, static_cast<quint64>(done));
    });
    updateProgressBar();
}

void UploadController::createdLink(const QUrl& link, const QString& file, const QUrl& iconURL) {
    if (!active_)
        return;
    if (!link.isValid() || link.isEmpty()) {
        // A box entry without an address would send the message with a file neither attached nor linked.
        const QString format = context_.bundle.localized(QString::fromLatin1(texts::noLinkForFile));
        endRun(upload::UploadStatus::Failed, platform::formatString(format, {QFileInfo(file).fileName()}));
        return;
    }
    forEachStatOf(file, [&](FileInfo& stats) {
        stats.insert(file_info::linkURL, link);
        if (!iconURL.isEmpty())
            stats.insert(file_info::iconURL, iconURL);
    });
    for (FileInfo& stats : fileStats_)
        if (stats.contains(file_info::linkURL))
            stats.insert(file_info::sizePart, stats.value(file_info::size));
    updateProgressBar();

    const auto pending = std::find_if(fileStats_.cbegin(), fileStats_.cend(), [](const FileInfo& stats) {
        return !stats.contains(file_info::linkURL);
    });
    if (pending == fileStats_.cend()) {
        active_ = false;
        if (progressIndicator_)
            progressIndicator_->stopAnimation();
        // Last: the delegate may send the message and close its window, which ends this controller.
        const QList<FileInfo> files = fileStats_;
        delegate_.receivedShareLinks(*this, files);
        return;
    }
    if (!uploader_->uploadFile(pending->value(file_info::path).toString(), true))
        endRun(upload::UploadStatus::Failed,
               context_.bundle.localized(QString::fromLatin1(texts::uploadNotStarted)));
}

void UploadController::uploadFailedWithStatus(upload::UploadStatus status, const platform::Error& error) {
    if (!active_)
        return;
    endRun(status, error.localizedDescription);
}

void UploadController::endRun(upload::UploadStatus status, const QString& message) {
    // Whatever the uploader still reports belongs to a run that is over.
    active_ = false;
    if (progressIndicator_)
        progressIndicator_->stopAnimation();
    delegate_.cancelWithStatus(*this, status, message);
}

UploadController& UploadControllerRegistry::uploadControllerForDelegate(const host::ObjectPtr& editor) {
    // A window that went away without closing must not lend its controller to a new one at its address.
    std::erase_if(controllers_, [](const auto& controller) { return !controller->editor(); });
    for (const auto& controller : controllers_)
        if (controller->editorIdentity() == editor.get())
            return *controller;
    controllers_.push_back(std::make_unique<UploadController>(context_, editor, delegate_));
    return *controllers_.back();
}

void UploadControllerRegistry::removeUploadControllerForDelegate(const host::Object* editor) {
    const auto found =
        std::find_if(controllers_.begin(), controllers_.end(),
                     [editor](const auto& controller) { return controller->editorIdentity() == editor; });
    if (found != controllers_.end())
        controllers_.erase(found);
}

} // namespace qm::plugin
