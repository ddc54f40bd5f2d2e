#pragma once

#include "platform/bundle.h"
#include "services/dropmark/dropmark_service.h"
#include "uploaders/uploader_class.h"

#include <QHash>
#include <QUrl>
#include <memory>

namespace qm::net {
class HTTPClient;
class HTTPRequestOperation;
struct HTTPRequest;
} // namespace qm::net

namespace qm::upload {

// What every Dropmark uploader of one service class shares: the one client (its X-API-Key and, once
// signed in, Basic authorisation of user id and token) and the item behind each link reported, which a
// later uploader needs to take the item back.
struct DropmarkSession {
    std::shared_ptr<net::HTTPClient> client;
    QHash<QUrl, QString> items; // short URL -> item id
};

// Puts each file as an item into the account's collection and reports the item's short URL, with its
// thumbnail as icon.
//
//   linking:  sign in --> list collections --found--> linked
//                              |                         ^
//                              +--missing--> create -----+
//             (any failure removes user id, token and collection id, so uploads refuse until relinked)
//   upload:   one multipart POST of the file, streamed from disk
class DropmarkUploader final : public Uploader {
public:
    DropmarkUploader(const ServiceEnvironment& environment, DropmarkDeployment deployment,
                     std::shared_ptr<DropmarkSession> session, QString keychainIdentifier,
                     QString collectionName);
    ~DropmarkUploader() override;

    // Deletes the item behind a short URL this service class reported.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

protected:
    // A collection, a user id and a token: without them the account is not set up.
    bool canStartUpload() const override;
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    // Aborts the request under way: an upload cancelled is not left to run out.
    void stopTransfer() override;

private:
    using Success = std::function<void(const QVariant& json)>;
    using Failure = std::function<void(const platform::Error&)>;
    void send(net::HTTPRequest request, Success success, Failure failure);
    void signIn();
    void findCollection();
    void createCollection();
    void finishSetUp(const QString& collectionID);
    void setUpFailed(const platform::Error& error);
    void authorise();
    QString setting(const char* key) const;

    ServiceEnvironment environment_;
    DropmarkDeployment deployment_;
    std::shared_ptr<DropmarkSession> session_;
    QString keychainIdentifier_;
    QString collectionName_;
    std::shared_ptr<net::HTTPRequestOperation> current_;
};

class DropmarkUploaderClass final : public FlagLinkedUploaderClass {
public:
    // Deployment values from the environment (QUILLMOOR_DROPMARK_URL, QUILLMOOR_DROPMARK_KEY).
    DropmarkUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle);
    DropmarkUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                          DropmarkDeployment deployment);

    std::unique_ptr<Uploader> create() const override;
    // Unlinking also forgets the user id, token and collection: the token is a credential.
    void setIsLinked(bool linked) override;

private:
    platform::Bundle bundle_;
    DropmarkDeployment deployment_;
    std::shared_ptr<DropmarkSession> session_;
};

} // namespace qm::upload
