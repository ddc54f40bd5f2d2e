#include "services/yousendit/network_interface.h"

#include "net/file_range_device.h"
#include "net/multipart_body_device.h"

#include <QFileInfo>
#include <QLocale>

namespace qm::yousendit {

namespace {

constexpr char kFormContentType[] = "application/x-www-form-urlencoded";

QString path(const char* format, const QString& id) {
    return QString::fromLatin1(format).arg(QString::fromLatin1(QUrl::toPercentEncoding(id)));
}

net::HTTPRequest baseRequest(const QUrl& url, const QByteArray& method, const Endpoint& endpoint,
                             bool needsAuth) {
    net::HTTPRequest request(url, method);
    request.timeout = endpoint.timeout;
    request.setHeader(wire::kRequestHeaderXApiKey, endpoint.apiKey.toUtf8());
    if (needsAuth && !endpoint.authToken.isEmpty())
        request.setHeader(wire::kRequestHeaderXAuthToken, endpoint.authToken.toUtf8());
    request.setHeader(wire::kRequestHeaderAccept, wire::kAcceptAplicationJson);
    return request;
}

} // namespace

QString NetworkInterface::stringFromDictionary(const Parameters& parameters) {
    if (parameters.isEmpty())
        return {};
    QStringList pairs;
    for (const auto& [key, value] : parameters)
        pairs.append(key + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value)));
    return pairs.join(u'&');
}

QString NetworkInterface::stringFromArray(const QStringList& elements) {
    return elements.isEmpty() ? QString() : elements.join(u',');
}

QString NetworkInterface::stringFromBool(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString NetworkInterface::stringFromItemType(int type) {
    return type == 1   ? QStringLiteral("expired")
           : type == 2 ? QStringLiteral("unexpired")
                       : QStringLiteral("all");
}

QString NetworkInterface::stringFromFolderPermissionType(int type) {
    return type == 1 ? QStringLiteral("write") : QStringLiteral("read");
}

bool NetworkInterface::isNumberFromString(const QString& text) {
    bool ok = false;
    (void)QLocale::c().toDouble(text.trimmed(), &ok);
    return !text.isEmpty() && ok;
}

net::HTTPRequest NetworkInterface::urlRequestWithBodyParams(const Endpoint& endpoint, const QString& path,
                                                            const Parameters& parameters,
                                                            const QByteArray& method, bool needsAuth) {
    net::HTTPRequest request = baseRequest(QUrl(endpoint.serverUrl + path), method, endpoint, needsAuth);
    const QString body = stringFromDictionary(parameters);
    if (!body.isEmpty()) {
        request.body = body.toUtf8();
        // What the platform's URL loading says of a body without a type.
        request.setHeader("Content-Type", kFormContentType);
    }
    return request;
}

net::HTTPRequest NetworkInterface::urlRequestWithUrlParams(const Endpoint& endpoint, const QString& path,
                                                           const Parameters& parameters,
                                                           const QByteArray& method, bool needsAuth) {
    const QString query = stringFromDictionary(parameters);
    const QString full = endpoint.serverUrl + path + (query.isNull() ? QString() : u'?' + query);
    return baseRequest(QUrl(full, QUrl::StrictMode), method, endpoint, needsAuth);
}

net::HTTPRequest NetworkInterface::loginURLRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithBodyParams(e, QStringLiteral("/dpi/v1/auth"), p, "POST", false);
}
net::HTTPRequest NetworkInterface::createNewUserRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithBodyParams(e, QStringLiteral("/dpi/v1/user"), p, "POST", true);
}
net::HTTPRequest NetworkInterface::userInfoRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithUrlParams(e, QStringLiteral("/dpi/v2/user"), p, "GET", true);
}
net::HTTPRequest NetworkInterface::policyInfoRequest(const Endpoint& e) {
    return urlRequestWithUrlParams(e, QStringLiteral("/dpi/v1/policy"), {}, "GET", true);
}
net::HTTPRequest NetworkInterface::prepareUploadURLForNewItemRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithBodyParams(e, QStringLiteral("/dpi/v1/item/send"), p, "POST", true);
}
net::HTTPRequest NetworkInterface::commitItemSendRequest(const Endpoint& e, const Parameters& p,
                                                         const QString& itemId) {
    return urlRequestWithBodyParams(e, path("/dpi/v1/item/commit/%1", itemId), p, "POST", true);
}
net::HTTPRequest NetworkInterface::uploadStatusRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithUrlParams(e, QStringLiteral("/dpi/v1/item/status"), p, "GET", true);
}
net::HTTPRequest NetworkInterface::getItemListRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithUrlParams(e, QStringLiteral("/dpi/v1/item/list"), p, "GET", true);
}
net::HTTPRequest NetworkInterface::getItemCountRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithUrlParams(e, QStringLiteral("/dpi/v1/item/count"), p, "GET", true);
}
net::HTTPRequest NetworkInterface::getItemInfoRequest(const Endpoint& e, const QString& itemId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/item/%1", itemId), {}, "GET", true);
}
net::HTTPRequest NetworkInterface::changeExpirationRequest(const Endpoint& e, const QString& itemId,
                                                           const Parameters& p) {
    return urlRequestWithBodyParams(e, path("/dpi/v1/item/expiration/%1", itemId), p, "POST", true);
}
net::HTTPRequest NetworkInterface::deleteItemRequest(const Endpoint& e, const QString& itemId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/item/%1", itemId), {}, "DELETE", true);
}
net::HTTPRequest NetworkInterface::getFileInfoRequest(const Endpoint& e, const QString& fileId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/file/%1", fileId), {}, "GET", true);
}
net::HTTPRequest NetworkInterface::createFolderRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithBodyParams(e, QStringLiteral("/dpi/v1/folder"), p, "POST", true);
}
net::HTTPRequest NetworkInterface::getFolderInfoRequest(const Endpoint& e, const QString& folderId,
                                                        const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/%1", folderId), p, "GET", true);
}
net::HTTPRequest NetworkInterface::prepareFileUploadToFolderRequest(const Endpoint& e) {
    return urlRequestWithBodyParams(e, QStringLiteral("/dpi/v1/folder/file/initUpload"), {}, "POST", true);
}
net::HTTPRequest NetworkInterface::commitFileUploadToAFolderRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithBodyParams(e, QStringLiteral("/dpi/v1/folder/file/commitUpload"), p, "POST", true);
}
net::HTTPRequest NetworkInterface::shareFolderRequest(const Endpoint& e, const QString& folderId,
                                                      const Parameters& p) {
    return urlRequestWithBodyParams(e, path("/dpi/v1/folder/%1/share", folderId), p, "POST", true);
}
net::HTTPRequest NetworkInterface::getFolderShareInfoRequest(const Endpoint& e, const QString& folderId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/%1/share", folderId), {}, "GET", true);
}
net::HTTPRequest NetworkInterface::unshareFolderRequest(const Endpoint& e, const QString& folderId,
                                                        const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/%1/unshare", folderId), p, "PUT", true);
}
net::HTTPRequest NetworkInterface::sendFileToRecipientsRequest(const Endpoint& e, const QString& fileId,
                                                               const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/file/%1/send", fileId), p, "POST", true);
}
net::HTTPRequest NetworkInterface::renameFolderRequest(const Endpoint& e, const QString& folderId,
                                                       const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/%1/rename", folderId), p, "PUT", true);
}
net::HTTPRequest NetworkInterface::moveFolderRequest(const Endpoint& e, const QString& folderId,
                                                     const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/%1/move", folderId), p, "PUT", true);
}
net::HTTPRequest NetworkInterface::deleteFolderRequest(const Endpoint& e, const QString& folderId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/%1", folderId), {}, "DELETE", true);
}
net::HTTPRequest NetworkInterface::renameFileRequest(const Endpoint& e, const QString& fileId,
                                                     const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/file/%1/rename", fileId), p, "PUT", true);
}
net::HTTPRequest NetworkInterface::moveFileRequest(const Endpoint& e, const QString& fileId,
                                                   const Parameters& p) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/file/%1/move", fileId), p, "PUT", true);
}
net::HTTPRequest NetworkInterface::deleteFileRequest(const Endpoint& e, const QString& fileId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/file/%1", fileId), {}, "DELETE", true);
}
net::HTTPRequest NetworkInterface::getStorageRevisionsRequest(const Endpoint& e, const Parameters& p) {
    return urlRequestWithUrlParams(e, QStringLiteral("/dpi/v1/storage/revisions"), p, "GET", true);
}
net::HTTPRequest NetworkInterface::getFileRevisionsRequest(const Endpoint& e, const QString& fileId) {
    return urlRequestWithUrlParams(e, path("/dpi/v1/folder/file/%1/revisions", fileId), {}, "GET", true);
}
net::HTTPRequest NetworkInterface::downloadFileWithDownloadUrl(const Endpoint& e, const QString& downloadPath,
                                                               const Parameters& p) {
    return urlRequestWithUrlParams(e, downloadPath, p, "GET", true);
}

