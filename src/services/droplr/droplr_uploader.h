#pragma once

#include "platform/bundle.h"
#include "platform/result.h"
#include "uploaders/uploader_class.h"

#include <QUrl>
#include <memory>

namespace qm::droplr {
class Operation;
class Service;
} // namespace qm::droplr

namespace qm::upload {

enum DroplrUploaderErrorCode : int {
    DroplrNoApplicationKey = 441, // built without a key pair and none in the environment
    DroplrFileRefused = 442,      // too big, or unreadable, before anything was sent
    DroplrDropNotFound = 443,     // a link to take back is none of the account's drops
};

// Uploads each file as a Droplr file drop and reports its short link; linking reads the account with the
// given e-mail address and password.
//
// Where things are: the API at $QUILLMOOR_DROPLR_URL (default the production API), the authentication
// server at $QUILLMOOR_DROPLR_AUTH_URL; the application key pair from $QUILLMOOR_DROPLR_KEY and
// $QUILLMOOR_DROPLR_SECRET, else the values built in.
class DroplrUploader final : public Uploader {
public:
    DroplrUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                   QString keychainIdentifier);
    ~DroplrUploader() override;

    // The client, built on first use with the login and password of that moment (else the stored ones);
    // an error when no application key is known.
    platform::Result<droplr::Service*> service();

    // Finds the drop behind the link among the account's latest drops and deletes it.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

protected:
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    // Cancels the request under way: its transfer stops at once.
    void stopTransfer() override;

private:
    ServiceEnvironment environment_;
    platform::Bundle bundle_;
    QString keychainIdentifier_;
    std::shared_ptr<droplr::Service> service_;
    std::shared_ptr<droplr::Operation> running_;
};

class DroplrUploaderClass final : public FlagLinkedUploaderClass {
public:
    DroplrUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle);

    std::unique_ptr<Uploader> create() const override;

private:
    platform::Bundle bundle_;
};

} // namespace qm::upload
