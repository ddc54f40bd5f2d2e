#pragma once

#include "platform/bundle.h"
#include "services/dropbox/dropbox_auth_helper.h"
#include "services/dropbox/dropbox_rest_client.h"
#include "uploaders/uploader_class.h"

#include <memory>

namespace qm::upload {

// Uploads each file in chunks into the application's folder of the user's Dropbox and asks for a shared
// link. Linking signs in through the browser; the redirect comes back through the "db-" scheme, which the
// URL handler hands to finishSignIn().
class DropboxUploader final : public Uploader, private dropbox::RestClientDelegate {
public:
    DropboxUploader(const ServiceEnvironment& environment, std::shared_ptr<dropbox::Session> session,
                    qint64 chunkSize = dropbox::RestClient::defaultChunkSize);
    ~DropboxUploader() override;

    bool finishSignIn(const QString& redirectOrCode) override;

    // The delegate's share of the file for a chunk's progress `p`, every chunk counting as `chunkSize`.
    static double fraction(double p, qint64 offset, qint64 fileSize, qint64 chunkSize);

protected:
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    void stopTransfer() override;

private:
    void uploadedFileChunk(const QString& uploadId, qint64 newOffset, const QString& fromFile) override;
    void uploadFileChunkProgress(double progress, const QString& path, qint64 offset) override;
    void uploadFileChunkFailed(const platform::Error& error) override;
    void uploadedFile(const QString& uploadId, const QVariantMap& metadata) override;
    void uploadFromUploadIdFailed(const platform::Error& error) override;
    void loadedSharableLink(const QString& link, const QString& path) override;
    void loadSharableLinkFailed(const platform::Error& error) override;
    void authStateChanged();

    ServiceEnvironment environment_;
    std::shared_ptr<dropbox::Session> session_;
    dropbox::RestClient restClient_;
    std::unique_ptr<dropbox::AuthHelper> authHelper_;
};

// Dropbox's class: the link flag "RVQuilldropDropboxLinked", copied from the session at start-up; the
// "db-" scheme of its key; unlinking drops the session's tokens.
class DropboxUploaderClass final : public FlagLinkedUploaderClass {
public:
    explicit DropboxUploaderClass(const ServiceEnvironment& environment,
                                  dropbox::Config config = dropbox::Config::fromEnvironment(),
                                  qint64 chunkSize = dropbox::RestClient::defaultChunkSize);
    // As every service is made: the bundle names nothing of Dropbox's.
    DropboxUploaderClass(const ServiceEnvironment& environment, const platform::Bundle&)
        : DropboxUploaderClass(environment) {}

    std::unique_ptr<Uploader> create() const override;
    QStringList redirectSchemes() const override;
    void prepareAtStartup() override;
    void unlinkAll() override { session_->unlinkAll(); }
    dropbox::Session& session() { return *session_; }

private:
    std::shared_ptr<dropbox::Session> session_;
    qint64 chunkSize_;
};

} // namespace qm::upload