QString NetworkInterface::escapedFileName(const QString& fileName) {
    QString escaped = fileName;
    escaped.replace(u'"', QStringLiteral("%22"))
        .replace(u'\r', QStringLiteral("%0D"))
        .replace(u'\n', QStringLiteral("%0A"));
    return escaped;
}

net::HTTPRequest NetworkInterface::uploadFileRequest(const QUrl& uploadURL, const QString& itemId,
                                                     const QString& filePath, const QString& fileName,
                                                     std::chrono::milliseconds timeout) {
    net::MultipartFormData form{QString::fromLatin1(wire::kBoundary)};
    form.appendPartWithHeaders({{QStringLiteral("Content-Disposition"),
                                 QStringLiteral("form-data; name=\"%1\"").arg(wire::kBodyParamsBid)}},
                               itemId.toUtf8());
    const qint64 size = QFileInfo(filePath).size();
    form.appendPartWithHeaders(
        {{QStringLiteral("Content-Disposition"),
          QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"")
              .arg(QString::fromLatin1(wire::kBodyParamsFName), escapedFileName(fileName))},
         {QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream")}},
        std::make_shared<net::FileRangeDevice>(filePath, 0, size), quint64(size));
    net::HTTPRequest request(uploadURL, "POST");
    request.timeout = timeout;
    request.setHeader(wire::kRequestHeaderContentType,
                      QStringLiteral("multipart/form-data; boundary=%1").arg(wire::kBoundary).toUtf8());
    request.setHeader(wire::kRequestHeaderAccept, wire::kAcceptAplicationJson);
    // The transport states the length (Content-Length) from it.
    request.bodyLength = qint64(form.contentLength());
    request.bodyDevice = std::shared_ptr<QIODevice>(form.createBodyDevice().release());
    return request;
}

} // namespace qm::yousendit
