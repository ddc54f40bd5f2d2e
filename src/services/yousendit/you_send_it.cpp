#include "services/yousendit/you_send_it.h"

#include "net/xml_reader.h"
#include "platform/dispatch.h"
#include "services/yousendit/async_connection.h"
#include "services/yousendit/dictionary_values.h"
#include "services/yousendit/ys_error.h"
#include "json/parser.h"

#include <QFileInfo>

namespace qm::yousendit {

namespace {

using NI = NetworkInterface;
using platform::Result;

QString key(const char* word) {
    return QString::fromLatin1(word);
}

// The text of the first element named `name` anywhere below `value`.
std::optional<QString> findText(const QVariant& value, const QString& name) {
    if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant& element : value.toList())
            if (auto found = findText(element, name))
                return found;
        return std::nullopt;
    }
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    if (map.contains(name))
        return textOf(map.value(name));
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        if (auto found = findText(*it, name))
            return found;
    return std::nullopt;
}

bool nonEmpty(const QString& text) {
    return !text.trimmed().isEmpty();
}

QString statusMessage(long status) {
    if (status == 401 || status == 403)
        return QStringLiteral(
                   "The server refused the session (HTTP status %1). Link the Hightail account again.")
            .arg(status);
    return QStringLiteral("The Hightail server answered with HTTP status %1.").arg(status);
}

// The addresses of "uploadUrl": a list of them, or a lone one read as a list of one.
QStringList uploadURLsOf(const QVariantMap& map) {
    const QVariant value = map.value(key(wire::kBodyParamUploadURL));
    const QVariantList all = value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList{value};
    QStringList urls;
    for (const QVariant& url : all)
        if (url.typeId() == QMetaType::QString && nonEmpty(url.toString()))
            urls.append(url.toString());
    return urls;
}

// XML answers mark where the parsed dictionary came from, so a JSON object never looks like one.
constexpr char kXMLMarker[] = "\x01xml";

} // namespace

YouSendIt::YouSendIt()
    : serverUrl_(productionEndpoint()) {}

YouSendIt::~YouSendIt() = default;

std::shared_ptr<YouSendIt> YouSendIt::sharedInstance() {
    static const std::shared_ptr<YouSendIt> instance = std::make_shared<YouSendIt>();
    return instance;
}

QString YouSendIt::productionEndpoint() {
    return QStringLiteral("https://dpi.yousendit.com");
}

QString YouSendIt::sandBoxEndpoint() {
    return QStringLiteral("https://test2-api.yousendit.com");
}

QString YouSendIt::serverUrl() const {
    std::lock_guard guard(mutex_);
    return serverUrl_;
}
void YouSendIt::setServerUrl(const QString& url) {
    std::lock_guard guard(mutex_);
    serverUrl_ = url;
    // Paths begin with "/": a base given with a trailing one would double it.
    while (serverUrl_.endsWith(u'/'))
        serverUrl_.chop(1);
}
QString YouSendIt::apiKey() const {
    std::lock_guard guard(mutex_);
    return apiKey_;
}
void YouSendIt::setApiKey(const QString& key) {
    std::lock_guard guard(mutex_);
    apiKey_ = key;
}
QString YouSendIt::authToken() const {
    std::lock_guard guard(mutex_);
    return authToken_;
}
void YouSendIt::setAuthToken(const QString& token) {
    std::lock_guard guard(mutex_);
    authToken_ = token;
}
Endpoint YouSendIt::endpoint() const {
    std::lock_guard guard(mutex_);
    return {serverUrl_, apiKey_, authToken_, timeout_};
}
void YouSendIt::setRequestTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard guard(mutex_);
    timeout_ = timeout;
}
std::optional<User> YouSendIt::loggedUser() const {
    std::lock_guard guard(mutex_);
    return loggedUser_;
}
void YouSendIt::logout() {
    std::lock_guard guard(mutex_);
    loggedUser_.reset();
}

