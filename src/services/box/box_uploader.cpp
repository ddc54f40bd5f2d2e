#include "services/box/box_uploader.h"

#include "accounts/settings_keys.h"
#include "net/http_client.h"
#include "net/json_request_operation.h"
#include "net/mime_type.h"
#include "net/multipart_form_data.h"
#include "platform/data_additions.h"
#include "platform/system_log.h"
#include "services/box/box_service.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrlQuery>

namespace qm::upload {

namespace keys = accounts::keys;

namespace {

constexpr char kMissingCode[] = "Authentication failed due to missing authentication code";
constexpr char kNoDirectory[] = "Could not create directory.";
constexpr char kUploadProblem[] = "Unknown problem during upload.";
constexpr char kUnknownError[] = "Unknown Error";
// 128 bits from the system's random source.
constexpr int kStateBytes = 16;
constexpr char kNotStored[] =
    "the Box sign-in could not be stored (is the Secret Service running and the keyring unlocked?)";

QVariantList entriesOf(const QVariant& json) {
    return json.toMap().value(QStringLiteral("entries")).toList();
}

} // namespace

BoxUploader::BoxUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                         std::shared_ptr<BoxTokenKeeper> tokens)
    : environment_(environment)
    , bundle_(std::move(bundle))
    , tokens_(std::move(tokens)) {}

BoxUploader::~BoxUploader() = default;

platform::Error BoxUploader::error(const QString& text) const {
    return platform::Error(QString::fromLatin1(errorDomain), errorCode, bundle_.localized(text));
}

QString BoxUploader::redirectURI() const {
    return bundle_.name().toLower() + QStringLiteral("://box-redirect");
}

QString BoxUploader::freeName(const QString& name, const QSet<QString>& takenLowerCase) {
    if (!takenLowerCase.contains(name.toLower()))
        return name;
    const QFileInfo info(name);
    const QString stem = info.completeBaseName();
    const QString extension = info.suffix();
    for (qint64 k = 1;; ++k) {
        const QString candidate = extension.isEmpty()
                                      ? QStringLiteral("%1_%2").arg(stem).arg(k)
                                      : QStringLiteral("%1_%2.%3").arg(stem).arg(k).arg(extension);
        if (!takenLowerCase.contains(candidate.toLower()))
            return candidate;
    }
}

namespace {

// A client of Box's API: JSON both ways, with the credential's bearer token.
std::shared_ptr<net::HTTPClient> newApiClient(const QUrl& base, const net::OAuth2Credential& credential) {
    auto client = net::HTTPClient::clientWithBaseURL(base);
    client->registerHTTPOperationClass<net::JSONRequestOperation>();
    client->setDefaultHeader("Accept", "application/json");
    client->setParameterEncoding(net::HTTPClient::JSONParameterEncoding);
    client->setDefaultHeader("Authorization",
                             QStringLiteral("Bearer %1").arg(credential.accessToken()).toUtf8());
    return client;
}

} // namespace

std::shared_ptr<net::HTTPClient> BoxUploader::apiClient(const QUrl& base,
                                                        const net::OAuth2Credential& credential) {
    auto client = newApiClient(base, credential);
    clients_.append(client);
    return client;
}

