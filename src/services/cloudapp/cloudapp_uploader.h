#pragma once

#include "services/cloudapp/api_engine.h"
#include "uploaders/uploader_class.h"

#include <QHash>
#include <QList>
#include <QUrl>
#include <memory>

namespace qm::upload {

// Uploads one file at a time to a CloudApp account through the CloudApp engine and reports the item's
// share link and icon. Linking is a test upload of four random bytes named "dummy.bin" with the given
// credentials.
class CloudAppUploader final : public Uploader, private cloudapp::APIEngineDelegate {
public:
    CloudAppUploader(const ServiceEnvironment& environment, QString keychainIdentifier);
    ~CloudAppUploader() override;

    // Deletes the item behind a share link: the one this uploader stored, or any of the account's, whose
    // address the API gives for the link.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

    // Made on first use with the credentials of that moment, then kept.
    cloudapp::APIEngine& cloudAppEngine();

protected:
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    void stopTransfer() override;

private:
    class Removal;

    void fileUploadDidProgress(double progress, const Id& identifier, const QVariant& userInfo) override;
    void fileUploadDidSucceed(const cloudapp::WebItem& item, const Id& identifier,
                              const QVariant& userInfo) override;
    void requestDidFail(const platform::Error& error, const Id& identifier,
                        const QVariant& userInfo) override;
    platform::Error refusal(const QString& path) const;

    ServiceEnvironment environment_;
    QString keychainIdentifier_;
    std::unique_ptr<cloudapp::APIEngine> engine_;
    bool testAuthentication_ = false;
    QString connection_;      // of the current run; outcomes of any other are not this run's
    QHash<QUrl, QUrl> hrefs_; // share link -> the item's API address
};

class CloudAppUploaderClass final : public FlagLinkedUploaderClass {
public:
    explicit CloudAppUploaderClass(const ServiceEnvironment& environment);

    std::unique_ptr<Uploader> create() const override;
};

} // namespace qm::upload