std::optional<platform::Error> YouSendIt::errorOfAnswer(const QVariant& answer, long status) {
    const QVariantMap map = answer.toMap();
    if (map.contains(key(kXMLMarker))) {
        if (const auto heading = findText(answer, QStringLiteral("h1")); heading && !heading->isEmpty())
            return makeError(400, *heading);
    } else if (map.contains(key(wire::kServerResponseErrorStatus)) &&
               map.value(key(wire::kServerResponseErrorStatus)).typeId() != QMetaType::Nullptr) {
        return errorWithDictionary(map.value(key(wire::kServerResponseErrorStatus)));
    }
    // A refusal that says nothing readable is still no success.
    if (status != 0 && (status < 200 || status > 299))
        return makeError(int(status), statusMessage(status));
    return std::nullopt;
}

Result<QVariant> YouSendIt::synchronousRequest(net::HTTPRequest request, net::BlockingRequestRunner& runner) {
    Result<net::BlockingResponse> answer = runner.run(std::move(request));
    if (!answer) {
        const platform::Error& error = answer.error();
        if (error.code == net::kURLErrorTimedOut)
            return makeError(error.code, QStringLiteral("The Hightail server did not answer in time."));
        return makeError(error.code, error.localizedDescription);
    }
    const long status = answer->response.statusCode;
    QVariant value;
    if (Result<QVariant> json = json::Parser().objectWithData(answer->body); json) {
        value = *json;
    } else if (Result<QVariantMap> xml = net::XMLReader::dictionaryForXMLData(answer->body); xml) {
        QVariantMap map = *xml;
        map.insert(key(kXMLMarker), true);
        value = map;
    } else {
        if (status < 200 || status > 299)
            return makeError(int(status), statusMessage(status));
        return makeError(400, QString::fromLatin1(kMessageUnreadableAnswer));
    }
    if (auto error = errorOfAnswer(value, status))
        return *error;
    return value;
}

Result<AuthToken> YouSendIt::loginWithEmail(const QString& email, const QString& password,
                                            net::BlockingRequestRunner& runner) {
    if (email.isEmpty() || password.isEmpty())
        return invalidParameters();
    const Parameters parameters{{key(wire::kBodyParamEmail), email},
                                {key(wire::kBodyParamPassword), password}};
    const Result<QVariant> answer = synchronousRequest(NI::loginURLRequest(endpoint(), parameters), runner);
    if (!answer)
        return answer.error();
    const QVariantMap map = answer->toMap();
    const QString token = valueForKey(key(wire::kServerResponseAuthToken), map);
    if (map.contains(key(kXMLMarker)) || token == QLatin1String(kNotAvailable))
        return invalidParameters();
    std::lock_guard guard(mutex_);
    // A failed login keeps the session there was; a new account replaces the user of the old one.
    authToken_ = token;
    if (!loggedUser_ || loggedUser_->email != email)
        loggedUser_ = User::withEmail(email, password);
    return AuthToken{token};
}

Result<Send> YouSendIt::prepareUploadFilesWithRecipients(const QStringList& recipients, int fileCount,
                                                         const QString& subject, const QString& message,
                                                         bool verifyIdentity, bool returnReceipt,
                                                         const QString& password,
                                                         net::BlockingRequestRunner& runner) {
    if (recipients.isEmpty() || subject.isNull() || message.isNull() || password.isNull())
        return invalidParameters();
    Parameters p{{key(wire::kBodyParamRecipients), NI::stringFromArray(recipients)}};
    if (fileCount != 0)
        p.append({key(wire::kBodyParamFileCount), QString::number(fileCount)});
    if (!subject.isEmpty())
        p.append({key(wire::kBodyParamSubject), subject});
    if (!message.isEmpty())
        p.append({key(wire::kBodyParamMessage), message});
    if (verifyIdentity)
        p.append({key(wire::kBodyParamVerifyIdentify), NI::stringFromBool(true)});
    if (returnReceipt)
        p.append({key(wire::kBodyParamReturnReceipt), NI::stringFromBool(true)});
    if (!password.isEmpty())
        p.append({key(wire::kBodyParamPassword), password});
    const Result<QVariant> answer =
        synchronousRequest(NI::prepareUploadURLForNewItemRequest(endpoint(), p), runner);
    if (!answer)
        return answer.error();
    const QVariantMap map = answer->toMap();
    Send send;
    send.objectId = valueForKey(QStringLiteral("itemId"), map);
    send.uploadURLs = uploadURLsOf(map);
    return send;
}

