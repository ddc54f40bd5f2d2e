#include "services/cloudapp/api_engine.h"

#include "accounts/settings_keys.h"
#include "net/network_thread.h"
#include "net/url_connection_operation.h"
#include "platform/dispatch.h"
#include "platform/string_format.h"
#include "services/cloudapp/api_deserializer.h"
#include "services/cloudapp/api_serializer.h"

#include <QUrlQuery>
#include <QUuid>

namespace qm::cloudapp {

namespace {

constexpr char kDefaultBaseURL[] = "https://my.cl.ly";
constexpr char kBaseURLVariable[] = "QUILLMOOR_CLOUDAPP_URL";
constexpr int kURLErrorBadServerResponse = -1011;
constexpr int kURLErrorUserCancelledAuthentication = -1012;
constexpr char kRecoverySuggestionKey[] = "NSLocalizedRecoverySuggestion";

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

QStringList stringsOf(const QVariantList& list) {
    QStringList strings;
    for (const QVariant& value : list)
        strings.append(value.toString());
    return strings;
}

QString bulleted(const QStringList& messages) {
    QString suggestion;
    for (const QString& message : messages)
        suggestion += platform::formatString(QStringLiteral("• %@"), {message}) + QLatin1Char('\n');
    return suggestion;
}

} // namespace

QUrl defaultBaseURL(const platform::SettingsStore& settings) {
    const QString variable = qEnvironmentVariable(kBaseURLVariable).trimmed();
    if (!variable.isEmpty())
        return QUrl(variable);
    const QString setting = settings.stringForKey(text(accounts::keys::cloudAppBaseURL)).trimmed();
    return QUrl(setting.isEmpty() ? text(kDefaultBaseURL) : setting);
}

APIEngine::APIEngine(QUrl baseURL, APIEngineDelegate* delegate)
    : baseURL_(std::move(baseURL))
    , delegate_(delegate)
    , self_(std::make_shared<APIEngine*>(this)) {}

APIEngine::~APIEngine() {
    self_.reset();
    cancelAllConnections();
}

QUrl APIEngine::URLWithPath(const QString& path) const {
    QString base = QString::fromUtf8(baseURL_.toEncoded());
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path, QUrl::StrictMode);
}

net::HTTPRequest APIEngine::request(const QUrl& url, const QByteArray& method, const QByteArray& json) const {
    net::HTTPRequest request(url, method);
    request.setHeader("Accept", "application/json");
    if (!json.isNull()) {
        request.setHeader("Content-Type", "application/json");
        request.body = json;
    }
    request.timeout = timeout;
    return request;
}

QString APIEngine::start(net::HTTPRequest request, RequestType type, const QVariant& userInfo,
                         QString identifier, std::optional<UploadSource> context) {
    if (!request.url.isValid() || request.url.scheme().isEmpty())
        return {};
    if (clearsCookies)
        net::NetworkThread::instance().clearCookies(baseURL_);
    auto transaction = std::make_shared<APITransaction>();
    transaction->request = request;
    transaction->requestType = type;
    transaction->identifier =
        identifier.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : std::move(identifier);
    transaction->userInfo = userInfo;
    transaction->internalContext = std::move(context);

    auto connection = net::URLConnectionOperation::create(std::move(request));
    if (!email.isEmpty() && !password.isEmpty())
        connection->setCredential(net::Credential{email.toLower(), password});
    connection->setShouldUseCredentialStorage(false);
    const std::weak_ptr<APIEngine*> alive = self_;
    const std::weak_ptr<APITransaction> weak = transaction;
    if (type == RequestType::FileUpload)
        connection->setUploadProgressBlock([alive, weak](qint64, qint64 sent, qint64 expected) {
            const auto self = alive.lock();
            const auto current = weak.lock();
            if (self && current && expected > 0 && (*self)->transactions_.contains(current) &&
                (*self)->delegate_)
                (*self)->delegate_->fileUploadDidProgress(double(sent) / double(expected),
                                                          current->identifier, current->userInfo);
        });
    connection->setCompletionBlock([alive, weak] {
        platform::dispatch::onMain([alive, weak] {
            const auto self = alive.lock();
            const auto current = weak.lock();
            if (self && current && (*self)->transactions_.contains(current))
                (*self)->finished(current.get());
        });
    });
    transaction->connection = connection;
    transactions_.append(transaction);
    connection->start();
    return transaction->identifier;
}

