#include "services/generic/generic_uploader.h"

#include "accounts/settings_keys.h"
#include "platform/data_additions.h"
#include "platform/string_format.h"
#include "services/generic/generic_service.h"

#include <QFileInfo>

namespace qm::upload {

namespace keys = accounts::keys;

namespace {

constexpr char kTestFileName[] = "dummy.bin";
constexpr char kRemoteFileNotFound[] = "Remote File could not be found at '%@'.";
constexpr char kCouldNotAuthenticate[] = "Could not authenticate with remote server.";

QString joinPath(const QString& folder, const QString& name) {
    if (name.isEmpty())
        return folder.isEmpty() ? QStringLiteral("/") : folder;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

GenericUploader::GenericUploader(const ServiceEnvironment& environment, platform::Bundle bundle,
                                 QString keychainIdentifier, FileTransfer::Options transferOptions)
    : environment_(environment)
    , bundle_(std::move(bundle))
    , keychainIdentifier_(std::move(keychainIdentifier))
    , transferOptions_(std::move(transferOptions)) {}

GenericUploader::~GenericUploader() = default;

GenericUploader::ServerLocation GenericUploader::serverLocation(const QString& serverText) {
    const QUrl url(serverText.trimmed());
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.size() < 2)
        return {url, path};
    // Rebuilt from its parts rather than cut out of the text, so a host that begins like the path stays
    // whole.
    QUrl base;
    base.setScheme(url.scheme());
    base.setUserName(url.userName(QUrl::FullyDecoded), QUrl::DecodedMode);
    base.setHost(url.host(QUrl::FullyDecoded), QUrl::DecodedMode);
    base.setPort(url.port());
    return {base, path};
}

QString GenericUploader::availableName(const QString& name, const QStringList& taken) {
    if (!taken.contains(name))
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot + 1) : QString();
    for (qint64 counter = 1;; ++counter) {
        const QString candidate =
            platform::formatString(QStringLiteral("%@-%ld.%@"), {stem, counter, extension});
        if (!taken.contains(candidate))
            return candidate;
    }
}

QUrl GenericUploader::publicLink(const QString& publicAddress, const QString& name) {
    QUrl url = QUrl(publicAddress.trimmed()).adjusted(QUrl::RemoveUserInfo);
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QString::fromLatin1(QUrl::toPercentEncoding(name)), QUrl::TolerantMode);
    return url;
}

FileTransfer& GenericUploader::fileManager() {
    if (!fileManager_) {
        fileManager_ = std::make_unique<FileTransfer>(transferOptions_);
        fileManager_->setChallengeHandler([this](const TransferChallenge& challenge, ChallengeReply reply) {
            handleChallenge(challenge, std::move(reply));
        });
    }
    return *fileManager_;
}

QString GenericUploader::localized(const char* text) const {
    return bundle_.localized(QString::fromUtf8(text));
}

QString GenericUploader::setting(const char* key) const {
    return environment_.settings.stringForKey(QString::fromLatin1(key));
}

QUrl GenericUploader::folderURL(const ServerLocation& location, const QString& name) const {
    return FileTransfer::urlWithPath(location.baseURL, joinPath(location.folder, name));
}

void GenericUploader::startUpload(const QString& path) {
    const ServerLocation location = serverLocation(setting(keys::genericServer));
    operation_ = fileManager().contentsOfDirectory(
        folderURL(location),
        inRun([this, path, location](const QStringList& names, const std::optional<platform::Error>& error) {
            if (error) {
                // A cancelled challenge has reported already.
                if (!isTransferCancelled(error))
                    reportFailure(*error);
                return;
            }
            storeFile(path, location, names);
        }));
}

