#include "services/mediafire/mediafire_uploader.h"

#include "accounts/settings_keys.h"
#include "net/http_client.h"
#include "net/json_request_operation.h"
#include "net/mime_type.h"
#include "net/multipart_form_data.h"
#include "net/xml_request_operation.h"
#include "platform/dispatch.h"
#include "platform/string_additions.h"
#include "platform/string_format.h"
#include "json/json.h"

#include <QFileInfo>
#include <QVariantMap>

namespace qm::upload {

namespace keys = accounts::keys;

namespace {

constexpr char kErrorDomain[] = "RVErrorDomain";
constexpr int kServiceFailed = 41;
constexpr int kDoneStatus = 99;
constexpr char kTokenPath[] = "api/user/get_session_token.php";
constexpr char kFolderContentPath[] = "api/folder/get_content.php";
constexpr char kCreateFolderPath[] = "api/folder/create.php";
constexpr char kCouldNotCreateDirectory[] = "Could not create directory.";
constexpr char kUploadFailed[] = "Upload failed with Error: %@";
constexpr char kNoQuickKey[] = "Failed to acquire quickKey with error: %@";
constexpr char kNoDownloadLink[] = "Failed to acquire download link: %@";

using JsonSuccess = std::function<void(const QVariant& json)>;
using Failure = std::function<void(const platform::Error&)>;

// The value at `path` in nested JSON objects; invalid where one is missing.
QVariant at(QVariant value, std::initializer_list<const char*> path) {
    for (const char* key : path)
        value = value.toMap().value(QString::fromLatin1(key));
    return value;
}

QString text(const QVariant& value) {
    if (!value.isValid() || value.metaType() == QMetaType::fromType<std::nullptr_t>() ||
        value.metaType() == QMetaType::fromType<QVariantList>())
        return {};
    return value.toString();
}

QString escaped(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

platform::Error mediaFireError(const QString& description) {
    return platform::Error(QString::fromLatin1(kErrorDomain), kServiceFailed, description);
}

struct Account {
    QString email, password;
};

std::shared_ptr<net::HTTPRequestOperation> getJSON(net::HTTPClient& client, std::chrono::milliseconds timeout,
                                                   const QString& path, const QVariant& parameters,
                                                   JsonSuccess success, Failure failure) {
    net::HTTPRequest request = client.requestWithMethod("GET", path, parameters);
    request.timeout = timeout;
    auto operation = client.HTTPRequestOperationWithRequest(
        std::move(request),
        [success = std::move(success)](net::HTTPRequestOperation&, const QVariant& json) { success(json); },
        [failure = std::move(failure)](net::HTTPRequestOperation&, const platform::Error& error) {
            failure(error);
        });
    client.enqueueHTTPRequestOperation(operation);
    return operation;
}

std::shared_ptr<net::HTTPRequestOperation>
requestToken(net::HTTPClient& client, const MediaFireDeployment& deployment, const Account& account,
             std::function<void(const QString&)> success, Failure failure) {
    const QVariantMap parameters{
        {QStringLiteral("email"), account.email},
        {QStringLiteral("password"), account.password},
        {QStringLiteral("signature"),
         MediaFireUploader::signature(account.email, account.password, deployment.applicationId,
                                      deployment.apiKey)},
        {QStringLiteral("application_id"), deployment.applicationId},
        {QStringLiteral("response_format"), QStringLiteral("json")},
    };
    return getJSON(
        client, deployment.timeout, QString::fromLatin1(kTokenPath), parameters,
        [success = std::move(success), failure](const QVariant& json) {
            const QString token = text(at(json, {"response", "session_token"}));
            // Every later request would fail with an empty token: say why here instead.
            if (token.isEmpty()) {
                const QString message = text(at(json, {"response", "message"}));
                failure(mediaFireError(
                    QStringLiteral("MediaFire gave no session token%1")
                        .arg(message.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + message)));
                return;
            }
            success(token);
        },
        failure);
}

QString durationText(std::chrono::milliseconds duration) {
    const auto seconds = (duration.count() + 999) / 1000;
    if (seconds >= 120)
        return QStringLiteral("%1 minutes").arg((seconds + 59) / 60);
    return seconds == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(seconds);
}

} // namespace

MediaFireUploader::MediaFireUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                                     MediaFireDeployment deployment,
                                     std::shared_ptr<MediaFireSession> session, QString keychainIdentifier)
    : environment_(environment)
    , bundle_(std::move(bundle))
    , deployment_(std::move(deployment))
    , session_(std::move(session))
    , keychainIdentifier_(std::move(keychainIdentifier)) {}

MediaFireUploader::~MediaFireUploader() {
    stopTransfer();
}

QString MediaFireUploader::signature(const QString& email, const QString& password,
                                     const QString& applicationId, const QString& apiKey) {
    return platform::sha1Digest(email + password + applicationId + apiKey);
}

platform::Error MediaFireUploader::serviceError(const QString& englishFormat, const QString& detail) const {
    return mediaFireError(platform::formatString(bundle_.localized(englishFormat), {detail}));
}

void MediaFireUploader::stopTransfer() {
    if (current_)
        current_->cancel();
    current_.reset();
}

void MediaFireUploader::fetch(const QString& path, const QVariant& parameters, Json success, Failure failure,
                              bool tied) {
    auto operation = getJSON(*session_->web, deployment_.timeout, path, parameters, inRun(std::move(success)),
                             inRun(std::move(failure)));
    if (tied)
        current_ = operation;
}

void MediaFireUploader::sessionToken(std::function<void(const QString&)> success, Failure failure,
                                     bool tied) {
    const QString email = login().isNull()
                              ? environment_.settings.stringForKey(QString::fromLatin1(keys::mediaFireEmail))
                              : login();
    const QString secret = password().isNull()
                               ? environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, email)
                               : password();
    auto operation = requestToken(*session_->web, deployment_, {email, secret}, inRun(std::move(success)),
                                  inRun(std::move(failure)));
    if (tied)
        current_ = operation;
}