std::shared_ptr<APITransaction> APIEngine::find(const APITransaction* transaction) const {
    for (const auto& candidate : transactions_)
        if (candidate.get() == transaction)
            return candidate;
    return nullptr;
}

void APIEngine::remove(const std::shared_ptr<APITransaction>& transaction) {
    transactions_.removeOne(transaction);
}

void APIEngine::cancelConnection(const QString& identifier) {
    for (const auto& transaction : QList(transactions_))
        if (transaction->identifier == identifier) {
            transactions_.removeOne(transaction);
            transaction->connection->cancel();
        }
}

void APIEngine::cancelAllConnections() {
    for (const auto& transaction : QList(transactions_))
        cancelConnection(transaction->identifier);
}

QVariant APIEngine::userInfoForConnectionIdentifier(const QString& identifier) const {
    for (const auto& transaction : transactions_)
        if (transaction->identifier == identifier)
            return transaction->userInfo;
    return {};
}

std::optional<RequestType> APIEngine::requestTypeForConnectionIdentifier(const QString& identifier) const {
    for (const auto& transaction : transactions_)
        if (transaction->identifier == identifier)
            return transaction->requestType;
    return std::nullopt;
}

platform::Error APIEngine::failure(const APITransaction& transaction, int code, const QString& description,
                                   const QStringList& messages, const QString& suggestion) const {
    QVariantMap info{
        {text(kAPIEngineErrorRequestTypeKey), static_cast<qint64>(transaction.requestType)},
        {text(kAPIEngineErrorStatusCodeKey),
         static_cast<qint64>(transaction.response ? transaction.response->statusCode : 0)},
        {QStringLiteral("NSLocalizedDescription"), description},
    };
    if (!messages.isEmpty())
        info.insert(text(kAPIEngineErrorMessagesKey), messages);
    if (!suggestion.isEmpty())
        info.insert(text(kRecoverySuggestionKey), suggestion);
    return platform::Error(text(kAPIEngineErrorDomain), code, description, info);
}

void APIEngine::finished(const APITransaction* finishedTransaction) {
    const std::shared_ptr<APITransaction> transaction = find(finishedTransaction);
    if (!transaction)
        return;
    net::URLConnectionOperation& connection = *transaction->connection;
    transaction->response = connection.response();
    transaction->receivedData = connection.responseData();
    if (const std::optional<platform::Error> error = connection.transportError()) {
        platform::Error reported = *error;
        reported.localizedDescription =
            QStringLiteral("The connection to CloudApp failed: %1").arg(error->localizedDescription);
        reported.userInfo.insert(QStringLiteral("NSLocalizedDescription"), reported.localizedDescription);
        fail(transaction, reported);
        return;
    }
    const long status = transaction->response ? transaction->response->statusCode : 0;
    if (status == 401 && !email.isEmpty() && !password.isEmpty()) {
        // The one answer to the challenge was refused: the credentials are wrong.
        const QString description =
            QStringLiteral("CloudApp did not accept the e-mail address %1 with this password.").arg(email);
        fail(transaction,
             platform::Error(
                 text(net::kURLErrorDomain), kURLErrorUserCancelledAuthentication, description,
                 {{QStringLiteral("NSLocalizedDescription"), description},
                  {text(kAPIEngineErrorRequestTypeKey), static_cast<qint64>(transaction->requestType)},
                  {text(kAPIEngineErrorStatusCodeKey), static_cast<qint64>(status)}}));
        return;
    }
    if (status != 200 && status != 201 && status != 304) {
        const auto array = APIDeserializer::arrayFromJSONData(transaction->receivedData);
        const QStringList messages = array ? stringsOf(*array) : QStringList();
        QString description = QStringLiteral("CloudApp refused the request (HTTP status %1).").arg(status);
        if (!messages.isEmpty())
            description += QLatin1Char(' ') + messages.join(QLatin1Char(' '));
        platform::Error error = failure(*transaction, ServerRefused, description, messages,
                                        array ? bulleted(messages) : QString());
        if (array)
            error.userInfo.insert(text(kAPIEngineErrorMessagesKey), *array);
        fail(transaction, error);
        return;
    }
    if (transaction->requestType == RequestType::UploadRequest)
        continueUpload(transaction);
    else
        succeed(transaction);
}

