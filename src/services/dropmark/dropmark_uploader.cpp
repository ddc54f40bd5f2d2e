#include "services/dropmark/dropmark_uploader.h"

#include "accounts/settings_keys.h"
#include "net/http_client.h"
#include "net/json_request_operation.h"
#include "net/mime_type.h"
#include "net/multipart_form_data.h"

#include <QFileInfo>
#include <QVariantMap>

namespace qm::upload {

namespace keys = accounts::keys;

namespace {

constexpr char kErrorDomain[] = "RVErrorDomain";
constexpr int kAnswerIncomplete = 2;
constexpr char kAuthPath[] = "v1/auth";
constexpr char kCollectionsPath[] = "v1/collections";
constexpr char kCollectionCount[] = "500";

// A JSON value as text: empty for null, a missing value or a container.
QString text(const QVariant& value) {
    if (!value.isValid() || value.metaType() == QMetaType::fromType<std::nullptr_t>() ||
        value.metaType() == QMetaType::fromType<QVariantList>())
        return {};
    return value.toString();
}

platform::Error incompleteAnswer(const QString& what) {
    return platform::Error(QString::fromLatin1(kErrorDomain), kAnswerIncomplete,
                           QStringLiteral("Dropmark's answer carried no %1.").arg(what));
}

QString pathEscaped(const QString& segment) {
    return QString::fromLatin1(QUrl::toPercentEncoding(segment));
}

} // namespace

DropmarkUploader::DropmarkUploader(const ServiceEnvironment& environment, DropmarkDeployment deployment,
                                   std::shared_ptr<DropmarkSession> session, QString keychainIdentifier,
                                   QString collectionName)
    : environment_(environment)
    , deployment_(std::move(deployment))
    , session_(std::move(session))
    , keychainIdentifier_(std::move(keychainIdentifier))
    , collectionName_(std::move(collectionName)) {}

DropmarkUploader::~DropmarkUploader() {
    stopTransfer();
}

QString DropmarkUploader::setting(const char* key) const {
    const std::optional<QVariant> value = environment_.settings.objectForKey(QString::fromLatin1(key));
    return value ? text(*value) : QString();
}

bool DropmarkUploader::canStartUpload() const {
    return !setting(keys::dropmarkCollectionID).isEmpty() && !setting(keys::dropmarkUserID).isEmpty() &&
           !setting(keys::dropmarkToken).isEmpty();
}

void DropmarkUploader::authorise() {
    const QString user = setting(keys::dropmarkUserID);
    const QString token = setting(keys::dropmarkToken);
    if (!user.isEmpty() && !token.isEmpty())
        session_->client->setAuthorizationHeaderWithUsername(user, token);
}

void DropmarkUploader::send(net::HTTPRequest request, Success success, Failure failure) {
    request.timeout = deployment_.timeout;
    current_ = session_->client->HTTPRequestOperationWithRequest(
        std::move(request),
        inRun([success = std::move(success)](net::HTTPRequestOperation&, const QVariant& json) {
            success(json);
        }),
        inRun([failure = std::move(failure)](net::HTTPRequestOperation&, const platform::Error& error) {
            failure(error);
        }));
    session_->client->enqueueHTTPRequestOperation(current_);
}

void DropmarkUploader::stopTransfer() {
    if (current_)
        current_->cancel();
    current_.reset();
}

void DropmarkUploader::startAuthentication() {
    if (deployment_.apiKey.isEmpty()) {
        reportAuthentication(DropmarkDeployment::missingKeyError());
        return;
    }
    signIn();
}

void DropmarkUploader::signIn() {
    const QString email = login().isNull() ? setting(keys::dropmarkEmail) : login();
    const QString secret = password().isNull()
                               ? environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, email)
                               : password();
    const QVariantMap parameters{{QStringLiteral("email"), email}, {QStringLiteral("password"), secret}};
    send(
        session_->client->requestWithMethod("POST", QString::fromLatin1(kAuthPath), parameters),
        [this](const QVariant& json) {
            const QVariantMap answer = json.toMap();
            const QString user = text(answer.value(QStringLiteral("id")));
            const QString token = text(answer.value(QStringLiteral("token")));
            auto& settings = environment_.settings;
            const auto storedUser = settings.setObject(user.isEmpty() ? QVariant() : user,
                                                       QString::fromLatin1(keys::dropmarkUserID));
            const auto storedToken = settings.setObject(token.isEmpty() ? QVariant() : token,
                                                        QString::fromLatin1(keys::dropmarkToken));
            if (!storedUser || !storedToken) {
                setUpFailed(!storedUser ? storedUser.error() : storedToken.error());
                return;
            }
            // Without both nothing later can be authorised: a set-up that cannot work is no set-up.
            if (user.isEmpty() || token.isEmpty()) {
                setUpFailed(incompleteAnswer(QStringLiteral("user id or token")));
                return;
            }
            authorise();
            findCollection();
        },
        [this](const platform::Error& error) { setUpFailed(error); });
}