void MediaFireUploader::startAuthentication() {
    if (!deployment_.hasKeys()) {
        reportAuthentication(MediaFireDeployment::missingKeyError());
        return;
    }
    sessionToken([this](const QString& token) { findFolder(token); },
                 [this](const platform::Error& error) { reportAuthentication(error); });
}

void MediaFireUploader::findFolder(const QString& token) {
    const QVariantMap parameters{{QStringLiteral("session_token"), token},
                                 {QStringLiteral("response_format"), QStringLiteral("json")},
                                 {QStringLiteral("content_type"), QStringLiteral("folders")}};
    fetch(
        QString::fromLatin1(kFolderContentPath), parameters,
        [this, token](const QVariant& json) {
            for (const QVariant& entry : at(json, {"response", "folder_content", "folders"}).toList()) {
                if (text(at(entry, {"name"})) != bundle_.name())
                    continue;
                const QString key = text(at(entry, {"folderkey"}));
                if (key.isEmpty())
                    break;
                finishSetUp(key);
                return;
            }
            createFolder(token);
        },
        [this](const platform::Error& error) { reportAuthentication(error); });
}

void MediaFireUploader::createFolder(const QString& token) {
    const QVariantMap parameters{{QStringLiteral("session_token"), token},
                                 {QStringLiteral("foldername"), bundle_.name()},
                                 {QStringLiteral("response_format"), QStringLiteral("json")}};
    fetch(
        QString::fromLatin1(kCreateFolderPath), parameters,
        [this](const QVariant& json) {
            const QString key = text(at(json, {"response", "folder_key"}));
            if (key.isEmpty()) {
                reportAuthentication(
                    mediaFireError(bundle_.localized(QString::fromLatin1(kCouldNotCreateDirectory))));
                return;
            }
            finishSetUp(key);
        },
        [this](const platform::Error& error) { reportAuthentication(error); });
}

void MediaFireUploader::finishSetUp(const QString& folderKey) {
    // A settings file that cannot keep the folder would leave every upload refused: the link fails instead.
    const auto stored =
        environment_.settings.setObject(folderKey, QString::fromLatin1(keys::mediaFireFolderKey));
    reportAuthentication(stored ? std::nullopt : std::optional<platform::Error>(stored.error()));
}