void APIEngine::fail(const std::shared_ptr<APITransaction>& transaction, const platform::Error& error) {
    remove(transaction);
    if (delegate_)
        delegate_->requestDidFail(error, transaction->identifier, transaction->userInfo);
}

void APIEngine::continueUpload(const std::shared_ptr<APITransaction>& transaction) {
    const auto badAnswer = [&] {
        const QString description =
            QStringLiteral("CloudApp sent an answer to the upload that cannot be read.");
        QVariantMap info{{QStringLiteral("NSLocalizedDescription"), description},
                         {text(net::kURLErrorFailingURLKey), transaction->request.url}};
        fail(transaction,
             platform::Error(text(net::kURLErrorDomain), kURLErrorBadServerResponse, description, info));
    };
    const auto answer = APIDeserializer::dictionaryFromJSONData(transaction->receivedData);
    if (!answer || !transaction->internalContext)
        return badAnswer();
    const QVariant remaining = answer->value(QStringLiteral("uploads_remaining"));
    if (remaining.isValid() && remaining.metaType() != QMetaType::fromType<std::nullptr_t>() &&
        remaining.toLongLong() < 1) {
        const QString message = text(kDailyLimitMessage);
        return fail(transaction, failure(*transaction, DailyUploadLimit, message, {message}, message));
    }
    const QVariant maximum = answer->value(QStringLiteral("max_upload_size"));
    const qint64 size = transaction->internalContext->size;
    if (maximum.isValid() && maximum.metaType() != QMetaType::fromType<std::nullptr_t>() &&
        maximum.toLongLong() < size) {
        const QString message =
            platform::formatString(text(kFileTooLargeMessage), {maximum.toLongLong() >> 20, size >> 20});
        return fail(transaction, failure(*transaction, FileTooLarge, message, {message}));
    }
    std::optional<net::HTTPRequest> storage =
        APIDeserializer::URLRequestWithS3ParametersDictionary(*answer, *transaction->internalContext);
    if (!storage)
        return badAnswer();
    storage->timeout = timeout;
    remove(transaction);
    if (start(std::move(*storage), RequestType::FileUpload, transaction->userInfo, transaction->identifier)
            .isNull())
        badAnswer();
}

void APIEngine::succeed(const std::shared_ptr<APITransaction>& transaction) {
    const QByteArray& body = transaction->receivedData;
    const bool notModified = transaction->response && transaction->response->statusCode == 304;
    const QString& id = transaction->identifier;
    const QVariant& info = transaction->userInfo;
    std::function<void(APIEngineDelegate&)> report;
    bool readable = true;

    const auto item = [&](auto callback, bool needsLink) {
        const std::optional<WebItem> decoded = APIDeserializer::webItemWithJSONDictionaryData(body);
        readable = decoded && (!needsLink || decoded->URL.isValid());
        report = [callback, value = decoded.value_or(WebItem()), id, info](APIEngineDelegate& d) {
            (d.*callback)(value, id, info);
        };
    };
    const auto account = [&](auto callback) {
        const std::optional<Account> decoded = APIDeserializer::accountWithJSONDictionaryData(body);
        readable = decoded.has_value();
        report = [callback, value = decoded.value_or(Account()), id, info](APIEngineDelegate& d) {
            (d.*callback)(value, id, info);
        };
    };
    switch (transaction->requestType) {
    case RequestType::AccountUpdate:
        account(&APIEngineDelegate::accountUpdateDidSucceed);
        break;
    case RequestType::ChangePrivacy:
    case RequestType::Rename:
        item(&APIEngineDelegate::itemUpdateDidSucceed, false);
        break;
    case RequestType::Delete:
        item(&APIEngineDelegate::itemDeletionDidSucceed, false);
        readable = true; // a deletion may answer without a body
        break;
    case RequestType::Restore:
        item(&APIEngineDelegate::itemRestorationDidSucceed, false);
        break;
    case RequestType::ItemList: {
        const auto items = APIDeserializer::webItemArrayWithJSONArrayData(body);
        readable = items.has_value();
        report = [value = items.value_or(QList<WebItem>()), id, info](APIEngineDelegate& d) {
            d.itemListRetrievalSucceeded(value, id, info);
        };
        break;
    }
    case RequestType::Bookmark:
        item(&APIEngineDelegate::linkBookmarkDidSucceed, true);
        break;
    case RequestType::CreateAccount:
        account(&APIEngineDelegate::accountCreationSucceeded);
        break;
    case RequestType::AccountInformation:
        account(&APIEngineDelegate::accountInformationRetrievalSucceeded);
        break;
    case RequestType::ItemInformation:
        item(&APIEngineDelegate::itemInformationRetrievalSucceeded, false);
        break;
    case RequestType::UploadRequest:
    case RequestType::FileUpload:
        item(&APIEngineDelegate::fileUploadDidSucceed, true);
        break;
    case RequestType::StoreProducts: {
        const auto products = APIDeserializer::productsWithJSONArrayData(body);
        readable = products.has_value();
        report = [value = products.value_or(QVariantList()), id, info](APIEngineDelegate& d) {
            d.storeProductInformationRetrievalSucceeded(value, id, info);
        };
        break;
    }
    case RequestType::ReceiptRedemption:
        account(&APIEngineDelegate::storeReceiptRedemptionSucceeded);
        break;
    }
    // An answer that says nothing readable is no success: reporting one would hand out an empty item.
    if (!readable && !notModified) {
        const QString description = QStringLiteral("CloudApp sent an answer that cannot be read.");
        return fail(transaction,
                    platform::Error(text(net::kURLErrorDomain), kURLErrorBadServerResponse, description,
                                    {{QStringLiteral("NSLocalizedDescription"), description},
                                     {text(net::kURLErrorFailingURLKey), transaction->request.url}}));
    }
    remove(transaction);
    if (!delegate_)
        return;
    const std::weak_ptr<APIEngine*> alive = self_;
    delegate_->requestDidSucceed(id, info);
    if (alive.lock() && delegate_)
        report(*delegate_);
}