void GenericUploader::storeFile(const QString& path, const ServerLocation& location,
                                const QStringList& taken) {
    const QString fileName = QFileInfo(path).fileName();
    const qint64 size = QFileInfo(path).size();
    operation_ = fileManager().storeFile(
        folderURL(location), path, taken,
        [fileName](const QStringList& names) { return availableName(fileName, names); },
        inRun([this, size](qint64 written, qint64) {
            reportProgress(size > 0 ? std::min(1.0, static_cast<double>(written) / static_cast<double>(size))
                                    : 1.0);
        }),
        inRun([this, location](const QString& name, const std::optional<platform::Error>& error) {
            if (error) {
                if (!isTransferCancelled(error))
                    reportFailure(*error);
                return;
            }
            // A link goes out in the message: never with a login or password of the server address.
            const QUrl remote = folderURL(location, name);
            const QString publicAddress = setting(keys::genericPublicURL).trimmed();
            if (!createPublicLink() || publicAddress.isEmpty()) {
                reportLink(remote.adjusted(QUrl::RemoveUserInfo));
                return;
            }
            checkPublicLink(remote, publicLink(publicAddress, name));
        }));
}

void GenericUploader::checkPublicLink(const QUrl& remote, const QUrl& link) {
    const QString scheme = link.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        reportLink(link);
        return;
    }
    operation_ = fileManager().checkAddress(
        link, inRun([this, remote, link](const std::optional<platform::Error>& error) {
            if (isTransferCancelled(error))
                return;
            if (!error) {
                reportLink(link);
                return;
            }
            const QVariant status = error->userInfo.value(QStringLiteral("HTTPStatus"));
            const platform::Error failure(
                QString::fromLatin1(kRVErrorDomain), PublicLinkUnreachable,
                status.isValid()
                    ? QStringLiteral("The file was stored, but its link %1 answered with status %2.")
                          .arg(link.toString(), status.toString())
                    : QStringLiteral("The file was stored, but its link %1 could not be reached: %2")
                          .arg(link.toString(), error->localizedDescription));
            // The file is not linked, so it must not stay on the server either.
            operation_ = fileManager().removeItem(
                remote,
                inRun([this, failure](const std::optional<platform::Error>&) { reportFailure(failure); }));
        }));
}

void GenericUploader::stopTransfer() {
    if (operation_)
        operation_->cancel();
    operation_.reset();
}

void GenericUploader::startAuthentication() {
    const QByteArray bytes = platform::randomDataWithBytes(4);
    const QUrl remote =
        folderURL(serverLocation(setting(keys::genericServer)), QString::fromLatin1(kTestFileName));
    operation_ = fileManager().createFile(
        remote, bytes, true, inRun([this, remote, bytes](const std::optional<platform::Error>& error) {
            if (error) {
                if (!isTransferCancelled(error))
                    reportAuthentication(error);
                return;
            }
            checkTestFile(remote, bytes);
        }));
}

void GenericUploader::checkTestFile(const QUrl& remote, const QByteArray& bytes) {
    QUrl check = remote;
    const QString publicAddress = setting(keys::genericPublicURL).trimmed();
    if (createPublicLink() && !publicAddress.isEmpty())
        check = publicLink(publicAddress, QString::fromLatin1(kTestFileName));
    // The login is for the server alone: a public address elsewhere must not receive it.
    const FetchAccess access = check == remote ? FetchAccess::LogIn : FetchAccess::Anonymous;
    // Fetched on a pool thread rather than blocking one, with the outcome back here.
    operation_ = fileManager().fetchContents(
        check, access,
        inRun([this, remote, bytes, check](const QByteArray& body,
                                           const std::optional<platform::Error>& error) {
            if (isTransferCancelled(error))
                return;
            if (error || body != bytes) {
                // The test file stays: it shows the user where the upload went.
                const QString text = platform::formatString(localized(kRemoteFileNotFound),
                                                            {check.toString(QUrl::RemovePassword)});
                reportAuthentication(
                    platform::Error(QString::fromLatin1(kRVErrorDomain), RemoteFileNotFound, text));
                return;
            }
            operation_ = fileManager().removeItem(
                remote, inRun([this](const std::optional<platform::Error>& removeError) {
                    if (!isTransferCancelled(removeError))
                        reportAuthentication(removeError);
                }));
        }));
}

