#pragma once

#include "net/http_request.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <utility>

namespace qm::yousendit {

// Header, method and parameter words on the wire.
namespace wire {
inline constexpr char kRequestHeaderXApiKey[] = "X-Api-Key";
inline constexpr char kRequestHeaderXAuthToken[] = "X-Auth-Token";
inline constexpr char kRequestHeaderAccept[] = "Accept";
inline constexpr char kRequestHeaderContentType[] = "Content-type";
inline constexpr char kRequestHeaderRange[] = "Range";
inline constexpr char kAcceptAplicationJson[] = "application/json";
inline constexpr char kBoundary[] = "AaB03x";
inline constexpr char kServerResponseAuthToken[] = "authToken";
inline constexpr char kServerResponseErrorStatus[] = "errorStatus";
inline constexpr char kBodyParamEmail[] = "email";
inline constexpr char kBodyParamPassword[] = "password";
inline constexpr char kBodyParamRecipients[] = "recipients";
inline constexpr char kBodyParamFileCount[] = "fileCount";
inline constexpr char kBodyParamSubject[] = "subject";
inline constexpr char kBodyParamMessage[] = "message";
inline constexpr char kBodyParamVerifyIdentify[] = "verifyIdentity";
inline constexpr char kBodyParamReturnReceipt[] = "returnReceipt";
inline constexpr char kBodyParamSendEmailNotifications[] = "sendEmailNotifications";
inline constexpr char kBodyParamExpiration[] = "expiration";
inline constexpr char kBodyParamsBid[] = "bid";
inline constexpr char kBodyParamsFName[] = "fname";
inline constexpr char kBodyParamUploadURL[] = "uploadUrl";
inline constexpr char kBodyParamSentItems[] = "sentItems";
inline constexpr char kBodyParamFilter[] = "filter";
inline constexpr char kBodyParamIncludeFileInfo[] = "includeFileInfo";
inline constexpr char kBodyParamIncludeTracking[] = "includeTracking";
inline constexpr char kBodyParamPage[] = "page";
inline constexpr char kBodyParamPageLenght[] = "pageLength";
inline constexpr char kBodyParamName[] = "name";
inline constexpr char kBodyParamParentId[] = "parentId";
inline constexpr char kBodyParamFolderIncludeFiles[] = "includeFiles";
inline constexpr char kBodyParamFolderIncludeFolders[] = "includeFolders";
inline constexpr char kBodyParamFieldId[] = "fileId";
inline constexpr char kBodyParamPermission[] = "permission";
inline constexpr char kBodyParamStorageRevision[] = "fromRevision";
inline constexpr char kBodyParamFirstName[] = "firstname";
inline constexpr char kBodyParamLastName[] = "lastname";
inline constexpr char kBodyParamXMLResponse[] = "ysi-response";
inline constexpr char kBodyParamXMLError[] = "ysi-error";
inline constexpr char kBodyParamXMLErrorCode[] = "error-code";
inline constexpr char kBodyParamXMLErrorMessage[] = "error-message";
inline constexpr char kBodyParamXMLUploadStatus[] = "upload-status";
inline constexpr char kBodyParamXMLTextValue[] = "text";
} // namespace wire

// Parameters in the order they go on the wire, values already in their text form.
using Parameters = QList<std::pair<QString, QString>>;

// What every request carries: where the API is, the application's key and the session's token.
struct Endpoint {
    QString serverUrl;
    QString apiKey;
    QString authToken;                        // empty before a login: no "X-Auth-Token" is sent then
    std::chrono::milliseconds timeout{30000}; // idle time after which a request fails
};

// Builds the requests of the API, not yet sent. Every request but the upload goes below the server URL
// with "X-Api-Key", "Accept: application/json", the token where the call needs it, and a 30-second idle
// timeout.
class NetworkInterface {
public:
    // "key=value" pairs joined with "&"; null for no parameters. Values are escaped as form values, so an
    // "&", "=" or "+" in a password reaches the server as written.
    static QString stringFromDictionary(const Parameters& parameters);
    // The elements joined with ","; null for none.
    static QString stringFromArray(const QStringList& elements);
    static QString stringFromBool(bool value);
    // 1 "expired", 2 "unexpired", else "all".
    static QString stringFromItemType(int type);
    // 1 "write", else "read".
    static QString stringFromFolderPermissionType(int type);
    static bool isNumberFromString(const QString& text);