void DropmarkUploader::findCollection() {
    const QVariantMap parameters{{QStringLiteral("count"), QString::fromLatin1(kCollectionCount)}};
    send(
        session_->client->requestWithMethod("GET", QString::fromLatin1(kCollectionsPath), parameters),
        [this](const QVariant& json) {
            const QVariantList collections = json.toList();
            for (const QVariant& entry : collections) {
                const QVariantMap collection = entry.toMap();
                if (collection.value(QStringLiteral("name")).toString() != collectionName_)
                    continue;
                const QString id = text(collection.value(QStringLiteral("id")));
                if (id.isEmpty())
                    break;
                finishSetUp(id);
                return;
            }
            createCollection();
        },
        [this](const platform::Error& error) { setUpFailed(error); });
}

void DropmarkUploader::createCollection() {
    const QVariantMap parameters{{QStringLiteral("name"), collectionName_}};
    send(
        session_->client->requestWithMethod("POST", QString::fromLatin1(kCollectionsPath), parameters),
        [this](const QVariant& json) {
            const QString id = text(json.toMap().value(QStringLiteral("id")));
            if (id.isEmpty()) {
                // Reported as linked, every upload would then be refused without a word.
                setUpFailed(incompleteAnswer(QStringLiteral("collection id")));
                return;
            }
            finishSetUp(id);
        },
        [this](const platform::Error& error) { setUpFailed(error); });
}

void DropmarkUploader::finishSetUp(const QString& collectionID) {
    // A settings file that cannot keep the collection would leave every upload refused: the link fails.
    if (const auto stored =
            environment_.settings.setObject(collectionID, QString::fromLatin1(keys::dropmarkCollectionID));
        !stored) {
        setUpFailed(stored.error());
        return;
    }
    reportAuthentication(std::nullopt);
}

void DropmarkUploader::setUpFailed(const platform::Error& error) {
    for (const char* key : {keys::dropmarkUserID, keys::dropmarkToken, keys::dropmarkCollectionID})
        (void)environment_.settings.removeObjectForKey(QString::fromLatin1(key));
    session_->client->clearAuthorizationHeader();
    reportAuthentication(error);
}