void BoxUploader::startAuthentication() {
    const BoxConfig& config = tokens_->config();
    if (config.clientID.isEmpty()) {
        reportAuthentication(platform::Error(QString::fromLatin1(errorDomain), errorCode,
                                             QString::fromLatin1(box::noApplicationKey)));
        return;
    }
    // Unguessable, so that a redirect made up elsewhere cannot hand this sign-in someone else's code.
    state_ =
        QString::fromLatin1(platform::randomDataWithBytes(kStateBytes)
                                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const QUrl page = config.authorizationPage(state_);
    // Nothing else happens until the browser comes back through the redirect.
    if (!openPage(page)) {
        state_.clear();
        reportAuthentication(platform::Error(QString::fromLatin1(errorDomain), errorCode,
                                             QStringLiteral("the Box sign-in page could not be opened: %1")
                                                 .arg(page.toString(QUrl::FullyEncoded))));
    }
}

bool BoxUploader::finishSignIn(const QString& redirectOrCode) {
    if (!linking() || state_.isEmpty())
        return false;
    const QString text = redirectOrCode.trimmed();
    if (!text.contains(QLatin1String("://"))) {
        // Copied by the user from the browser's address bar: no state to check, and no page could have
        // put it there.
        if (text.isEmpty())
            return false;
        state_.clear();
        authenticateWithCode(text);
        return true;
    }
    const QUrlQuery query(QUrl(text, QUrl::StrictMode));
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != state_) {
        platform::SystemLog::write(
            QStringLiteral("Box: a sign-in redirect without this sign-in's state was ignored"));
        return false;
    }
    state_.clear();
    authenticateWithCode(query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
    return true;
}

void BoxUploader::authenticateWithCode(const QString& code) {
    if (code.isEmpty()) {
        reportAuthentication(error(QString::fromLatin1(kMissingCode)));
        return;
    }
    const BoxConfig& config = tokens_->config();
    auto tokenClient =
        net::OAuth2Client::clientWithBaseURL(config.tokenURL, config.clientID, config.clientSecret);
    clients_.append(tokenClient);
    tokenClient->authenticateWithAuthorizationCode(
        QString::fromLatin1(box::tokenPath), code, redirectURI(),
        inRun([this](const net::OAuth2Credential& credential) {
            if (!tokens_->store(credential)) {
                reportAuthentication(platform::Error(QString::fromLatin1(errorDomain), errorCode,
                                                     QString::fromLatin1(kNotStored)));
                return;
            }
            tokens_->fresh(inRun([this](const platform::Result<net::OAuth2Credential>& fresh) {
                if (!fresh) {
                    reportAuthentication(fresh.error());
                    return;
                }
                findFolder(*fresh);
            }));
        }),
        inRun([this](const std::optional<platform::Error>& failure) {
            // An OAuth error answered with a success status carries no details of its own.
            reportAuthentication(
                failure ? *failure : error(QStringLiteral("Box refused the sign-in; please try again.")));
        }));
}

void BoxUploader::findFolder(const net::OAuth2Credential& credential) {
    auto client = apiClient(tokens_->config().apiURL, credential);
    client->getPath(QStringLiteral("/2.0/folders/0/items"), {},
                    inRun([this, credential](net::HTTPRequestOperation&, const QVariant& json) {
                        // Only this one page is looked at; the folder name must match exactly.
                        for (const QVariant& entry : entriesOf(json)) {
                            const QVariantMap item = entry.toMap();
                            if (item.value(QStringLiteral("type")).toString() == u"folder" &&
                                item.value(QStringLiteral("name")).toString() == bundle_.name()) {
                                if (item.contains(QStringLiteral("id"))) {
                                    folderFound(item.value(QStringLiteral("id")));
                                    return;
                                }
                                break;
                            }
                        }
                        createFolder(credential);
                    }),
                    inRun([this](net::HTTPRequestOperation&, const platform::Error& failure) {
                        reportAuthentication(failure);
                    }));
}

void BoxUploader::createFolder(const net::OAuth2Credential& credential) {
    auto client = apiClient(tokens_->config().apiURL, credential);
    const QVariantMap body{
        {QStringLiteral("name"), bundle_.name()},
        {QStringLiteral("parent"), QVariantMap{{QStringLiteral("id"), QStringLiteral("0")}}}};
    auto request = client->requestWithMethod("POST", QStringLiteral("/2.0/folders"), body);
    auto operation = net::JSONRequestOperation::create(
        std::move(request), inRun([this](net::JSONRequestOperation&, const QVariant& json) {
            const QVariantMap answer = json.toMap();
            if (!answer.contains(QStringLiteral("id"))) {
                reportAuthentication(error(QString::fromLatin1(kNoDirectory)));
                return;
            }
            folderFound(answer.value(QStringLiteral("id")));
        }),
        inRun([this](net::JSONRequestOperation& op, const platform::Error& failure, const QVariant& json) {
            // Box compares names without regard to case: a "quillmoor" folder of the user's is the one.
            const QVariantMap answer = json.toMap();
            const auto response = op.response();
            if (response && response->statusCode == 409 &&
                answer.value(QStringLiteral("code")).toString() == u"item_name_in_use") {
                const QVariantList conflicts = answer.value(QStringLiteral("context_info"))
                                                   .toMap()
                                                   .value(QStringLiteral("conflicts"))
                                                   .toList();
                for (const QVariant& conflict : conflicts) {
                    const QVariantMap item = conflict.toMap();
                    if (item.value(QStringLiteral("type")).toString() == u"folder" &&
                        item.contains(QStringLiteral("id"))) {
                        folderFound(item.value(QStringLiteral("id")));
                        return;
                    }
                }
            }
            reportAuthentication(failure);
        }));
    client->enqueueHTTPRequestOperation(operation);
}

void BoxUploader::folderFound(const QVariant& id) {
    if (const auto saved =
            environment_.settings.setObject(id.toString(), QString::fromLatin1(keys::boxFolderId));
        !saved) {
        reportAuthentication(saved.error());
        return;
    }
    reportAuthentication(std::nullopt);
}

void BoxUploader::startUpload(const QString& path) {
    tokens_->fresh(inRun([this, path](const platform::Result<net::OAuth2Credential>& credential) {
        if (!credential) {
            reportFailure(credential.error());
            return;
        }
        listFolder(*credential, path);
    }));
}

void BoxUploader::listFolder(const net::OAuth2Credential& credential, const QString& path) {
    const QString folderId = environment_.settings.stringForKey(QString::fromLatin1(keys::boxFolderId));
    auto client = apiClient(tokens_->config().apiURL, credential);
    client->getPath(
        QStringLiteral("/2.0/folders/%1/items").arg(QString::fromLatin1(QUrl::toPercentEncoding(folderId))),
        {}, inRun([this, credential, path, folderId](net::HTTPRequestOperation&, const QVariant& json) {
            QSet<QString> taken;
            for (const QVariant& entry : entriesOf(json)) {
                const QVariantMap item = entry.toMap();
                if (item.value(QStringLiteral("type")).toString() == u"file")
                    taken.insert(item.value(QStringLiteral("name")).toString().toLower());
            }
            sendFile(credential, path, folderId, freeName(QFileInfo(path).fileName(), taken));
        }),
        inRun(
            [this](net::HTTPRequestOperation&, const platform::Error& failure) { reportFailure(failure); }));
}

void BoxUploader::sendFile(const net::OAuth2Credential& credential, const QString& path,
                           const QString& folderId, const QString& name) {
    auto client = apiClient(tokens_->config().uploadURL, credential);
    std::optional<platform::Error> partError;
    // The file part streams from disk while the body is sent; the file is never held in memory.
    auto request = client->multipartFormRequestWithMethod(
        "POST", QStringLiteral("/api/2.0/files/content"),
        QVariantMap{{QStringLiteral("parent_id"), folderId}}, [&](net::MultipartFormData& form) {
            const auto added =
                form.appendPartWithFileUrl(QUrl::fromLocalFile(path), QStringLiteral("filename"), name,
                                           net::mimeTypeForPathExtension(path));
            if (!added)
                partError = added.error();
        });
    if (partError) {
        reportFailure(*partError);
        return;
    }
    request.timeout = tokens_->config().uploadTimeout;
    auto operation = net::JSONRequestOperation::create(
        std::move(request), inRun([this, credential](net::JSONRequestOperation&, const QVariant& json) {
            const QVariantList entries = entriesOf(json);
            if (entries.size() != 1) {
                reportFailure(error(QString::fromLatin1(kUploadProblem)));
                return;
            }
            shareFile(credential, entries.first().toMap().value(QStringLiteral("id")).toString());
        }),
        inRun([this](net::JSONRequestOperation&, const platform::Error&, const QVariant& json) {
            const QString message = json.toMap().value(QStringLiteral("message")).toString();
            reportFailure(platform::Error(QString::fromLatin1(errorDomain), errorCode,
                                          message.isEmpty() ? QString::fromLatin1(kUnknownError) : message));
        }));
    operation->setUploadProgressBlock(inRun([this](qint64, qint64 written, qint64 expected) {
        reportProgress(expected > 0 ? static_cast<double>(written) / static_cast<double>(expected) : 1.0);
    }));
    client->enqueueHTTPRequestOperation(operation);
}

void BoxUploader::shareFile(const net::OAuth2Credential& credential, const QString& fileId) {
    auto client = apiClient(tokens_->config().apiURL, credential);
    // Without a public link Box is sent the two-character text "{}", not an empty object.
    const QString access = createPublicLink() ? QStringLiteral("open") : QStringLiteral("{}");
    const QVariantMap body{{QStringLiteral("shared_link"), QVariantMap{{QStringLiteral("access"), access}}}};
    client->putPath(QStringLiteral("/2.0/files/%1").arg(QString::fromLatin1(QUrl::toPercentEncoding(fileId))),
                    body, inRun([this, fileId](net::HTTPRequestOperation&, const QVariant& json) {
                        const QUrl link(json.toMap()
                                            .value(QStringLiteral("shared_link"))
                                            .toMap()
                                            .value(QStringLiteral("url"))
                                            .toString());
                        stored_.insert(link, fileId);
                        reportLink(link);
                    }),
                    inRun([this](net::HTTPRequestOperation&, const platform::Error& failure) {
                        reportFailure(failure);
                    }));
}

void BoxUploader::removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) {
    const QString fileId = stored_.value(link);
    if (fileId.isEmpty()) {
        Uploader::removeUploadedFile(link, std::move(done));
        return;
    }
    auto shared = std::make_shared<std::function<void(platform::Result<void>)>>(std::move(done));
    // Not tied to a run (cancelling an upload must not stop a removal) nor to this uploader's life: the
    // client is held by its own answer until it has come.
    const QUrl api = tokens_->config().apiURL;
    tokens_->fresh([shared, fileId, api](const platform::Result<net::OAuth2Credential>& credential) {
        if (!credential) {
            (*shared)(credential.error());
            return;
        }
        auto holder = std::make_shared<std::shared_ptr<net::HTTPClient>>(newApiClient(api, *credential));
        const auto release = [holder] { QTimer::singleShot(0, [holder] { holder->reset(); }); };
        (*holder)->deletePath(
            QStringLiteral("/2.0/files/%1").arg(QString::fromLatin1(QUrl::toPercentEncoding(fileId))), {},
            [shared, release](net::HTTPRequestOperation&, const QVariant&) {
                (*shared)({});
                release();
            },
            [shared, release](net::HTTPRequestOperation&, const platform::Error& failure) {
                (*shared)(failure);
                release();
            });
    });
}

