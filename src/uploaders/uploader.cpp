#include "uploaders/uploader.h"

#include "platform/dispatch.h"

namespace qm::upload {

Uploader::Uploader()
    : self_(std::make_shared<Uploader*>(this)) {}

Uploader::~Uploader() = default;

bool Uploader::uploadFile(const QString& path, bool createPublicLink) {
    if (busy_ || !canStartUpload())
        return false;
    beginRun();
    createPublicLink_ = createPublicLink;
    activeFile_ = path;
    busy_ = true;
    linking_ = false;
    startUpload(path);
    return true;
}

void Uploader::cancelUpload() {
    beginRun();
    busy_ = false;
    linking_ = false;
    stopTransfer();
}

void Uploader::authenticate() {
    beginRun();
    busy_ = false;
    linking_ = true;
    startAuthentication();
}

void Uploader::removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) {
    const QString text = QStringLiteral("This service cannot remove the file it stored at %1.")
                             .arg(link.toDisplayString(QUrl::RemoveUserInfo));
    platform::dispatch::onMain(
        [done = std::move(done), text] { done(platform::Error(QStringLiteral("Quillmoor"), 1, text)); });
}

void Uploader::deliver(std::function<void(UploaderDelegate&)> report) {
    Q_ASSERT_X(platform::dispatch::isMainThread(), "Uploader", "reports are made on the main thread");
    // Always queued: the delegate never runs inside the service's own call stack, so it may start the next
    // upload or destroy this uploader without pulling the ground from under the service.
    platform::dispatch::onMain(
        [weak = std::weak_ptr<Uploader*>(self_), run = generation_, report = std::move(report)] {
            const auto alive = weak.lock();
            // A report queued before a cancel or before the next run began is of a run that is over.
            if (alive && (*alive)->generation_ == run && (*alive)->delegate_)
                report(*(*alive)->delegate_);
        });
}

void Uploader::reportProgress(double fraction) {
    if (!busy_)
        return;
    deliver([fraction, file = activeFile_](UploaderDelegate& d) { d.uploadProgress(fraction, file); });
}

void Uploader::reportLink(const QUrl& link, const QUrl& iconURL) {
    if (!busy_)
        return;
    busy_ = false;
    deliver([link, iconURL, file = activeFile_](UploaderDelegate& d) { d.createdLink(link, file, iconURL); });
}

void Uploader::reportFailure(const platform::Error& error, UploadStatus status) {
    if (!busy_)
        return;
    busy_ = false;
    deliver([status, error](UploaderDelegate& d) { d.uploadFailedWithStatus(status, error); });
}

void Uploader::reportAuthentication(const std::optional<platform::Error>& error) {
    if (!linking_)
        return;
    linking_ = false;
    const platform::Result<void> outcome = error ? platform::Result<void>(*error) : platform::Result<void>();
    deliver([outcome](UploaderDelegate& d) { d.didFinishAuthenticationWithError(outcome); });
}

} // namespace qm::upload