    static net::HTTPRequest urlRequestWithBodyParams(const Endpoint& endpoint, const QString& path,
                                                     const Parameters& parameters, const QByteArray& method,
                                                     bool needsAuth);
    static net::HTTPRequest urlRequestWithUrlParams(const Endpoint& endpoint, const QString& path,
                                                    const Parameters& parameters, const QByteArray& method,
                                                    bool needsAuth);

    static net::HTTPRequest loginURLRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest createNewUserRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest userInfoRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest policyInfoRequest(const Endpoint& e);
    static net::HTTPRequest prepareUploadURLForNewItemRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest commitItemSendRequest(const Endpoint& e, const Parameters& p,
                                                  const QString& itemId);
    static net::HTTPRequest uploadStatusRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest getItemListRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest getItemCountRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest getItemInfoRequest(const Endpoint& e, const QString& itemId);
    static net::HTTPRequest changeExpirationRequest(const Endpoint& e, const QString& itemId,
                                                    const Parameters& p);
    static net::HTTPRequest deleteItemRequest(const Endpoint& e, const QString& itemId);
    static net::HTTPRequest getFileInfoRequest(const Endpoint& e, const QString& fileId);
    static net::HTTPRequest createFolderRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest getFolderInfoRequest(const Endpoint& e, const QString& folderId,
                                                 const Parameters& p);
    static net::HTTPRequest prepareFileUploadToFolderRequest(const Endpoint& e);
    static net::HTTPRequest commitFileUploadToAFolderRequest(const Endpoint& e, const Parameters& p);
    static net::HTTPRequest shareFolderRequest(const Endpoint& e, const QString& folderId,
                                               const Parameters& p);
    static net::HTTPRequest getFolderShareInfoRequest(const Endpoint& e, const QString& folderId);
    static net::HTTPRequest unshareFolderRequest(const Endpoint& e, const QString& folderId,
                                                 const Parameters& p);
    static net::HTTPRequest sendFileToRecipientsRequest(const Endpoint& e, const QString& fileId,
                                                        const Parameters& p);
    static net::HTTPRequest renameFolderRequest(const Endpoint& e, const QString& folderId,
                                                const Parameters& p);
    static net::HTTPRequest moveFolderRequest(const Endpoint& e, const QString& folderId,
                                              const Parameters& p);
    static net::HTTPRequest deleteFolderRequest(const Endpoint& e, const QString& folderId);
    static net::HTTPRequest renameFileRequest(const Endpoint& e, const QString& fileId, const Parameters& p);
    static net::HTTPRequest moveFileRequest(const Endpoint& e, const QString& fileId, const Parameters& p);
    static net::HTTPRequest deleteFileRequest(const Endpoint& e, const QString& fileId);
    static net::HTTPRequest getStorageRevisionsRequest(const Endpoint& e, const Parameters& p = {});
    static net::HTTPRequest getFileRevisionsRequest(const Endpoint& e, const QString& fileId);
    static net::HTTPRequest downloadFileWithDownloadUrl(const Endpoint& e, const QString& downloadPath,
                                                        const Parameters& p);

    // The file upload, to the full upload URL the server handed out, with neither key nor token. The body
    // is `fileName`'s multipart form read from `filePath` while it is sent.
    static net::HTTPRequest uploadFileRequest(const QUrl& uploadURL, const QString& itemId,
                                              const QString& filePath, const QString& fileName,
                                              std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // The filename attribute as written into the part's header: a quote or a line break would end it.
    static QString escapedFileName(const QString& fileName);
};

} // namespace qm::yousendit