QUrl GenericUploader::remoteOfLink(const QUrl& link) const {
    const ServerLocation location = serverLocation(setting(keys::genericServer));
    const QString publicAddress = setting(keys::genericPublicURL).trimmed();
    if (!publicAddress.isEmpty()) {
        const QString prefix = publicLink(publicAddress, QString()).toString(QUrl::FullyEncoded);
        const QString encoded = link.toString(QUrl::FullyEncoded);
        if (encoded.startsWith(prefix) && !encoded.mid(prefix.size()).contains(QLatin1Char('/')))
            return folderURL(location, link.fileName(QUrl::FullyDecoded));
    }
    const QUrl folder = folderURL(location).adjusted(QUrl::RemoveUserInfo | QUrl::StripTrailingSlash);
    const QUrl candidate =
        link.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFilename | QUrl::StripTrailingSlash);
    if (candidate.matches(folder, QUrl::None) && !link.fileName().isEmpty())
        return folderURL(location, link.fileName(QUrl::FullyDecoded));
    return {};
}

void GenericUploader::removeUploadedFile(const QUrl& link, std::function<void(platform::Result<void>)> done) {
    const QUrl remote = remoteOfLink(link);
    if (remote.isEmpty()) {
        Uploader::removeUploadedFile(link, std::move(done));
        return;
    }
    ++removals_;
    // Not kept in operation_ and not tied to a run: cancelling an upload must not stop a removal. The
    // file manager drops the callback if this uploader goes first.
    fileManager().removeItem(remote,
                             [this, done = std::move(done)](const std::optional<platform::Error>& error) {
                                 --removals_;
                                 if (error)
                                     done(*error);
                                 else
                                     done({});
                             });
}

void GenericUploader::handleChallenge(const TransferChallenge& challenge, ChallengeReply reply) {
    const bool reporting = linking() || busy();
    if (!reporting && removals_ == 0) {
        reply.cancel(); // left over from a cancelled upload
        return;
    }
    if (challenge.previousFailureCount < 2) {
        const QString user = login().isNull() ? setting(keys::genericLogin) : login();
        const QString secret =
            password().isNull() ? environment_.credentials.passwordFromKeychainItem(keychainIdentifier_, user)
                                : password();
        switch (challenge.method) {
        case AuthenticationMethod::Default:
        case AuthenticationMethod::HTTPBasic:
        case AuthenticationMethod::HTTPDigest: {
            TransferCredential credential{user, secret, {}};
            const QString keyFile = setting(keys::genericPrivateKey);
            // A configured key file that has gone missing falls back to the password.
            if (!keyFile.isEmpty() && QFileInfo(keyFile).isFile())
                credential.privateKeyFile = keyFile;
            reply.useCredential(credential);
            return;
        }
        case AuthenticationMethod::Other:
            reply.performDefaultHandling();
            return;
        }
    }
    const platform::Error error =
        challenge.error ? *challenge.error
                        : platform::Error(QString::fromLatin1(kRVErrorDomain), AuthenticationFailed,
                                          localized(kCouldNotAuthenticate));
    if (linking())
        reportAuthentication(error);
    else if (reporting)
        reportFailure(error);
    reply.cancel();
}

GenericUploaderClass::GenericUploaderClass(const ServiceEnvironment& environment, platform::Bundle bundle,
                                           FileTransfer::Options transferOptions)
    : FlagLinkedUploaderClass(environment, genericService())
    , bundle_(std::move(bundle))
    , transferOptions_(std::move(transferOptions)) {}

std::unique_ptr<Uploader> GenericUploaderClass::create() const {
    return std::make_unique<GenericUploader>(environment(), bundle_, keychainIdentifier(), transferOptions_);
}

} // namespace qm::upload
