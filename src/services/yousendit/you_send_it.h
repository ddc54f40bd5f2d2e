#pragma once

#include "net/blocking_request.h"
#include "platform/result.h"
#include "services/yousendit/entities.h"
#include "services/yousendit/network_interface.h"

#include <memory>
#include <mutex>
#include <optional>

namespace qm::yousendit {

class AsyncConnection;
class ConnectionDataDelegate;

// The client of the service: where the API is, the application's key, the session's token and the
// logged-in user, and the calls of the API. Every call blocks its thread for the whole exchange and runs
// through the caller's runner, so pool threads only (the runner refuses the main thread), and cancelling
// the runner ends a blocked call at once. The session is written by a login on one thread and read by
// calls on others, so it sits behind a lock.
class YouSendIt {
public:
    YouSendIt();
    ~YouSendIt();
    // The process's client, made on first use.
    static std::shared_ptr<YouSendIt> sharedInstance();
    static QString productionEndpoint();
    static QString sandBoxEndpoint();

    QString serverUrl() const;
    void setServerUrl(const QString& url);
    QString apiKey() const;
    void setApiKey(const QString& key);
    QString authToken() const;
    void setAuthToken(const QString& token);
    Endpoint endpoint() const;
    // The idle time after which a request fails: 30 seconds unless set.
    void setRequestTimeout(std::chrono::milliseconds timeout);

    std::optional<User> loggedUser() const;
    // Forgets the logged-in user; the token stays as it is.
    void logout();

    // Sends `request` and reads the answer: JSON (an "errorStatus" member is the error), else XML (an
    // "h1" heading of an error page is the error), else 400 "Failed...". A transport failure and a status
    // outside 2xx that no readable error explains are errors too.
    platform::Result<QVariant> synchronousRequest(net::HTTPRequest request,
                                                  net::BlockingRequestRunner& runner);

    platform::Result<AuthToken> loginWithEmail(const QString& email, const QString& password,
                                               net::BlockingRequestRunner& runner);

    // The send: an item for the recipients, its file uploaded to the address handed out, then committed.
    platform::Result<Send> prepareUploadFilesWithRecipients(const QStringList& recipients, int fileCount,
                                                            const QString& subject, const QString& message,
                                                            bool verifyIdentity, bool returnReceipt,
                                                            const QString& password,
                                                            net::BlockingRequestRunner& runner);
    // The file is read while it is sent. A refusal in the answer is the error; the answer's status text
    // travels in its user info under kUploadStatusKey.
    platform::Result<Status> uploadFile(const QString& itemId, const QString& uploadURL, const QString& path,
                                        net::BlockingRequestRunner& runner);
    platform::Result<Commit> commitItemSend(const QString& itemId, bool sendEmailNotifications,
                                            int expiration, net::BlockingRequestRunner& runner);
    platform::Result<UploadStatus> uploadStatusForUploadUrl(const QString& uploadURL,
                                                            net::BlockingRequestRunner& runner);

    platform::Result<Status> createNewUser(const QString& email, const QString& password,
                                           const QString& firstName, const QString& lastName,
                                           net::BlockingRequestRunner& runner);
    platform::Result<User> getUserInformation(const QString& email, net::BlockingRequestRunner& runner);
    platform::Result<Policy> getUserPolicyInfo(net::BlockingRequestRunner& runner);
    platform::Result<Count> getItemCount(bool sendFolder, int filter, net::BlockingRequestRunner& runner);
    platform::Result<Items> getItemList(bool sendFolder, int filter, bool fileInfo, bool trackingInfo,
                                        int page, int pageLength, net::BlockingRequestRunner& runner);
    platform::Result<Item> getItemInfo(const QString& itemId, net::BlockingRequestRunner& runner);
    platform::Result<File> getFileInfo(const QString& fileId, net::BlockingRequestRunner& runner);
    platform::Result<Expiration> changeExpiration(const QString& itemId, int minutes,
                                                  net::BlockingRequestRunner& runner);
    platform::Result<Status> deleteItem(const QString& itemId, net::BlockingRequestRunner& runner);
    platform::Result<Folder> createFolder(const QString& name, const QString& parentId,
                                          net::BlockingRequestRunner& runner);
    platform::Result<Folder> getFolderInfo(const QString& folderId, bool includeFiles, bool includeFolders,
                                           net::BlockingRequestRunner& runner);
    platform::Result<Send> prepareUploadFileToAFolder(net::BlockingRequestRunner& runner);
    platform::Result<File> commitFileUpload(const QString& fileId, const QString& folderId,
                                            net::BlockingRequestRunner& runner);
    platform::Result<Status> shareFolder(const QString& folderId, const QStringList& emails,
                                         const QString& message, int permission,
                                         net::BlockingRequestRunner& runner);
    platform::Result<Share> getFolderShareInfo(const QString& folderId, net::BlockingRequestRunner& runner);
    platform::Result<Status> unshareFolder(const QString& folderId, const QString& email,
                                           net::BlockingRequestRunner& runner);
    platform::Result<Status> sendFile(const QString& fileId, const QStringList& recipients,
                                      net::BlockingRequestRunner& runner);
    platform::Result<Status> renameFolder(const QString& folderId, const QString& name,
                                          net::BlockingRequestRunner& runner);
    platform::Result<Status> renameFile(const QString& fileId, const QString& name,
                                        net::BlockingRequestRunner& runner);
    platform::Result<Status> moveFolder(const QString& folderId, const QString& parentId,
                                        net::BlockingRequestRunner& runner);
    platform::Result<Status> moveFile(const QString& fileId, const QString& parentId,
                                      net::BlockingRequestRunner& runner);
    platform::Result<Status> deleteFolder(const QString& folderId, net::BlockingRequestRunner& runner);
    platform::Result<Status> deleteFile(const QString& fileId, net::BlockingRequestRunner& runner);
    platform::Result<StorageChanges> getStorageRevisions(const QString& fromRevision,
                                                         net::BlockingRequestRunner& runner);
    platform::Result<File> getFileRevisions(const QString& fileId, net::BlockingRequestRunner& runner);

    // Streams the file at `downloadPath` (below the server URL) to `destination`, from `offset` and, with
    // a positive `size`, that many bytes on; reports to `delegate` on the main thread. Starting a download
    // drops the one before.
    void downloadFile(const QString& downloadPath, const QString& password, const QString& destination,
                      qint64 offset, qint64 size, std::shared_ptr<ConnectionDataDelegate> delegate);

private:
    // The answer's error, if the decoded answer or its status says there is one.
    static std::optional<platform::Error> errorOfAnswer(const QVariant& answer, long status);
    platform::Result<Status> statusOf(net::HTTPRequest request, net::BlockingRequestRunner& runner);

    mutable std::mutex mutex_;
    QString serverUrl_;
    QString apiKey_;
    QString authToken_;
    std::chrono::milliseconds timeout_{30000};
    std::optional<User> loggedUser_;
    std::shared_ptr<AsyncConnection> download_;
};

} // namespace qm::yousendit