// The operations.

QString APIEngine::uploadFile(const QString& name, const QByteArray& data, const QVariant& userInfo,
                              const QVariantMap& options) {
    return uploadSource(UploadSource::fromData(name, data), userInfo, options);
}

QString APIEngine::uploadFileAtPath(const QString& path, const QString& name, const QVariant& userInfo,
                                    const QVariantMap& options) {
    return uploadSource(UploadSource::fromFile(name, path), userInfo, options);
}

QString APIEngine::uploadSource(UploadSource source, const QVariant& userInfo, const QVariantMap& options) {
    if (!isReady() || source.size < 0)
        return {};
    QString path = QStringLiteral("/items/new");
    const QString privacy = options.value(text(kAPIEngineUploadOptionPrivacyKey)).toString();
    if (privacy == QLatin1String(kAPIEnginePrivacyOptionPrivate))
        path += QStringLiteral("?item[private]=true");
    else if (privacy == QLatin1String(kAPIEnginePrivacyOptionPublic))
        path += QStringLiteral("?item[private]=false");
    return start(request(URLWithPath(path), "GET"), RequestType::UploadRequest, userInfo, {},
                 std::move(source));
}

QString APIEngine::changePrivacyOfItem(const WebItem& item, bool isPrivate, const QVariant& userInfo) {
    if (!isReady() || item.href.isEmpty())
        return {};
    return start(request(item.href, "PUT", APISerializer::itemWithPrivate(isPrivate)),
                 RequestType::ChangePrivacy, userInfo);
}

QString APIEngine::changeNameOfItem(const WebItem& item, const QString& name, const QVariant& userInfo) {
    const QByteArray body = APISerializer::itemWithName(name);
    if (!isReady() || item.href.isEmpty() || body.isNull())
        return {};
    return start(request(item.href, "PUT", body), RequestType::Rename, userInfo);
}

QString APIEngine::deleteItem(const WebItem& item, const QVariant& userInfo) {
    if (!isReady() || item.href.isEmpty())
        return {};
    return start(request(item.href, "DELETE"), RequestType::Delete, userInfo);
}

QString APIEngine::restoreItem(const WebItem& item, const QVariant& userInfo) {
    if (!isReady() || item.href.isEmpty())
        return {};
    return start(request(item.href, "PUT", APISerializer::itemForRestore()), RequestType::Restore, userInfo);
}

