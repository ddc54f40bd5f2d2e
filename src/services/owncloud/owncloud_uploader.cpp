#include "services/owncloud/owncloud_uploader.h"

#include "accounts/settings_keys.h"
#include "net/http_client.h"
#include "net/http_client_multipart.h"
#include "net/mime_type.h"
#include "net/multipart_form_data.h"
#include "net/xml_request_operation.h"
#include "platform/data_additions.h"
#include "platform/string_format.h"
#include "services/owncloud/owncloud_service.h"

#include <QFile>
#include <QFileInfo>
#include <QVariantMap>

namespace qm::upload {

namespace keys = accounts::keys;

namespace {

constexpr char kErrorDomain[] = "RVErrorDomain";
constexpr char kShareCreationFailed[] = "Unknown problem during share creation.";
constexpr char kWebDAVPath[] = "remote.php/webdav";
constexpr char kSharesPath[] = "ocs/v1.php/apps/files_sharing/api/v1/shares";
constexpr char kTestFileName[] = "dummy.bin";
constexpr char kTestFileType[] = "binary/octet-stream";

long statusOf(net::HTTPRequestOperation& operation) {
    const std::optional<net::HTTPResponse> response = operation.response();
    return response ? response->statusCode : 0;
}

} // namespace

OwnCloudUploader::OwnCloudUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                                   QString keychainIdentifier)
    : environment_(environment)
    , bundle_(std::move(bundle))
    , keychainIdentifier_(std::move(keychainIdentifier)) {}

OwnCloudUploader::~OwnCloudUploader() = default;

OwnCloudUploader::ServerLocation OwnCloudUploader::serverLocation(const QString& serverText) {
    const QUrl url(serverText.trimmed());
    const QString path = url.path(QUrl::FullyEncoded);
    if (path.size() < 2)
        return {url, path};
    // Rebuilt from its parts rather than cut out of the text, so a host that begins like the path stays
    // whole.
    QUrl base;
    base.setScheme(url.scheme());
    base.setHost(url.host(QUrl::FullyDecoded), QUrl::DecodedMode);
    base.setPort(url.port());
    return {base, path};
}

QString OwnCloudUploader::joinPath(const QString& head, const QString& tail) {
    if (head.isEmpty())
        return tail;
    if (tail.isEmpty())
        return head;
    QString left = head;
    while (left.size() > 1 && left.endsWith(QLatin1Char('/')))
        left.chop(1);
    QString right = tail;
    while (right.startsWith(QLatin1Char('/')))
        right.remove(0, 1);
    return left.endsWith(QLatin1Char('/')) ? left + right : left + QLatin1Char('/') + right;
}

QString OwnCloudUploader::remoteName(const QString& name, qint64 index) {
    if (index == 0)
        return name;
    const QFileInfo info(name);
    return platform::formatString(QStringLiteral("%@-%ld.%@"),
                                  {info.completeBaseName(), index, info.suffix()});
}

QString OwnCloudUploader::escapedName(const QString& name) {
    // "?" and "#" would end the path of the WebDAV and share URLs, so a name never keeps them raw.
    return QString::fromLatin1(QUrl::toPercentEncoding(name, ":/&=;+!@$()',*"));
}

QString OwnCloudUploader::setting(const char* key) const {
    return environment_.settings.stringForKey(QString::fromLatin1(key));
}

OwnCloudUploader::Account OwnCloudUploader::account(bool linking) const {
    Account result;
    result.serverText = setting(keys::ownCloudURL).trimmed();
    result.location = serverLocation(result.serverText);
    result.login = linking && !login().isNull() ? login() : setting(keys::ownCloudEmail);
    result.password =
        linking && !password().isNull()
            ? password()
            : environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, result.login);
    result.folder = setting(keys::ownCloudDirectoryName);
    if (result.folder.isEmpty())
        result.folder = bundle_.name();
    return result;
}

std::shared_ptr<net::HTTPClient> OwnCloudUploader::newClient(const Account& account, bool acceptXML) {
    auto client = net::HTTPClient::clientWithBaseURL(account.location.baseURL);
    if (acceptXML)
        client->setDefaultHeader("Accept", "application/xml");
    client->setAuthorizationHeaderWithUsername(account.login, account.password);
    clients_.append(client);
    return client;
}