void MediaFireUploader::startUpload(const QString& path) {
    if (!deployment_.hasKeys()) {
        reportFailure(MediaFireDeployment::missingKeyError());
        return;
    }
    sessionToken([this, path](const QString& token) { sendFile(token, path); },
                 [this](const platform::Error& error) { reportFailure(error); });
}

void MediaFireUploader::sendFile(const QString& token, const QString& path) {
    const QString folderKey =
        environment_.settings.stringForKey(QString::fromLatin1(keys::mediaFireFolderKey));
    const QString name = QFileInfo(path).fileName();
    // Escaped, unlike the bare insertion the service's examples show: a token or key is then always one
    // value.
    const QString target =
        QStringLiteral("api/upload/simple.php?session_token=%1&uploadkey=%2&action_on_duplicate=keep")
            .arg(escaped(token), escaped(folderKey));
    platform::Result<void> attached;
    // The file part is read from disk while the body is sent, never held whole.
    net::HTTPRequest request = session_->upload->multipartFormRequestWithMethod(
        "POST", target, QVariant(), [&](net::MultipartFormData& form) {
            attached = form.appendPartWithFileUrl(QUrl::fromLocalFile(path), QStringLiteral("Filedata"), name,
                                                  net::mimeTypeForPathExtension(path));
        });
    if (!attached) {
        reportFailure(attached.error());
        return;
    }
    request.timeout = deployment_.timeout;
    const qint64 mebibytes = QFileInfo(path).size() >> 20;
    auto operation = net::XMLRequestOperation::createForDocument(
        std::move(request),
        inRun([this, token, mebibytes](net::XMLRequestOperation&,
                                       const std::shared_ptr<net::XMLDocument>& document) {
            auto first = [&document](const char* expression) {
                return document ? document->valuesForXPath(QString::fromLatin1(expression)).value(0)
                                : QString();
            };
            const QString result = first("/response/result");
            const QString uploadResult = first("/response/doupload/result");
            const QString uploadKey = first("/response/doupload/key");
            if (result != QLatin1String("Success") || uploadKey.isEmpty()) {
                reportFailure(serviceError(QString::fromLatin1(kUploadFailed), uploadResult));
                return;
            }
            pollBound_ = deployment_.pollLimit + std::chrono::seconds(mebibytes);
            pollDeadline_ = QDeadlineTimer(pollBound_);
            platform::dispatch::after(static_cast<int>(deployment_.pollInterval.count()),
                                      inRun([this, token, uploadKey] { poll(token, uploadKey); }));
        }),
        inRun([this](net::XMLRequestOperation&, const platform::Error& error,
                     const std::shared_ptr<net::XMLDocument>&) { reportFailure(error); }));
    operation->setUploadProgressBlock(inRun([this](qint64, qint64 written, qint64 expected) {
        reportProgress(expected > 0 ? static_cast<double>(written) / static_cast<double>(expected) : 1.0);
    }));
    current_ = operation;
    operation->start();
}

void MediaFireUploader::poll(const QString& token, const QString& uploadKey) {
    const QString target =
        QStringLiteral("api/upload/poll_upload.php?session_token=%1&key=%2&response_format=json")
            .arg(escaped(token), escaped(uploadKey));
    // A poll that fails ends the upload at once, as every other request does; only "not yet" waits on.
    fetch(
        target, QVariant(),
        [this, token, uploadKey](const QVariant& json) {
            const QVariant upload = at(json, {"response", "doupload"});
            if (at(upload, {"status"}).toInt() == kDoneStatus) {
                const QString quickKey = text(at(upload, {"quickkey"}));
                if (quickKey.isEmpty())
                    reportFailure(
                        serviceError(QString::fromLatin1(kNoQuickKey), text(at(upload, {"result"}))));
                else
                    fetchLink(token, quickKey);
                return;
            }
            if (pollDeadline_.hasExpired()) {
                reportFailure(mediaFireError(
                    QStringLiteral(
                        "MediaFire did not finish processing %1 within %2; the upload was given up.")
                        .arg(QFileInfo(activeFile()).fileName(), durationText(pollBound_))));
                return;
            }
            platform::dispatch::after(static_cast<int>(deployment_.pollInterval.count()),
                                      inRun([this, token, uploadKey] { poll(token, uploadKey); }));
        },
        [this](const platform::Error& error) { reportFailure(error); });
}