namespace {
WebItem itemAt(const QUrl& href) {
    WebItem item;
    item.href = href;
    return item;
}
} // namespace

QString APIEngine::deleteItemAtHref(const QUrl& href, const QVariant& userInfo) {
    return deleteItem(itemAt(href), userInfo);
}

QString APIEngine::restoreItemAtHref(const QUrl& href, const QVariant& userInfo) {
    return restoreItem(itemAt(href), userInfo);
}

QString APIEngine::changePrivacyOfItemAtHref(const QUrl& href, bool isPrivate, const QVariant& userInfo) {
    return changePrivacyOfItem(itemAt(href), isPrivate, userInfo);
}

QString APIEngine::changeNameOfItemAtHref(const QUrl& href, const QString& name, const QVariant& userInfo) {
    return changeNameOfItem(itemAt(href), name, userInfo);
}

QString APIEngine::getItemListStartingAtPage(qint64 page, qint64 perPage, const QVariant& userInfo,
                                             ItemType type, bool showOnlyItemsInTrash) {
    if (!isReady())
        return {};
    QString path = platform::formatString(
        QStringLiteral("/items?page=%i&per_page=%i&deleted=%@"),
        {page, perPage, showOnlyItemsInTrash ? QStringLiteral("true") : QStringLiteral("false")});
    if (type != ItemType::All)
        path += platform::formatString(QStringLiteral("&type=%@"),
                                       {APISerializer::webItemTypeStringForType(type)});
    return start(request(URLWithPath(path), "GET"), RequestType::ItemList, userInfo);
}

QString APIEngine::bookmarkLinkWithURL(const QUrl& url, const QString& name, const QVariant& userInfo,
                                       const QVariantMap& options) {
    if (!isReady() || url.isEmpty())
        return {};
    const QString givenName = name.isEmpty() ? QString::fromUtf8(url.toEncoded()) : name;
    const QString privacy = options.value(text(kAPIEngineUploadOptionPrivacyKey)).toString();
    const QByteArray body = privacy == QLatin1String(kAPIEnginePrivacyOptionPrivate)
                                ? APISerializer::bookmarkWithURL(url, givenName, true)
                            : privacy == QLatin1String(kAPIEnginePrivacyOptionPublic)
                                ? APISerializer::bookmarkWithURL(url, givenName, false)
                                : APISerializer::bookmarkWithURL(url, givenName);
    if (body.isNull())
        return {};
    return start(request(URLWithPath(QStringLiteral("/items")), "POST", body), RequestType::Bookmark,
                 userInfo);
}

QString APIEngine::createAccountWithEmail(const QString& newEmail, const QString& newPassword,
                                          bool acceptTerms, const QVariant& userInfo) {
    const QByteArray body = APISerializer::accountWithEmail(newEmail, newPassword, acceptTerms);
    if (body.isNull())
        return {};
    return start(request(URLWithPath(QStringLiteral("/register")), "POST", body), RequestType::CreateAccount,
                 userInfo);
}

QString APIEngine::getAccountInformation(const QVariant& userInfo) {
    if (!isReady())
        return {};
    return start(request(URLWithPath(QStringLiteral("/account")), "GET"), RequestType::AccountInformation,
                 userInfo);
}

QString APIEngine::getItemInformation(const WebItem& item, const QVariant& userInfo) {
    return getItemInformationAtURL(item.URL, userInfo);
}

QString APIEngine::getItemInformationAtURL(const QUrl& url, const QVariant& userInfo) {
    if (url.isEmpty())
        return {};
    return start(request(url, "GET"), RequestType::ItemInformation, userInfo);
}

QString APIEngine::getStoreProducts(const QVariant& userInfo) {
    if (!isReady())
        return {};
    return start(request(URLWithPath(QStringLiteral("/purchases")), "GET"), RequestType::StoreProducts,
                 userInfo);
}

QString APIEngine::redeemStoreReceipt(const QString& base64Receipt, const QVariant& userInfo) {
    const QByteArray body = APISerializer::receiptWithBase64String(base64Receipt);
    if (!isReady() || body.isNull())
        return {};
    return start(request(URLWithPath(QStringLiteral("/purchases")), "POST", body),
                 RequestType::ReceiptRedemption, userInfo);
}

} // namespace qm::cloudapp