Result<Status> YouSendIt::uploadFile(const QString& itemId, const QString& uploadURL, const QString& path,
                                     net::BlockingRequestRunner& runner) {
    if (!nonEmpty(itemId) || !nonEmpty(uploadURL) || !nonEmpty(path))
        return invalidParameters();
    const QFileInfo file(path);
    if (!file.exists() || !file.isFile())
        return makeError(400, QString::fromLatin1(kMessageFileMissing));
    const Result<QVariant> answer = synchronousRequest(
        NI::uploadFileRequest(QUrl(uploadURL), itemId, path, file.fileName(), endpoint().timeout), runner);
    if (!answer)
        return answer.error();
    const QVariantMap response = answer->toMap().value(key(wire::kBodyParamXMLResponse)).toMap();
    const QString status = valueForKey(key(wire::kBodyParamXMLUploadStatus), response);
    if (response.contains(key(wire::kBodyParamXMLError))) {
        const QVariantMap error = response.value(key(wire::kBodyParamXMLError)).toMap();
        platform::Error failure = makeError(int(integerForKey(key(wire::kBodyParamXMLErrorCode), error)),
                                            valueForKey(key(wire::kBodyParamXMLErrorMessage), error));
        failure.userInfo.insert(key(kUploadStatusKey), status);
        return failure;
    }
    return Status::withContent(status);
}

Result<Commit> YouSendIt::commitItemSend(const QString& itemId, bool sendEmailNotifications, int expiration,
                                         net::BlockingRequestRunner& runner) {
    if (!nonEmpty(itemId))
        return invalidParameters();
    Parameters p;
    if (!sendEmailNotifications)
        p.append({key(wire::kBodyParamSendEmailNotifications), NI::stringFromBool(false)});
    if (expiration != 0)
        p.append({key(wire::kBodyParamExpiration), QString::number(expiration)});
    const Result<QVariant> answer =
        synchronousRequest(NI::commitItemSendRequest(endpoint(), p, itemId), runner);
    if (!answer)
        return answer.error();
    return Commit::withContent(valueForKey(QStringLiteral("downloadUrl"), answer->toMap()));
}

Result<UploadStatus> YouSendIt::uploadStatusForUploadUrl(const QString& uploadURL,
                                                         net::BlockingRequestRunner& runner) {
    if (!nonEmpty(uploadURL))
        return invalidParameters();
    const Result<QVariant> answer = synchronousRequest(
        NI::uploadStatusRequest(endpoint(), {{key(wire::kBodyParamUploadURL), uploadURL}}), runner);
    if (!answer)
        return answer.error();
    return UploadStatus::withContent(valueForKey(QStringLiteral("bytesReceived"), answer->toMap()));
}

Result<Status> YouSendIt::statusOf(net::HTTPRequest request, net::BlockingRequestRunner& runner) {
    const Result<QVariant> answer = synchronousRequest(std::move(request), runner);
    if (!answer)
        return answer.error();
    return Status::withBool(true);
}

Result<Status> YouSendIt::createNewUser(const QString& email, const QString& password,
                                        const QString& firstName, const QString& lastName,
                                        net::BlockingRequestRunner& runner) {
    if (!nonEmpty(email) || !nonEmpty(password) || firstName.isNull() || lastName.isNull())
        return invalidParameters();
    return statusOf(NI::createNewUserRequest(endpoint(), {{key(wire::kBodyParamEmail), email},
                                                          {key(wire::kBodyParamPassword), password},
                                                          {key(wire::kBodyParamFirstName), firstName},
                                                          {key(wire::kBodyParamLastName), lastName}}),
                    runner);
}