void MediaFireUploader::fetchLink(const QString& token, const QString& quickKey) {
    const QString target =
        QStringLiteral(
            "api/file/"
            "get_links.php?link_type=direct_download&session_token=%1&quick_key=%2&response_format=json")
            .arg(escaped(token), escaped(quickKey));
    fetch(
        target, QVariant(),
        [this, quickKey](const QVariant& json) {
            const QUrl link(text(at(at(json, {"response", "links"}).toList().value(0), {"direct_download"})));
            if (link.isEmpty() || !link.isValid()) {
                reportFailure(
                    serviceError(QString::fromLatin1(kNoDownloadLink), json::jsonRepresentation(json)));
                return;
            }
            session_->files.insert(link, quickKey);
            reportLink(link);
        },
        [this](const platform::Error& error) { reportFailure(error); });
}

void MediaFireUploader::removeUploadedFile(const QUrl& link,
                                           std::function<void(platform::Result<void>)> done) {
    const QString quickKey = session_->files.value(link);
    if (quickKey.isEmpty() || !deployment_.hasKeys()) {
        Uploader::removeUploadedFile(link, std::move(done));
        return;
    }
    const QString email = environment_.settings.stringForKey(QString::fromLatin1(keys::mediaFireEmail));
    const Account account{email,
                          environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, email)};
    // Not tied to a run, nor to this uploader: cancelling an upload must not stop a removal, and the answer
    // may come after the uploader is gone.
    auto finish = std::make_shared<std::function<void(platform::Result<void>)>>(std::move(done));
    auto failed = [finish](const platform::Error& error) { (*finish)(error); };
    requestToken(
        *session_->web, deployment_, account,
        [session = session_, deployment = deployment_, link, quickKey, finish, failed](const QString& token) {
            const QString target =
                QStringLiteral("api/file/delete.php?session_token=%1&quick_key=%2&response_format=json")
                    .arg(escaped(token), escaped(quickKey));
            getJSON(
                *session->web, deployment.timeout, target, QVariant(),
                [session, link, finish](const QVariant& json) {
                    if (text(at(json, {"response", "result"})) != QLatin1String("Success")) {
                        (*finish)(mediaFireError(QStringLiteral("MediaFire did not delete the file: %1")
                                                     .arg(json::jsonRepresentation(json))));
                        return;
                    }
                    session->files.remove(link);
                    (*finish)({});
                },
                failed);
        },
        failed);
}

MediaFireUploaderClass::MediaFireUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle)
    : MediaFireUploaderClass(environment, std::move(bundle), MediaFireDeployment::fromEnvironment()) {}

MediaFireUploaderClass::MediaFireUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                                               MediaFireDeployment deployment)
    : FlagLinkedUploaderClass(environment, mediaFireService())
    , bundle_(std::move(bundle))
    , deployment_(std::move(deployment))
    , session_(std::make_shared<MediaFireSession>()) {}

std::unique_ptr<Uploader> MediaFireUploaderClass::create() const {
    if (!session_->web) {
        // Made on first use, as the service's clients for the life of the class.
        const auto identity = net::ClientIdentity::fromBundle(bundle_);
        session_->web = net::HTTPClient::clientWithBaseURL(deployment_.webURL, identity);
        session_->web->registerHTTPOperationClass<net::JSONRequestOperation>();
        session_->web->setDefaultHeader("Accept", "application/json");
        session_->upload = deployment_.uploadURL == deployment_.webURL
                               ? session_->web
                               : net::HTTPClient::clientWithBaseURL(deployment_.uploadURL, identity);
    }
    return std::make_unique<MediaFireUploader>(environment(), bundle_, deployment_, session_,
                                               keychainIdentifier());
}

} // namespace qm::upload
