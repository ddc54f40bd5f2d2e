#include "services/dropbox/dropbox_uploader.h"

#include "accounts/settings_keys.h"
#include "services/dropbox/dropbox_service.h"

#include <QFileInfo>

namespace qm::upload {

DropboxUploader::DropboxUploader(const ServiceEnvironment& environment,
                                 std::shared_ptr<dropbox::Session> session, qint64 chunkSize)
    : environment_(environment)
    , session_(std::move(session))
    , restClient_(*session_, this, chunkSize) {}

DropboxUploader::~DropboxUploader() = default;

double DropboxUploader::fraction(double p, qint64 offset, qint64 fileSize, qint64 chunkSize) {
    if (fileSize <= 0)
        return 1.0;
    const double size = static_cast<double>(fileSize);
    return std::min(static_cast<double>(chunkSize) / size, 1.0) * p + static_cast<double>(offset) / size;
}

void DropboxUploader::startUpload(const QString& path) {
    restClient_.uploadFileChunk({}, 0, path);
}

void DropboxUploader::stopTransfer() {
    restClient_.cancelAllRequests();
}

void DropboxUploader::uploadedFileChunk(const QString& uploadId, qint64 newOffset, const QString& fromFile) {
    if (!busy())
        return;
    const qint64 size = QFileInfo(fromFile).size();
    if (size > newOffset) {
        restClient_.uploadFileChunk(uploadId, newOffset, fromFile);
        return;
    }
    restClient_.uploadFile(QFileInfo(fromFile).fileName(), QStringLiteral("/"), uploadId, newOffset);
}

void DropboxUploader::uploadFileChunkProgress(double progress, const QString& path, qint64 offset) {
    if (busy())
        reportProgress(fraction(progress, offset, QFileInfo(path).size(), restClient_.chunkSize()));
}

void DropboxUploader::uploadFileChunkFailed(const platform::Error& error) {
    reportFailure(error);
}

void DropboxUploader::uploadedFile(const QString&, const QVariantMap& metadata) {
    if (!busy())
        return;
    QString path = metadata.value(QStringLiteral("path_display")).toString();
    if (path.isEmpty())
        path = metadata.value(QStringLiteral("path_lower")).toString();
    restClient_.loadSharableLink(path);
}

void DropboxUploader::uploadFromUploadIdFailed(const platform::Error& error) {
    reportFailure(error);
}

void DropboxUploader::loadedSharableLink(const QString& link, const QString&) {
    reportLink(QUrl(link));
}

void DropboxUploader::loadSharableLinkFailed(const platform::Error& error) {
    reportFailure(error);
}

void DropboxUploader::startAuthentication() {
    const bool linked = session_->isLinked();
    (void)environment_.settings.setBool(linked, QString::fromLatin1(accounts::keys::dropboxLinked));
    if (linked) {
        reportAuthentication(std::nullopt);
        return;
    }
    authHelper_ =
        std::make_unique<dropbox::AuthHelper>(*session_, [this](const QUrl& page) { return openPage(page); });
    authHelper_->stateChanged = inRun([this] { authStateChanged(); });
    authHelper_->authenticate();
}

void DropboxUploader::authStateChanged() {
    if (!authHelper_ || authHelper_->isLoading())
        return;
    if (session_->isLinked() && !authHelper_->error()) {
        (void)environment_.settings.setBool(true, QString::fromLatin1(accounts::keys::dropboxLinked));
        reportAuthentication(std::nullopt);
        return;
    }
    // A sign-in that failed says why, rather than leaving the attempt open.
    if (authHelper_->error())
        reportAuthentication(authHelper_->error());
}

bool DropboxUploader::finishSignIn(const QString& redirectOrCode) {
    return linking() && authHelper_ && authHelper_->handleRedirect(redirectOrCode);
}

DropboxUploaderClass::DropboxUploaderClass(const ServiceEnvironment& environment, dropbox::Config config,
                                           qint64 chunkSize)
    : FlagLinkedUploaderClass(environment, dropboxService())
    , session_(std::make_shared<dropbox::Session>(environment.credentials.secretStore(), keychainIdentifier(),
                                                  std::move(config)))
    , chunkSize_(chunkSize) {}

std::unique_ptr<Uploader> DropboxUploaderClass::create() const {
    return std::make_unique<DropboxUploader>(environment(), session_, chunkSize_);
}

QStringList DropboxUploaderClass::redirectSchemes() const {
    if (session_->config().appKey.isEmpty())
        return {};
    return {session_->config().scheme()};
}

void DropboxUploaderClass::prepareAtStartup() {
    setIsLinked(session_->isLinked());
}

} // namespace qm::upload