Result<User> YouSendIt::getUserInformation(const QString& email, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(email))
        return invalidParameters();
    const Result<QVariant> answer =
        synchronousRequest(NI::userInfoRequest(endpoint(), {{key(wire::kBodyParamEmail), email}}), runner);
    if (!answer)
        return answer.error();
    std::lock_guard guard(mutex_);
    if (!loggedUser_)
        loggedUser_ = User::fromDictionary(*answer);
    else
        loggedUser_->updateUserInformationWithDictionary(*answer);
    return *loggedUser_;
}

Result<Policy> YouSendIt::getUserPolicyInfo(net::BlockingRequestRunner& runner) {
    const Result<QVariant> answer = synchronousRequest(NI::policyInfoRequest(endpoint()), runner);
    if (!answer)
        return answer.error();
    std::lock_guard guard(mutex_);
    if (!loggedUser_)
        loggedUser_ = User();
    loggedUser_->updateUserPolicyWithDictionary(*answer);
    return loggedUser_->policy;
}

Result<Count> YouSendIt::getItemCount(bool sendFolder, int filter, net::BlockingRequestRunner& runner) {
    const Result<QVariant> answer = synchronousRequest(
        NI::getItemCountRequest(endpoint(), {{key(wire::kBodyParamSentItems), NI::stringFromBool(sendFolder)},
                                             {key(wire::kBodyParamFilter), NI::stringFromItemType(filter)}}),
        runner);
    if (!answer)
        return answer.error();
    return Count::withContent(valueForKey(QStringLiteral("itemCount"), answer->toMap()));
}

Result<Items> YouSendIt::getItemList(bool sendFolder, int filter, bool fileInfo, bool trackingInfo, int page,
                                     int pageLength, net::BlockingRequestRunner& runner) {
    const Result<QVariant> answer = synchronousRequest(
        NI::getItemListRequest(endpoint(),
                               {{key(wire::kBodyParamSentItems), NI::stringFromBool(sendFolder)},
                                {key(wire::kBodyParamFilter), NI::stringFromItemType(filter)},
                                {key(wire::kBodyParamIncludeFileInfo), NI::stringFromBool(fileInfo)},
                                {key(wire::kBodyParamIncludeTracking), NI::stringFromBool(trackingInfo)},
                                {key(wire::kBodyParamPage), QString::number(page)},
                                {key(wire::kBodyParamPageLenght), QString::number(pageLength)}}),
        runner);
    if (!answer)
        return answer.error();
    return Items::fromDictionary(*answer);
}

Result<Item> YouSendIt::getItemInfo(const QString& itemId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(itemId))
        return invalidParameters();
    const Result<QVariant> answer = synchronousRequest(NI::getItemInfoRequest(endpoint(), itemId), runner);
    if (!answer)
        return answer.error();
    return Item::fromDictionary(*answer);
}

Result<File> YouSendIt::getFileInfo(const QString& fileId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId))
        return invalidParameters();
    const Result<QVariant> answer = synchronousRequest(NI::getFileInfoRequest(endpoint(), fileId), runner);
    if (!answer)
        return answer.error();
    return File::fromDictionary(*answer);
}

Result<Expiration> YouSendIt::changeExpiration(const QString& itemId, int minutes,
                                               net::BlockingRequestRunner& runner) {
    if (!nonEmpty(itemId))
        return invalidParameters();
    const Result<QVariant> answer = synchronousRequest(
        NI::changeExpirationRequest(endpoint(), itemId,
                                    {{key(wire::kBodyParamExpiration), QString::number(minutes)}}),
        runner);
    if (!answer)
        return answer.error();
    return Expiration::withContent(valueForKey(QStringLiteral("status"), answer->toMap()));
}

Result<Status> YouSendIt::deleteItem(const QString& itemId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(itemId))
        return invalidParameters();
    return statusOf(NI::deleteItemRequest(endpoint(), itemId), runner);
}

