#pragma once

#include "platform/bundle.h"
#include "services/mediafire/mediafire_service.h"
#include "uploaders/uploader_class.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QUrl>
#include <memory>

namespace qm::net {
class HTTPClient;
class URLConnectionOperation;
struct HTTPRequest;
} // namespace qm::net

namespace qm::upload {

// What every MediaFire uploader of one service class shares: the clients on the web and upload hosts,
// and the quick key behind each link reported, which a later uploader needs to delete the file.
struct MediaFireSession {
    std::shared_ptr<net::HTTPClient> web, upload;
    QHash<QUrl, QString> files; // direct-download link -> quick key
};

// Uploads into the account's folder and reports a direct-download link. Every operation first obtains a
// session token signed with the application's credentials.
//
//   linking: token --> list root folders --found--> linked
//                            |                         ^
//                            +--missing--> create -----+
//   upload:  token --> POST simple.php (file streamed, XML answer) --upload key--> poll
//            poll --status 99, quick key--> get_links --> link
//             |  ^
//             +--+ every pollInterval, while not done and the bound has not passed (then: failure)
//
// The poll and the link request are asynchronous requests like the others: the main thread never waits
// on them, and cancel stops the request under way and the next poll at once.
class MediaFireUploader final : public Uploader {
public:
    MediaFireUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                      MediaFireDeployment deployment, std::shared_ptr<MediaFireSession> session,
                      QString keychainIdentifier);
    ~MediaFireUploader() override;

    // The SHA-1 of e-mail, password, application id and API key, joined without separators.
    static QString signature(const QString& email, const QString& password, const QString& applicationId,
                             const QString& apiKey);

    // Deletes the file behind a link this service class reported.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

protected:
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    void stopTransfer() override;

private:
    using Json = std::function<void(const QVariant& json)>;
    using Failure = std::function<void(const platform::Error&)>;
    // A JSON request on the web host, tied to the current run unless `tied` is false.
    void fetch(const QString& path, const QVariant& parameters, Json success, Failure failure,
               bool tied = true);
    void sessionToken(std::function<void(const QString&)> success, Failure failure, bool tied = true);
    void findFolder(const QString& token);
    void createFolder(const QString& token);
    void finishSetUp(const QString& folderKey);
    void sendFile(const QString& token, const QString& path);
    void poll(const QString& token, const QString& uploadKey);
    void fetchLink(const QString& token, const QString& quickKey);
    platform::Error serviceError(const QString& englishFormat, const QString& detail) const;

    ServiceEnvironment environment_;
    platform::Bundle bundle_;
    MediaFireDeployment deployment_;
    std::shared_ptr<MediaFireSession> session_;
    QString keychainIdentifier_;
    std::shared_ptr<net::URLConnectionOperation> current_;
    QDeadlineTimer pollDeadline_;
    std::chrono::milliseconds pollBound_{0};
};

class MediaFireUploaderClass final : public FlagLinkedUploaderClass {
public:
    // Deployment values from the environment (QUILLMOOR_MEDIAFIRE_URL, _UPLOAD_URL, _KEY, _SECRET).
    MediaFireUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle);
    MediaFireUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                           MediaFireDeployment deployment);

    std::unique_ptr<Uploader> create() const override;

private:
    platform::Bundle bundle_;
    MediaFireDeployment deployment_;
    std::shared_ptr<MediaFireSession> session_;
};

} // namespace qm::upload
