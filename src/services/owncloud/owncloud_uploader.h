#pragma once

#include "net/http_request.h"
#include "platform/bundle.h"
#include "uploaders/uploader_class.h"

#include <QHash>
#include <QList>
#include <QUrl>
#include <chrono>
#include <memory>

namespace qm::net {
class HTTPClient;
}

namespace qm::upload {

enum OwnCloudUploaderErrorCode : int {
    ShareCreationFailed = 411, // the share answer did not hold exactly one link
};

// Stores files over WebDAV on the user's own ownCloud server and, for a public link, shares each through
// the server's sharing API.
class OwnCloudUploader final : public Uploader {
public:
    OwnCloudUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                     QString keychainIdentifier);
    ~OwnCloudUploader() override;

    // Deletes the file behind a link this uploader reported, or behind a direct link into the folder.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;
    // How long the name probe and the upload may stay idle before they fail; tests shorten it.
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // Where the server text points: the client's base URL and the path every request path begins with.
    struct ServerLocation {
        QUrl baseURL;
        QString path;
    };
    static ServerLocation serverLocation(const QString& serverText);
    // Path components joined with exactly one "/" between them.
    static QString joinPath(const QString& head, const QString& tail);
    // `name` for index 0, else "<stem>-<index>.<extension>".
    static QString remoteName(const QString& name, qint64 index);
    // Escapes what a URL does not allow, keeping its reserved characters.
    static QString escapedName(const QString& name);

protected:
    void startUpload(const QString& path) override;
    // Checks that the folder exists (creating it when missing), can be written and cleaned up.
    void startAuthentication() override;
    // No stopTransfer(): what was sent runs out, and the base drops its outcome.

private:
    struct Account {
        QString serverText;
        ServerLocation location;
        QString login;
        QString password;
        QString folder;
    };
    Account account(bool linking) const;
    std::shared_ptr<net::HTTPClient> newClient(const Account& account, bool acceptXML);
    void probeName(const Account& account, const QString& path, qint64 index);
    void storeFile(const Account& account, const QString& path, qint64 index);
    void shareFile(const Account& account, const QString& name);
    void testFolder();
    void testWrite(const std::shared_ptr<net::HTTPClient>& client, const QString& folderPath);
    QString setting(const char* key) const;
    static QString davFilePath(const Account& account, const QString& name);

    ServiceEnvironment environment_;
    platform::Bundle bundle_;
    QString keychainIdentifier_;
    // Kept until the uploader goes: a request still under way needs its client.
    QList<std::shared_ptr<net::HTTPClient>> clients_;
    // The WebDAV path behind each link reported, for removeUploadedFile(): a share link does not name it.
    QHash<QUrl, QString> stored_;
    std::chrono::milliseconds timeout_ = net::HTTPRequest().timeout;
};

class OwnCloudUploaderClass final : public FlagLinkedUploaderClass {
public:
    OwnCloudUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle);

    std::unique_ptr<Uploader> create() const override;

private:
    platform::Bundle bundle_;
};

} // namespace qm::upload
