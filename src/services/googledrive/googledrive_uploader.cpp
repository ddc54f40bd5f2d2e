#include "services/googledrive/googledrive_uploader.h"

#include "accounts/settings_keys.h"
#include "net/mime_type.h"
#include "platform/system_log.h"
#include "services/googledrive/googledrive_service.h"
#include "services/googledrive/loopback_receiver.h"
#include "services/googledrive/resumable_upload.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrlQuery>

namespace qm::upload {

using namespace gdrive;

namespace {

constexpr char kErrorDomain[] = "RVErrorDomain";
constexpr char kDefaultMIMEType[] = "binary/octet-stream";
// Access to the files the application made or was given, nothing else of the user's Drive.
constexpr char kScope[] = "https://www.googleapis.com/auth/drive.file";

platform::Error uploaderError(const QString& text) {
    return platform::Error(QString::fromLatin1(kErrorDomain), 1, text);
}

QString folderIdKey() {
    return QString::fromLatin1(accounts::keys::googleDriveFolderId);
}

} // namespace

GoogleDriveUploader::GoogleDriveUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                                         QString keychainIdentifier, DriveOptions options, OpenUrl openUrl)
    : environment_(environment)
    , bundle_(std::move(bundle))
    , keychainIdentifier_(std::move(keychainIdentifier))
    , options_(options)
    , openUrl_(std::move(openUrl)) {}

GoogleDriveUploader::~GoogleDriveUploader() {
    // The upload under way holds the client too: without this its transfer would run on unseen.
    if (client_)
        client_->cancelAll();
}

std::shared_ptr<DriveClient> GoogleDriveUploader::newClient() const {
    auto client = std::make_shared<DriveClient>(
        DriveEndpoints::fromEnvironment(), AuthorizationStore(environment_.credentials, keychainIdentifier_),
        options_);
    client->setAuthorization(AuthorizationStore(environment_.credentials, keychainIdentifier_).load());
    return client;
}

bool GoogleDriveUploader::isSignedIn() const {
    const auto stored = AuthorizationStore(environment_.credentials, keychainIdentifier_).load();
    return stored && stored->isSignedIn();
}

void GoogleDriveUploader::unlinkAll() {
    AuthorizationStore(environment_.credentials, keychainIdentifier_).remove();
    if (client_)
        client_->setAuthorization(std::nullopt);
}

QString GoogleDriveUploader::mimeTypeForFileName(const QString& name, const QString& defaultType) {
    const QString type = net::mimeTypeForPathExtension(name);
    // The lookup's own fallback: the extension is missing or unknown.
    return type == QLatin1String("application/octet-stream") ? defaultType : type;
}

bool GoogleDriveUploader::canStartUpload() const {
    return isSignedIn() && !environment_.settings.stringForKey(folderIdKey()).isEmpty();
}

void GoogleDriveUploader::startUpload(const QString& path) {
    client_ = newClient();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Nothing was started, so this is the one outcome; the uploader is idle again after it.
        reportFailure(uploaderError(QStringLiteral("Quillmoor cannot read “%1” to upload it: %2.")
                                        .arg(QFileInfo(path).fileName(), file.errorString())));
        return;
    }
    ResumableUpload::File upload;
    upload.path = path;
    upload.size = file.size();
    upload.name = QFileInfo(path).fileName();
    upload.mimeType = mimeTypeForFileName(upload.name, QString::fromLatin1(kDefaultMIMEType));
    upload.folderId = environment_.settings.stringForKey(folderIdKey());
    file.close();
    const QString name = upload.name;
    ResumableUpload::start(
        client_, upload, inRun([this](qint64 sent, qint64 total) {
            reportProgress(total > 0 ? static_cast<double>(sent) / static_cast<double>(total) : 1.0);
        }),
        inRun([this, name](platform::Result<DriveFile> stored) {
            if (!stored) {
                reportFailure(uploaderError(QStringLiteral("Uploading “%1” to Google Drive failed: %2")
                                                .arg(name, stored.error().localizedDescription)));
                return;
            }
            shareAndReport(*stored);
        }));
}

void GoogleDriveUploader::shareAndReport(const DriveFile& file) {
    const auto report = [this, file] {
        if (file.webContentLink.isEmpty()) {
            discard(file.id);
            reportFailure(
                uploaderError(QStringLiteral("Google Drive gave no download link for “%1”.").arg(file.name)));
            return;
        }
        pendingFileId_.clear();
        stored_.insert(file.webContentLink, file.id);
        reportLink(file.webContentLink, file.iconLink);
    };
    pendingFileId_ = file.id;
    if (!createPublicLink()) {
        report();
        return;
    }
    client_->shareWithAnyone(
        file.id, inRun([this, file, report](platform::Result<void> shared) {
            if (!shared) {
                // A file nobody may read is of no use to the message: it does not stay behind either.
                discard(file.id);
                reportFailure(uploaderError(QStringLiteral("Google Drive did not share “%1”: %2")
                                                .arg(file.name, shared.error().localizedDescription)));
                return;
            }
            report();
        }));
}

