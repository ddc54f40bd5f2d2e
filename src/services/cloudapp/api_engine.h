#pragma once

#include "net/http_request.h"
#include "platform/error.h"
#include "platform/settings_store.h"
#include "services/cloudapp/cloudapp_model.h"
#include "services/cloudapp/storage_upload_body.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <chrono>
#include <memory>
#include <optional>

namespace qm::net {
class URLConnectionOperation;
}

namespace qm::cloudapp {

inline constexpr char kAPIEngineErrorDomain[] = "com.cloudapp.APIEngine";
inline constexpr char kAPIEngineErrorRequestTypeKey[] = "requestType";
inline constexpr char kAPIEngineErrorStatusCodeKey[] = "statusCode";
inline constexpr char kAPIEngineErrorMessagesKey[] = "messages";
inline constexpr char kAPIEngineUploadOptionPrivacyKey[] = "CLAPIEngineUploadOptionPrivacy";
inline constexpr char kAPIEnginePrivacyOptionPublic[] = "public";
inline constexpr char kAPIEnginePrivacyOptionPrivate[] = "private";

// The engine's error codes besides the server's statuses (-1).
enum APIEngineErrorCode : int {
    ServerRefused = -1,
    DailyUploadLimit = 1,
    FileTooLarge = 2,
};

inline constexpr char kDailyLimitMessage[] =
    "You've reached the daily upload limit allowed by the Free plan. Grab one of our snazzy Pro plans and "
    "never see this message again.";
inline constexpr char kFileTooLargeMessage[] =
    "This file is too large. You can upload files up to %dMB but this file is %dMB.";

// The API's address: QUILLMOOR_CLOUDAPP_URL, else the "CloudAppBaseURL" setting, else the service's own.
QUrl defaultBaseURL(const platform::SettingsStore& settings);

enum class RequestType : qint64 {
    AccountUpdate = 0,
    ChangePrivacy = 1,
    Rename = 2,
    Delete = 3,
    Restore = 4,
    ItemList = 5,
    Bookmark = 6,
    CreateAccount = 7,
    AccountInformation = 8,
    ItemInformation = 9,
    UploadRequest = 10,
    FileUpload = 11,
    StoreProducts = 12,
    ReceiptRedemption = 13,
};

// Hears the engine's outcomes, on the thread that started the request (the main thread). Every request
// ends once: requestDidSucceed followed by its type's callback, or requestDidFail; a cancelled request
// ends with neither. The defaults ignore everything.
class APIEngineDelegate {
public:
    using Id = QString;
    virtual ~APIEngineDelegate() = default;
    virtual void requestDidSucceed(const Id&, const QVariant& userInfo) { (void)userInfo; }
    virtual void requestDidFail(const platform::Error&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void fileUploadDidProgress(double, const Id&, const QVariant& userInfo) { (void)userInfo; }
    virtual void fileUploadDidSucceed(const WebItem&, const Id&, const QVariant& userInfo) { (void)userInfo; }
    virtual void linkBookmarkDidSucceed(const WebItem&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void accountUpdateDidSucceed(const Account&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void itemUpdateDidSucceed(const WebItem&, const Id&, const QVariant& userInfo) { (void)userInfo; }
    virtual void itemDeletionDidSucceed(const WebItem&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void itemRestorationDidSucceed(const WebItem&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void itemInformationRetrievalSucceeded(const WebItem&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void accountInformationRetrievalSucceeded(const Account&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void itemListRetrievalSucceeded(const QList<WebItem>&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void accountCreationSucceeded(const Account&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void storeProductInformationRetrievalSucceeded(const QVariantList&, const Id&,
                                                           const QVariant& userInfo) {
        (void)userInfo;
    }
    virtual void storeReceiptRedemptionSucceeded(const Account&, const Id&, const QVariant& userInfo) {
        (void)userInfo;
    }
};

// One request under way.
struct APITransaction {
    net::HTTPRequest request;
    std::optional<net::HTTPResponse> response;
    std::shared_ptr<net::URLConnectionOperation> connection;
    QByteArray receivedData;
    RequestType requestType = RequestType::AccountUpdate;
    QString identifier;
    QVariant userInfo;
    std::optional<UploadSource> internalContext; // the file of an upload request
};

// A small asynchronous client of the CloudApp API. Each call builds one request, starts it and returns
// its connection identifier at once (a null QString when it refuses: nothing is then reported); the
// outcome reaches the delegate later on the calling thread, tagged with that identifier and the caller's
// user info. An upload is two requests under one identifier: the upload request, whose answer names
// the storage address and the account's limits, then the file's POST there, which the storage answers
// with a redirect back to the API and the new item. Challenges are answered with Digest (or Basic) on
// whatever host asks, once per request; a second one ends the request as an authentication failure.
//
// Use on one thread with an event loop; the engine must outlive nothing it started (its destruction
// cancels every connection).
class APIEngine {
public:
    explicit APIEngine(QUrl baseURL, APIEngineDelegate* delegate = nullptr);
    ~APIEngine();
    APIEngine(const APIEngine&) = delete;
    APIEngine& operator=(const APIEngine&) = delete;

    QString email;
    QString password;
    bool clearsCookies = false;
    // Idle time after which a request fails.
    std::chrono::milliseconds timeout{60000};

    const QUrl& baseURL() const { return baseURL_; }
    APIEngineDelegate* delegate() const { return delegate_; }
    void setDelegate(APIEngineDelegate* delegate) { delegate_ = delegate; }
    bool isReady() const { return !email.isEmpty() && !password.isEmpty(); }

    // Uploads. Options: kAPIEngineUploadOptionPrivacyKey with "public" or "private".
    QString uploadFile(const QString& name, const QByteArray& data, const QVariant& userInfo,
                       const QVariantMap& options = {});
    // The file at `path`, read as it is sent instead of held in memory.
    QString uploadFileAtPath(const QString& path, const QString& name, const QVariant& userInfo,
                             const QVariantMap& options = {});
    QString uploadSource(UploadSource source, const QVariant& userInfo, const QVariantMap& options = {});

    QString changePrivacyOfItem(const WebItem& item, bool isPrivate, const QVariant& userInfo);
    QString changeNameOfItem(const WebItem& item, const QString& name, const QVariant& userInfo);
    QString deleteItem(const WebItem& item, const QVariant& userInfo);
    QString deleteItemAtHref(const QUrl& href, const QVariant& userInfo);
    QString restoreItem(const WebItem& item, const QVariant& userInfo);
    QString restoreItemAtHref(const QUrl& href, const QVariant& userInfo);
    QString changePrivacyOfItemAtHref(const QUrl& href, bool isPrivate, const QVariant& userInfo);
    QString changeNameOfItemAtHref(const QUrl& href, const QString& name, const QVariant& userInfo);
    QString getItemListStartingAtPage(qint64 page, qint64 perPage, const QVariant& userInfo,
                                      ItemType type = ItemType::All, bool showOnlyItemsInTrash = false);
    QString bookmarkLinkWithURL(const QUrl& url, const QString& name, const QVariant& userInfo,
                                const QVariantMap& options = {});
    QString createAccountWithEmail(const QString& email, const QString& password, bool acceptTerms,
                                   const QVariant& userInfo);
    QString getAccountInformation(const QVariant& userInfo);
    QString getItemInformation(const WebItem& item, const QVariant& userInfo);
    QString getItemInformationAtURL(const QUrl& url, const QVariant& userInfo);
    QString getStoreProducts(const QVariant& userInfo);
    QString redeemStoreReceipt(const QString& base64Receipt, const QVariant& userInfo);

    // Stops the request; nothing of it is reported.
    void cancelConnection(const QString& identifier);
    void cancelAllConnections();

    QVariant userInfoForConnectionIdentifier(const QString& identifier) const;
    std::optional<RequestType> requestTypeForConnectionIdentifier(const QString& identifier) const;
    qsizetype transactionCount() const { return transactions_.size(); }

private:
    QUrl URLWithPath(const QString& path) const;
    net::HTTPRequest request(const QUrl& url, const QByteArray& method, const QByteArray& json = {}) const;
    QString start(net::HTTPRequest request, RequestType type, const QVariant& userInfo,
                  QString identifier = {}, std::optional<UploadSource> context = std::nullopt);
    std::shared_ptr<APITransaction> find(const APITransaction* transaction) const;
    void remove(const std::shared_ptr<APITransaction>& transaction);
    void finished(const APITransaction* transaction);
    void fail(const std::shared_ptr<APITransaction>& transaction, const platform::Error& error);
    void succeed(const std::shared_ptr<APITransaction>& transaction);
    void continueUpload(const std::shared_ptr<APITransaction>& transaction);
    platform::Error failure(const APITransaction& transaction, int code, const QString& description,
                            const QStringList& messages, const QString& suggestion = {}) const;

    QUrl baseURL_;
    APIEngineDelegate* delegate_;
    QList<std::shared_ptr<APITransaction>> transactions_;
    std::shared_ptr<APIEngine*> self_; // late network events check it, so a gone engine hears nothing
};

} // namespace qm::cloudapp
