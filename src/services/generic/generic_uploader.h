#pragma once

#include "platform/bundle.h"
#include "uploaders/file_transfer.h"
#include "uploaders/uploader_class.h"

#include <QStringList>
#include <QUrl>

namespace qm::upload {

inline constexpr char kRVErrorDomain[] = "RVErrorDomain";
enum GenericUploaderErrorCode : int {
    RemoteFileNotFound = 42, // the test file did not come back from its check address
    AuthenticationFailed = 43,
    PublicLinkUnreachable = 44, // the stored file's public link did not answer with 2xx
};

// Stores files in a folder of the user's own server, addressed by "QuillmoorGenericServer" (sftp, ftp,
// ftps, http(s) with WebDAV, file), and links them under "QuillmoorGenericPublicURL" when that is set.
class GenericUploader final : public Uploader {
public:
    GenericUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                    QString keychainIdentifier, FileTransfer::Options transferOptions = {});
    ~GenericUploader() override;

    // Deletes the file behind a link this service reported: its public link or its server address.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

    // Where the server text points: the base URL (scheme, user, host, port) and the folder path in it.
    struct ServerLocation {
        QUrl baseURL;
        QString folder;
    };
    static ServerLocation serverLocation(const QString& serverText);
    // `name`, or the first free "%@-%ld.%@" of it, given the names already in the folder.
    static QString availableName(const QString& name, const QStringList& taken);
    // The public address with `name` appended as one path component.
    static QUrl publicLink(const QString& publicAddress, const QString& name);

protected:
    void startUpload(const QString& path) override;
    // Test write of "dummy.bin", read back through the public address (anonymously) or, without one, from
    // the server with the login; then deleted.
    void startAuthentication() override;
    // Aborts the transfer under way.
    void stopTransfer() override;

private:
    FileTransfer& fileManager();
    void handleChallenge(const TransferChallenge& challenge, ChallengeReply reply);
    void storeFile(const QString& path, const ServerLocation& location, const QStringList& taken);
    void checkPublicLink(const QUrl& remote, const QUrl& link);
    void checkTestFile(const QUrl& remote, const QByteArray& bytes);
    QString localized(const char* text) const;
    QString setting(const char* key) const;
    QUrl folderURL(const ServerLocation& location, const QString& name = {}) const;
    // Where the file behind `link` lies on the server; empty for a link that is not this service's.
    QUrl remoteOfLink(const QUrl& link) const;

    ServiceEnvironment environment_;
    platform::Bundle bundle_;
    QString keychainIdentifier_;
    FileTransfer::Options transferOptions_;
    std::unique_ptr<FileTransfer> fileManager_;
    std::shared_ptr<TransferOperation> operation_;
    int removals_ = 0; // removals under way, which may log in while no upload runs
};

class GenericUploaderClass final : public FlagLinkedUploaderClass {
public:
    // `transferOptions`: the SSH known-hosts file and timeouts; the defaults suit the applications.
    GenericUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                         FileTransfer::Options transferOptions = {});

    std::unique_ptr<Uploader> create() const override;

private:
    platform::Bundle bundle_;
    FileTransfer::Options transferOptions_;
};

} // namespace qm::upload
