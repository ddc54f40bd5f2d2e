#pragma once

#include "platform/bundle.h"
#include "services/googledrive/drive_authorization.h"
#include "services/googledrive/drive_client.h"
#include "uploaders/uploader_class.h"

#include <QHash>
#include <QUrl>
#include <functional>
#include <memory>

namespace qm::upload {

namespace gdrive {
class LoopbackReceiver;
}

// Opens a page in the user's browser; false when nothing could open it. Without one, the host's page
// opener (Uploader::setPageOpener) shows the sign-in page.
using OpenUrl = std::function<bool(const QUrl&)>;

// Stores each file in the folder named after the bundle at the top of the user's Google Drive and, for a
// public link, lets anyone with the link read it. The link is the file's download link.
//
// Linking: the sign-in page opens in the browser with a loopback redirect on 127.0.0.1 and a proof key;
// the answer comes back to the listener, or through finishSignIn() (the copied address or bare code);
// the code is exchanged for tokens, the account's e-mail read, the authorization stored, and the folder
// found or made before linking is reported.
class GoogleDriveUploader final : public Uploader {
public:
    GoogleDriveUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                        QString keychainIdentifier, gdrive::DriveOptions options, OpenUrl openUrl);
    ~GoogleDriveUploader() override;

    // The stored authorization can authorize and names the account.
    bool isSignedIn() const;
    // Forgets the account: the stored authorization goes, and this uploader's with it.
    void unlinkAll();

    bool finishSignIn(const QString& redirectOrCode) override;
    // Deletes the file behind a link this service reported (its id is in the link).
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

    // The MIME type of `name`'s extension, else `defaultType`.
    static QString mimeTypeForFileName(const QString& name, const QString& defaultType);

protected:
    // Signed in, and the folder id stored.
    bool canStartUpload() const override;
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    void stopTransfer() override;

private:
    // False, with nothing changed, when the answer does not carry this sign-in's state.
    bool signInAnswered(const QUrl& redirect);
    void exchangeCode(const QString& code);
    void lookUpFolder();
    void storeFolder(const QString& id);
    void shareAndReport(const gdrive::DriveFile& file);
    // Deletes a stored file that will not be reported, on a client of its own.
    void discard(const QString& fileId);
    void linkingFailed(const platform::Error& error);
    void endSignIn();
    std::shared_ptr<gdrive::DriveClient> newClient() const;
    // Named after the bundle, at the top of the Drive.
    QString folderName() const { return bundle_.name(); }

    ServiceEnvironment environment_;
    platform::Bundle bundle_;
    QString keychainIdentifier_;
    gdrive::DriveOptions options_;
    OpenUrl openUrl_;
    std::shared_ptr<gdrive::DriveClient> client_;
    std::unique_ptr<gdrive::LoopbackReceiver> receiver_;
    std::optional<gdrive::ProofKey> proof_;
    QString redirectUri_;
    bool exchanging_ = false; // a code is being exchanged: later answers of the browser are ignored
    // The file id behind each link reported, for removeUploadedFile().
    QHash<QUrl, QString> stored_;
    QString pendingFileId_; // stored but not yet reported: removed when the run ends before that
};

// Linked while the credential store holds an authorization that can authorize and names the account.
class GoogleDriveUploaderClass final : public UploaderClass {
public:
    GoogleDriveUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                             OpenUrl openUrl = {});

    bool isLinked() const override;
    // Unlinking removes the stored authorization; linking records nothing (the sign-in stored it).
    void setIsLinked(bool linked) override;
    void unlinkAll() override;
    std::unique_ptr<Uploader> create() const override;

    // Timeouts, waits and the chunk size of the uploaders made from now on.
    gdrive::DriveOptions& options() { return options_; }
    void setOpenUrl(OpenUrl openUrl) { openUrl_ = std::move(openUrl); }

private:
    platform::Bundle bundle_;
    OpenUrl openUrl_;
    gdrive::DriveOptions options_;
};

} // namespace qm::upload