QString OwnCloudUploader::davFilePath(const Account& account, const QString& name) {
    return joinPath(
        joinPath(joinPath(account.location.path, QString::fromLatin1(kWebDAVPath)), account.folder),
        escapedName(name));
}

void OwnCloudUploader::removeUploadedFile(const QUrl& link,
                                          std::function<void(platform::Result<void>)> done) {
    const Account current = account(false);
    QString filePath = stored_.value(link);
    const QUrl folderLink = QUrl(current.serverText + QLatin1Char('/') + current.folder + QLatin1Char('/'))
                                .adjusted(QUrl::RemoveUserInfo);
    if (filePath.isEmpty() && !link.fileName().isEmpty() &&
        link.adjusted(QUrl::RemoveFilename | QUrl::RemoveUserInfo).matches(folderLink, QUrl::None))
        filePath = davFilePath(current, link.fileName(QUrl::FullyDecoded));
    if (filePath.isEmpty()) {
        Uploader::removeUploadedFile(link, std::move(done));
        return;
    }
    // Not tied to a run: cancelling an upload must not stop a removal.
    auto client = newClient(current, false);
    auto shared = std::make_shared<std::function<void(platform::Result<void>)>>(std::move(done));
    client->deletePath(
        filePath, {}, [shared](net::HTTPRequestOperation&, const QVariant&) { (*shared)({}); },
        [shared](net::HTTPRequestOperation&, const platform::Error& error) { (*shared)(error); });
}

void OwnCloudUploader::startUpload(const QString& path) {
    probeName(account(false), path, 0);
}

void OwnCloudUploader::probeName(const Account& account, const QString& path, qint64 index) {
    const QString name = remoteName(QFileInfo(path).fileName(), index);
    const QString filePath = davFilePath(account, name);
    auto client = newClient(account, false);
    // HEAD rather than GET: whether the name is taken needs no copy of the file that has it.
    net::HTTPRequest request = client->requestWithMethod("HEAD", filePath);
    request.timeout = timeout_;
    auto probe = client->HTTPRequestOperationWithRequest(
        std::move(request), inRun([this, account, path, index](net::HTTPRequestOperation&, const QVariant&) {
            probeName(account, path, index + 1);
        }),
        inRun(
            [this, account, path, index](net::HTTPRequestOperation& operation, const platform::Error& error) {
                if (statusOf(operation) == 404) {
                    storeFile(account, path, index);
                    return;
                }
                reportFailure(error);
            }));
    client->enqueueHTTPRequestOperation(probe);
}

void OwnCloudUploader::storeFile(const Account& account, const QString& path, qint64 index) {
    const QString name = remoteName(QFileInfo(path).fileName(), index);
    const QString filePath = davFilePath(account, name);
    auto client = newClient(account, false);
    net::HTTPRequest request = client->requestWithMethod("PUT", filePath);
    request.timeout = timeout_;
    // Streamed from the file rather than read whole, so a large attachment never sits in memory.
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        // The platform's code for a file that cannot be read, so callers see the usual error.
        reportFailure(platform::Error(QStringLiteral("NSCocoaErrorDomain"), 260, file->errorString()));
        return;
    }
    request.bodyLength = file->size();
    request.bodyDevice = file;
    QString type = net::mimeTypeForPathExtension(path);
    if (type == QLatin1String("application/octet-stream"))
        type = QString::fromLatin1(kTestFileType);
    request.setHeader("Content-Type", type.toUtf8());
    // Another sender may take the name between the probe and the upload: never overwrite, take the next.
    request.setHeader("If-None-Match", "*");
    auto operation = client->HTTPRequestOperationWithRequest(
        std::move(request), inRun([this, account, name](net::HTTPRequestOperation&, const QVariant&) {
            if (!createPublicLink()) {
                // The link goes out in the message: never with a login or password of the address.
                const QUrl link = QUrl(account.serverText + QLatin1Char('/') + account.folder +
                                       QLatin1Char('/') + escapedName(name))
                                      .adjusted(QUrl::RemoveUserInfo);
                stored_.insert(link, davFilePath(account, name));
                reportLink(link);
                return;
            }
            shareFile(account, name);
        }),
        inRun(
            [this, account, path, index](net::HTTPRequestOperation& operation, const platform::Error& error) {
                if (statusOf(operation) == 412) {
                    probeName(account, path, index + 1);
                    return;
                }
                reportFailure(error);
            }));
    operation->setUploadProgressBlock(inRun([this](qint64, qint64 written, qint64 expected) {
        reportProgress(expected > 0 ? static_cast<double>(written) / static_cast<double>(expected) : 1.0);
    }));
    client->enqueueHTTPRequestOperation(operation);
}