BoxUploaderClass::BoxUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                                   BoxConfig config)
    : UploaderClass(environment, boxService())
    , bundle_(std::move(bundle)) {
    // Beside the settings, so every program of the user that shares them shares the lock.
    const QString lockPath =
        QFileInfo(environment.settings.filePath()).dir().filePath(QStringLiteral("box-refresh.lock"));
    tokens_ =
        std::make_shared<BoxTokenKeeper>(net::OAuth2CredentialStore(environment.credentials.secretStore()),
                                         keychainIdentifier(), lockPath, std::move(config));
}

bool BoxUploaderClass::isLinked() const {
    return tokens_->stored().has_value();
}

void BoxUploaderClass::setIsLinked(bool linked) {
    if (!linked)
        tokens_->remove();
}

void BoxUploaderClass::unlinkAll() {
    tokens_->remove();
}

std::unique_ptr<Uploader> BoxUploaderClass::create() const {
    return std::make_unique<BoxUploader>(environment(), bundle_, tokens_);
}

void BoxUploaderClass::prepareAtStartup() {
    if (isLinked())
        refreshAuth();
}

void BoxUploaderClass::refreshAuth() {
    tokens_->fresh([](const platform::Result<net::OAuth2Credential>& credential) {
        if (!credential)
            platform::SystemLog::write(QStringLiteral("Box: the sign-in could not be renewed: %1")
                                           .arg(credential.error().localizedDescription));
    });
}

} // namespace qm::upload