void GoogleDriveUploader::discard(const QString& fileId) {
    pendingFileId_.clear();
    if (fileId.isEmpty())
        return;
    auto client = newClient();
    client->deleteFile(fileId, [client, fileId](platform::Result<void> removed) {
        if (!removed)
            platform::SystemLog::write(QStringLiteral("Google Drive file %1 could not be removed: %2")
                                           .arg(fileId, removed.error().localizedDescription));
    });
}

void GoogleDriveUploader::removeUploadedFile(const QUrl& link,
                                             std::function<void(platform::Result<void>)> done) {
    QString id = stored_.value(link);
    if (id.isEmpty())
        id = QUrlQuery(link).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    if (id.isEmpty()) {
        Uploader::removeUploadedFile(link, std::move(done));
        return;
    }
    // A client of its own: cancelling an upload must not stop a removal.
    auto client = newClient();
    client->deleteFile(id,
                       [client, done = std::move(done)](platform::Result<void> removed) { done(removed); });
}

void GoogleDriveUploader::stopTransfer() {
    endSignIn();
    if (client_)
        client_->cancelAll();
    // Stored, but not yet shared or reported: the run is over, so nothing of it stays in the Drive.
    if (!pendingFileId_.isEmpty())
        discard(pendingFileId_);
}

void GoogleDriveUploader::startAuthentication() {
    endSignIn();
    client_ = newClient();
    if (!client_->endpoints().hasClient()) {
        reportAuthentication(uploaderError(QStringLiteral(
            "Google Drive cannot be linked: no application key was built in. Build Quillmoor "
            "with QUILLMOOR_GOOGLEDRIVE_KEY and QUILLMOOR_GOOGLEDRIVE_SECRET (the OAuth client of "
            "a Google Cloud project), or set them in the environment.")));
        return;
    }
    receiver_ =
        std::make_unique<LoopbackReceiver>(inRun([this](const QUrl& redirect) { signInAnswered(redirect); }));
    if (!receiver_->listen()) {
        linkingFailed(uploaderError(
            QStringLiteral("Quillmoor cannot wait for the Google sign-in: no port on 127.0.0.1 is free.")));
        return;
    }
    redirectUri_ = receiver_->redirectUri();
    proof_ = ProofKey::generate();
    QUrl page = client_->endpoints().authorizePage();
    QUrlQuery query;
    const QList<std::pair<QString, QString>> fields{
        {QStringLiteral("client_id"), client_->endpoints().clientId},
        {QStringLiteral("redirect_uri"), redirectUri_},
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("scope"), QString::fromLatin1(kScope)},
        {QStringLiteral("code_challenge"), proof_->challenge},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
        // A refresh token comes only with offline access, and on a second sign-in only with consent.
        {QStringLiteral("access_type"), QStringLiteral("offline")},
        {QStringLiteral("prompt"), QStringLiteral("consent")},
        {QStringLiteral("state"), proof_->state}};
    QString text;
    for (const auto& [name, value] : fields)
        text += (text.isEmpty() ? QString() : QStringLiteral("&")) + name + QLatin1Char('=') +
                QString::fromLatin1(QUrl::toPercentEncoding(value));
    page.setQuery(text, QUrl::StrictMode);
    // The host's page opener; a class made with an opener of its own (tests, tools) uses that instead.
    if (!(openUrl_ ? openUrl_(page) : openPage(page)))
        linkingFailed(uploaderError(QStringLiteral("No web browser could open the Google sign-in page: %1")
                                        .arg(page.toString(QUrl::FullyEncoded))));
}