void OwnCloudUploader::shareFile(const Account& account, const QString& name) {
    auto client = newClient(account, true);
    const QVariantMap parameters{{QStringLiteral("path"), joinPath(account.folder, name)},
                                 {QStringLiteral("shareType"), 3}};
    client->postPath(
        joinPath(account.location.path, QString::fromLatin1(kSharesPath)), parameters,
        inRun([this, account, name](net::HTTPRequestOperation& operation, const QVariant&) {
            const auto document = net::XMLDocument::parse(operation.responseData()).valueOr(nullptr);
            const QStringList urls =
                document ? document->valuesForXPath(QStringLiteral("//url")) : QStringList();
            if (urls.size() != 1) {
                reportFailure(platform::Error(QString::fromLatin1(kErrorDomain), ShareCreationFailed,
                                              bundle_.localized(QString::fromLatin1(kShareCreationFailed))));
                return;
            }
            const QUrl link(urls.first() + QStringLiteral("&download"));
            stored_.insert(link, davFilePath(account, name));
            reportLink(link);
        }),
        inRun([this](net::HTTPRequestOperation&, const platform::Error& error) { reportFailure(error); }));
}

void OwnCloudUploader::startAuthentication() {
    testFolder();
}

void OwnCloudUploader::testFolder() {
    const Account current = account(true);
    auto client = newClient(current, true);
    const QString folderPath =
        joinPath(current.location.path, joinPath(QString::fromLatin1(kWebDAVPath), current.folder));
    client->getPath(
        folderPath, {}, inRun([this, client, folderPath](net::HTTPRequestOperation&, const QVariant&) {
            testWrite(client, folderPath);
        }),
        inRun([this, client, folderPath](net::HTTPRequestOperation& operation, const platform::Error& error) {
            if (statusOf(operation) != 404) {
                reportAuthentication(error);
                return;
            }
            auto create = client->HTTPRequestOperationWithRequest(
                client->requestWithMethod("MKCOL", folderPath),
                [this](net::HTTPRequestOperation&, const QVariant&) { testFolder(); },
                [this](net::HTTPRequestOperation&, const platform::Error& createError) {
                    reportAuthentication(createError);
                });
            client->enqueueHTTPRequestOperation(create);
        }));
}

void OwnCloudUploader::testWrite(const std::shared_ptr<net::HTTPClient>& client, const QString& folderPath) {
    const QByteArray bytes = platform::randomDataWithBytes(4);
    const QString testPath = joinPath(folderPath, QString::fromLatin1(kTestFileName));
    net::HTTPRequest request =
        client->multipartFormRequestWithMethod("PUT", testPath, {}, [&bytes](net::MultipartFormData& form) {
            form.appendPartWithFileData(bytes, QString::fromLatin1(kTestFileName),
                                        QString::fromLatin1(kTestFileName),
                                        QString::fromLatin1(kTestFileType));
        });
    auto write = client->HTTPRequestOperationWithRequest(
        std::move(request), inRun([this, client, testPath](net::HTTPRequestOperation&, const QVariant&) {
            client->deletePath(
                testPath, {},
                [this](net::HTTPRequestOperation&, const QVariant&) { reportAuthentication(std::nullopt); },
                [this](net::HTTPRequestOperation&, const platform::Error& error) {
                    reportAuthentication(error);
                });
        }),
        inRun([this](net::HTTPRequestOperation&, const platform::Error& error) {
            reportAuthentication(error);
        }));
    client->enqueueHTTPRequestOperation(write);
}

OwnCloudUploaderClass::OwnCloudUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle)
    : FlagLinkedUploaderClass(environment, ownCloudService())
    , bundle_(std::move(bundle)) {}

std::unique_ptr<Uploader> OwnCloudUploaderClass::create() const {
    return std::make_unique<OwnCloudUploader>(environment(), bundle_, keychainIdentifier());
}

} // namespace qm::upload
