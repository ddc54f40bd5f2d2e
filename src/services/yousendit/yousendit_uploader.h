#pragma once

#include "platform/bundle.h"
#include "services/yousendit/you_send_it.h"
#include "uploaders/uploader_class.h"

#include <QHash>
#include <QStringList>
#include <atomic>
#include <memory>

namespace qm::upload {

// Sends each file as a delivery to the message's recipients: a send item for them, the file uploaded to
// the address the server hands out, the item committed without the service's own notification e-mail;
// the item's download address is the link. The client blocks, so every call runs on the global pool and
// every report comes back to the main thread; cancelling ends the blocked call at once.
class YouSendItUploader final : public Uploader {
public:
    YouSendItUploader(std::shared_ptr<yousendit::YouSendIt> client, const ServiceEnvironment& environment,
                      QString keychainIdentifier);
    ~YouSendItUploader() override;

    void setRecipientList(const QStringList& recipients) override { recipients_ = recipients; }
    const QStringList& recipientList() const { return recipients_; }

    // Deletes the delivery behind a link this uploader reported.
    void removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) override;

    // The converted client error for the delegate: client errors keep their code and message.
    static platform::Error errorFromError(const platform::Error& error);

protected:
    bool canStartUpload() const override { return !recipients_.isEmpty(); }
    void startUpload(const QString& path) override;
    void startAuthentication() override;
    void stopTransfer() override;

private:
    // The stored account's password, read on the main thread, when the client has no session yet.
    QString storedPassword(const QString& email) const;

    std::shared_ptr<yousendit::YouSendIt> client_;
    ServiceEnvironment environment_;
    QString keychainIdentifier_;
    QStringList recipients_;
    std::shared_ptr<net::BlockingRequestRunner> runner_; // of the run under way
    QHash<QUrl, QString> items_;                         // the send item behind each link reported
};

class YouSendItUploaderClass final : public UploaderClass {
public:
    // `client`: the process's shared client unless another is given.
    // The bundle is taken like every service's; this one has no texts of its own in it.
    YouSendItUploaderClass(const ServiceEnvironment& environment, const platform::Bundle& bundle,
                           std::shared_ptr<yousendit::YouSendIt> client = {});
    ~YouSendItUploaderClass() override;

    // Linked while the client has a logged-in user, and while stored credentials wait for (or are in) the
    // start-up login: a send made in the first second after start must not find the account unlinked.
    bool isLinked() const override;
    // Unlinking forgets the user and the session's token; linking happens by logging in.
    void setIsLinked(bool linked) override;
    std::unique_ptr<Uploader> create() const override;

    // Points the client at the API (QUILLMOOR_YOUSENDIT_URL, else the production address) with the
    // application's key and, when credentials are stored, logs in on the global pool without reporting.
    void initSession();

    // QUILLMOOR_YOUSENDIT_KEY from the environment, else the key built in; empty without one.
    static QString applicationKey();
    static platform::Error noApplicationKey();

private:
    enum class StartUpLogin { NotTried, Running, Failed, Succeeded };
    bool hasStoredCredentials() const;

    std::shared_ptr<yousendit::YouSendIt> client_;
    std::shared_ptr<std::atomic<StartUpLogin>> startUpLogin_;
    std::shared_ptr<net::BlockingRequestRunner> startUpRunner_;
};

} // namespace qm::upload