Result<Folder> YouSendIt::createFolder(const QString& name, const QString& parentId,
                                       net::BlockingRequestRunner& runner) {
    if (!nonEmpty(name) || parentId.isNull())
        return invalidParameters();
    const Result<QVariant> answer =
        synchronousRequest(NI::createFolderRequest(endpoint(), {{key(wire::kBodyParamName), name},
                                                                {key(wire::kBodyParamParentId), parentId}}),
                           runner);
    if (!answer)
        return answer.error();
    return Folder::fromDictionary(*answer);
}

Result<Folder> YouSendIt::getFolderInfo(const QString& folderId, bool includeFiles, bool includeFolders,
                                        net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId))
        return invalidParameters();
    const Result<QVariant> answer = synchronousRequest(
        NI::getFolderInfoRequest(
            endpoint(), folderId,
            {{key(wire::kBodyParamFolderIncludeFiles), NI::stringFromBool(includeFiles)},
             {key(wire::kBodyParamFolderIncludeFolders), NI::stringFromBool(includeFolders)}}),
        runner);
    if (!answer)
        return answer.error();
    return Folder::fromDictionary(*answer);
}

Result<Send> YouSendIt::prepareUploadFileToAFolder(net::BlockingRequestRunner& runner) {
    const Result<QVariant> answer =
        synchronousRequest(NI::prepareFileUploadToFolderRequest(endpoint()), runner);
    if (!answer)
        return answer.error();
    const QVariantMap map = answer->toMap();
    Send send;
    send.type = 1;
    send.objectId = valueForKey(QStringLiteral("fileId"), map);
    send.uploadURLs = uploadURLsOf(map);
    return send;
}

Result<File> YouSendIt::commitFileUpload(const QString& fileId, const QString& folderId,
                                         net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId) || !nonEmpty(folderId))
        return invalidParameters();
    const Result<QVariant> answer = synchronousRequest(
        NI::commitFileUploadToAFolderRequest(
            endpoint(), {{key(wire::kBodyParamFieldId), fileId}, {key(wire::kBodyParamParentId), folderId}}),
        runner);
    if (!answer)
        return answer.error();
    return File::fromDictionary(*answer);
}

Result<Status> YouSendIt::shareFolder(const QString& folderId, const QStringList& emails,
                                      const QString& message, int permission,
                                      net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId) || emails.isEmpty() || message.isNull())
        return invalidParameters();
    return statusOf(NI::shareFolderRequest(
                        endpoint(), folderId,
                        {{key(wire::kBodyParamEmail), NI::stringFromArray(emails)},
                         {key(wire::kBodyParamMessage), message},
                         {key(wire::kBodyParamPermission), NI::stringFromFolderPermissionType(permission)}}),
                    runner);
}

Result<Share> YouSendIt::getFolderShareInfo(const QString& folderId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId))
        return invalidParameters();
    const Result<QVariant> answer =
        synchronousRequest(NI::getFolderShareInfoRequest(endpoint(), folderId), runner);
    if (!answer)
        return answer.error();
    return Share::fromDictionary(*answer);
}

Result<Status> YouSendIt::unshareFolder(const QString& folderId, const QString& email,
                                        net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId) || !nonEmpty(email))
        return invalidParameters();
    return statusOf(NI::unshareFolderRequest(endpoint(), folderId, {{key(wire::kBodyParamEmail), email}}),
                    runner);
}

Result<Status> YouSendIt::sendFile(const QString& fileId, const QStringList& recipients,
                                   net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId) || recipients.isEmpty())
        return invalidParameters();
    return statusOf(
        NI::sendFileToRecipientsRequest(endpoint(), fileId,
                                        {{key(wire::kBodyParamRecipients), NI::stringFromArray(recipients)}}),
        runner);
}