void DropmarkUploader::startUpload(const QString& path) {
    if (deployment_.apiKey.isEmpty()) {
        reportFailure(DropmarkDeployment::missingKeyError());
        return;
    }
    authorise();
    const QString name = QFileInfo(path).fileName();
    const QVariantMap parameters{
        {QStringLiteral("name"), name},
        {QStringLiteral("shareable"), createPublicLink() ? QStringLiteral("true") : QStringLiteral("false")}};
    const QString itemsPath =
        QStringLiteral("%1/%2/items")
            .arg(QString::fromLatin1(kCollectionsPath), pathEscaped(setting(keys::dropmarkCollectionID)));
    platform::Result<void> attached;
    // The file part is read from disk while the body is sent, never held whole.
    net::HTTPRequest request = session_->client->multipartFormRequestWithMethod(
        "POST", itemsPath, parameters, [&](net::MultipartFormData& form) {
            attached = form.appendPartWithFileUrl(QUrl::fromLocalFile(path), QStringLiteral("content"), name,
                                                  net::mimeTypeForPathExtension(path));
        });
    if (!attached) {
        reportFailure(attached.error());
        return;
    }
    send(
        std::move(request),
        [this](const QVariant& json) {
            current_.reset();
            const QVariantMap item = json.toMap();
            const QUrl link(text(item.value(QStringLiteral("short_url"))));
            if (link.isEmpty() || !link.isValid()) {
                reportFailure(incompleteAnswer(QStringLiteral("short URL for the item")));
                return;
            }
            session_->items.insert(link, text(item.value(QStringLiteral("id"))));
            reportLink(link, QUrl(text(item.value(QStringLiteral("thumbnail")))));
        },
        [this](const platform::Error& error) {
            current_.reset();
            reportFailure(error);
        });
    current_->setUploadProgressBlock(inRun([this](qint64, qint64 written, qint64 expected) {
        reportProgress(expected > 0 ? static_cast<double>(written) / static_cast<double>(expected) : 1.0);
    }));
}

void DropmarkUploader::removeUploadedFile(const QUrl& link,
                                          std::function<void(platform::Result<void>)> done) {
    const QString item = session_->items.value(link);
    if (item.isEmpty() || deployment_.apiKey.isEmpty()) {
        Uploader::removeUploadedFile(link, std::move(done));
        return;
    }
    authorise();
    net::HTTPRequest request =
        session_->client->requestWithMethod("DELETE", QStringLiteral("v1/items/%1").arg(pathEscaped(item)));
    request.timeout = deployment_.timeout;
    // Not tied to a run: cancelling an upload must not stop a removal.
    auto shared = std::make_shared<std::function<void(platform::Result<void>)>>(std::move(done));
    auto session = session_;
    auto operation = session_->client->HTTPRequestOperationWithRequest(
        std::move(request),
        [shared, session, link](net::HTTPRequestOperation&, const QVariant&) {
            session->items.remove(link);
            (*shared)({});
        },
        [shared](net::HTTPRequestOperation&, const platform::Error& error) { (*shared)(error); });
    session_->client->enqueueHTTPRequestOperation(operation);
}

DropmarkUploaderClass::DropmarkUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle)
    : DropmarkUploaderClass(environment, std::move(bundle), DropmarkDeployment::fromEnvironment()) {}

DropmarkUploaderClass::DropmarkUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                                             DropmarkDeployment deployment)
    : FlagLinkedUploaderClass(environment, dropmarkService())
    , bundle_(std::move(bundle))
    , deployment_(std::move(deployment))
    , session_(std::make_shared<DropmarkSession>()) {}

std::unique_ptr<Uploader> DropmarkUploaderClass::create() const {
    if (!session_->client) {
        // Made on first use, as the one client of the service; a user id and token stored by an earlier
        // link authorise it from the start.
        session_->client =
            net::HTTPClient::clientWithBaseURL(deployment_.apiURL, net::ClientIdentity::fromBundle(bundle_));
        session_->client->registerHTTPOperationClass<net::JSONRequestOperation>();
        session_->client->setDefaultHeader("X-API-Key", deployment_.apiKey.toUtf8());
        session_->client->setDefaultHeader("Accept", "application/json");
    }
    return std::make_unique<DropmarkUploader>(environment(), deployment_, session_, keychainIdentifier(),
                                              bundle_.name());
}

void DropmarkUploaderClass::setIsLinked(bool linked) {
    FlagLinkedUploaderClass::setIsLinked(linked);
    if (linked)
        return;
    for (const char* key : {keys::dropmarkUserID, keys::dropmarkToken, keys::dropmarkCollectionID})
        (void)environment().settings.removeObjectForKey(QString::fromLatin1(key));
    if (session_->client)
        session_->client->clearAuthorizationHeader();
}

} // namespace qm::upload