bool GoogleDriveUploader::finishSignIn(const QString& redirectOrCode) {
    if (!linking() || !proof_ || exchanging_)
        return false;
    const QString text = redirectOrCode.trimmed();
    if (text.isEmpty())
        return false;
    const QUrl address(text, QUrl::StrictMode);
    if (address.isValid() &&
        (address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https"))) {
        const QUrlQuery query(address);
        if (!query.hasQueryItem(QStringLiteral("code")) && !query.hasQueryItem(QStringLiteral("error")))
            return false;
        return signInAnswered(address);
    }
    // A bare code: Google's codes are one word of URL-safe characters (with "/").
    static const QRegularExpression codeForm(QStringLiteral("^[A-Za-z0-9._~/+=-]+$"));
    if (!codeForm.match(text).hasMatch())
        return false;
    exchangeCode(text);
    return true;
}

bool GoogleDriveUploader::signInAnswered(const QUrl& redirect) {
    if (!proof_ || exchanging_)
        return false;
    const QUrlQuery query(redirect);
    // Anything on this machine can call the loopback address: an answer without this sign-in's state,
    // an error included, is not Google's and must neither link nor end the sign-in.
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != proof_->state) {
        platform::SystemLog::write(
            QStringLiteral("Google Drive: a sign-in answer without this sign-in's state was ignored"));
        return false;
    }
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    if (!error.isEmpty()) {
        linkingFailed(uploaderError(error == QLatin1String("access_denied")
                                        ? QStringLiteral("The Google sign-in was declined.")
                                        : QStringLiteral("The Google sign-in failed: %1.").arg(error)));
        return true;
    }
    exchangeCode(query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
    return true;
}

void GoogleDriveUploader::exchangeCode(const QString& code) {
    exchanging_ = true;
    if (receiver_)
        receiver_->close();
    client_->exchangeCode(
        code, redirectUri_, proof_->verifier, inRun([this](platform::Result<Authorization> tokens) {
            if (!tokens) {
                linkingFailed(tokens.error());
                return;
            }
            client_->setAuthorization(*tokens);
            client_->fetchEmail(inRun([this](platform::Result<QString> email) {
                if (!email) {
                    linkingFailed(email.error());
                    return;
                }
                Authorization authorization = *client_->authorization();
                authorization.email = *email;
                client_->setAuthorization(authorization);
                if (const auto saved =
                        AuthorizationStore(environment_.credentials, keychainIdentifier_).save(authorization);
                    !saved) {
                    linkingFailed(saved.error());
                    return;
                }
                lookUpFolder();
            }));
        }));
}

void GoogleDriveUploader::lookUpFolder() {
    client_->rootFolderId(inRun([this](platform::Result<QString> root) {
        if (!root)
            platform::SystemLog::write(
                QStringLiteral("An error occurred: %1").arg(root.error().localizedDescription));
        const QString rootId = root.valueOr(QString());
        client_->findFolders(
            folderName(), inRun([this, rootId](platform::Result<QList<DriveFile>> found) {
                if (!found)
                    platform::SystemLog::write(
                        QStringLiteral("An error occurred: %1").arg(found.error().localizedDescription));
                // Only a folder at the top of the Drive is ours; one of that name inside another folder is
                // not.
                for (const DriveFile& folder : found.valueOr({}))
                    if (folder.name == folderName() && folder.parents.size() == 1 && !rootId.isEmpty() &&
                        folder.parents.first() == rootId) {
                        storeFolder(folder.id);
                        return;
                    }
                client_->createFolder(
                    folderName(), inRun([this](platform::Result<QString> created) {
                        if (!created) {
                            linkingFailed(
                                uploaderError(QStringLiteral("Google Drive is signed in, but the folder “%1” "
                                                             "could not be made: %2")
                                                  .arg(folderName(), created.error().localizedDescription)));
                            return;
                        }
                        storeFolder(*created);
                    }));
            }));
    }));
}

void GoogleDriveUploader::storeFolder(const QString& id) {
    if (const auto stored = environment_.settings.setObject(id, folderIdKey()); !stored) {
        linkingFailed(stored.error());
        return;
    }
    endSignIn();
    reportAuthentication(std::nullopt);
}

void GoogleDriveUploader::linkingFailed(const platform::Error& error) {
    endSignIn();
    reportAuthentication(error);
}

void GoogleDriveUploader::endSignIn() {
    receiver_.reset();
    proof_.reset();
    exchanging_ = false;
}

GoogleDriveUploaderClass::GoogleDriveUploaderClass(const ServiceEnvironment& environment,
                                                   platform::Bundle bundle, OpenUrl openUrl)
    : UploaderClass(environment, googleDriveService())
    , bundle_(std::move(bundle))
    , openUrl_(std::move(openUrl)) {}

bool GoogleDriveUploaderClass::isLinked() const {
    const auto stored = AuthorizationStore(environment().credentials, keychainIdentifier()).load();
    return stored && stored->isSignedIn();
}

void GoogleDriveUploaderClass::setIsLinked(bool linked) {
    if (!linked)
        unlinkAll();
}

void GoogleDriveUploaderClass::unlinkAll() {
    AuthorizationStore(environment().credentials, keychainIdentifier()).remove();
}

std::unique_ptr<Uploader> GoogleDriveUploaderClass::create() const {
    return std::make_unique<GoogleDriveUploader>(environment(), bundle_, keychainIdentifier(), options_,
                                                 openUrl_);
}

} // namespace qm::upload