Result<Status> YouSendIt::renameFolder(const QString& folderId, const QString& name,
                                       net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId) || !nonEmpty(name))
        return invalidParameters();
    return statusOf(NI::renameFolderRequest(endpoint(), folderId, {{key(wire::kBodyParamName), name}}),
                    runner);
}

Result<Status> YouSendIt::renameFile(const QString& fileId, const QString& name,
                                     net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId) || !nonEmpty(name))
        return invalidParameters();
    return statusOf(NI::renameFileRequest(endpoint(), fileId, {{key(wire::kBodyParamName), name}}), runner);
}

Result<Status> YouSendIt::moveFolder(const QString& folderId, const QString& parentId,
                                     net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId) || !nonEmpty(parentId))
        return invalidParameters();
    return statusOf(NI::moveFolderRequest(endpoint(), folderId, {{key(wire::kBodyParamParentId), parentId}}),
                    runner);
}

Result<Status> YouSendIt::moveFile(const QString& fileId, const QString& parentId,
                                   net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId) || !nonEmpty(parentId))
        return invalidParameters();
    return statusOf(NI::moveFileRequest(endpoint(), fileId, {{key(wire::kBodyParamParentId), parentId}}),
                    runner);
}

Result<Status> YouSendIt::deleteFolder(const QString& folderId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(folderId))
        return invalidParameters();
    return statusOf(NI::deleteFolderRequest(endpoint(), folderId), runner);
}

Result<Status> YouSendIt::deleteFile(const QString& fileId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId))
        return invalidParameters();
    return statusOf(NI::deleteFileRequest(endpoint(), fileId), runner);
}

Result<StorageChanges> YouSendIt::getStorageRevisions(const QString& fromRevision,
                                                      net::BlockingRequestRunner& runner) {
    const Parameters p = fromRevision.isEmpty()
                             ? Parameters()
                             : Parameters{{key(wire::kBodyParamStorageRevision), fromRevision}};
    const Result<QVariant> answer = synchronousRequest(NI::getStorageRevisionsRequest(endpoint(), p), runner);
    if (!answer)
        return answer.error();
    return StorageChanges::fromDictionary(*answer);
}

Result<File> YouSendIt::getFileRevisions(const QString& fileId, net::BlockingRequestRunner& runner) {
    if (!nonEmpty(fileId))
        return invalidParameters();
    const Result<QVariant> answer =
        synchronousRequest(NI::getFileRevisionsRequest(endpoint(), fileId), runner);
    if (!answer)
        return answer.error();
    return File::fromDictionary(*answer);
}

void YouSendIt::downloadFile(const QString& downloadPath, const QString& password, const QString& destination,
                             qint64 offset, qint64 size, std::shared_ptr<ConnectionDataDelegate> delegate) {
    if (!nonEmpty(downloadPath) || !nonEmpty(destination) || password.isNull()) {
        platform::dispatch::onMain([delegate] {
            if (delegate)
                delegate->connectionFinishedWithError(invalidParameters());
        });
        return;
    }
    const Parameters p =
        password.isEmpty() ? Parameters() : Parameters{{key(wire::kBodyParamPassword), password}};
    net::HTTPRequest request = NI::downloadFileWithDownloadUrl(endpoint(), downloadPath, p);
    offset = std::max<qint64>(offset, 0);
    if (size > 0)
        request.setHeader(wire::kRequestHeaderRange,
                          QStringLiteral("bytes=%1-%2").arg(offset).arg(size).toLatin1());
    else if (offset > 0)
        request.setHeader(wire::kRequestHeaderRange, QStringLiteral("bytes=%1-").arg(offset).toLatin1());
    auto connection = std::make_shared<AsyncConnection>(std::move(request), destination, std::move(delegate));
    connection->resumeOffset = offset;
    connection->resumeSize = size > 0 ? size : 0;
    std::shared_ptr<AsyncConnection> previous;
    {
        std::lock_guard guard(mutex_);
        previous = std::exchange(download_, connection);
    }
    if (previous)
        previous->cancel();
    connection->start();
}

} // namespace qm::yousendit
