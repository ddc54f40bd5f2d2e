// The remote schemes of the file-transfer layer on libcurl's easy interface: one handle per operation so
// that its requests share a connection (and, for SFTP, one SSH log-in).

#include "net/curl_easy.h"
#include "platform/dispatch.h"
#include "uploaders/file_transfer_internal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>
#include <QtEndian>
#include <curl/curl.h>

namespace qm::upload::transfer {

namespace {

using platform::Error;
using platform::Result;
using Kind = ChallengeReply::State::Kind;

enum class Protocol { SFTP, FTP, HTTP, Unsupported };

// Upload pieces. SFTP: libcurl's largest, since libssh2 keeps the pieces of one buffer in flight at
// once. The others: small enough that a piece read from the file is still in the CPU cache when it is
// sent (2 MiB pieces cost WebDAV half its CPU time again in copies).
constexpr long kSftpUploadBufferSize = 2L * 1024L * 1024L;
constexpr long kUploadBufferSize = 64L * 1024L;

Protocol protocolOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("sftp"))
        return Protocol::SFTP;
    if (scheme == QLatin1String("ftp") || scheme == QLatin1String("ftps"))
        return Protocol::FTP;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return Protocol::HTTP;
    return Protocol::Unsupported;
}

const char* protocolsOf(Protocol protocol) {
    switch (protocol) {
    case Protocol::SFTP:
        return "sftp";
    case Protocol::FTP:
        return "ftp,ftps";
    default:
        return "http,https";
    }
}

Error unsupportedScheme(const QUrl& url) {
    return makeError(
        TransferUnsupportedScheme,
        QStringLiteral("The address %1 uses a scheme that cannot be reached.").arg(displayString(url)));
}

Error statusError(long status, const QUrl& url) {
    return makeError(
        TransferHTTPStatus,
        QStringLiteral("The server answered with status %1 for %2.").arg(status).arg(displayString(url)),
        {{QStringLiteral("HTTPStatus"), static_cast<int>(status)}});
}

bool isSuccess(long status) {
    return status >= 200 && status < 300;
}

QUrl withTrailingSlash(const QUrl& url) {
    QString path = url.path(QUrl::FullyDecoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    QUrl folder = url;
    folder.setPath(path, QUrl::DecodedMode);
    return folder;
}

QUrl parentFolder(const QUrl& url) {
    QString path = url.path(QUrl::FullyDecoded);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    QUrl parent = url;
    parent.setPath(path.left(path.lastIndexOf(QLatin1Char('/')) + 1), QUrl::DecodedMode);
    return parent;
}

struct Request {
    QUrl url;
    QByteArray method; // HTTP only; empty: GET, or PUT with an upload
    QList<QByteArray> headers;
    QByteArray body; // a small request body
    UploadSource* upload = nullptr;
    bool noBody = false;
    bool listOnly = false;
    bool createMissingDirectories = false;
    QList<QByteArray> quote;
    bool quoteAfterTransfer = false; // FTP: after the change to the URL's folder
    qint64 maxResponseBytes = 0;     // 0: the body is discarded
    const ProgressSink* progress = nullptr;
    bool anonymous = false; // never asks for a credential, follows redirects
};

struct Response {
    CURLcode code = CURLE_OK;
    long status = 0;
    QByteArray body;
    bool tooLarge = false;
    QString errorText;
    QList<QByteArray> authenticate; // WWW-Authenticate values
};

// One operation's connection and log-in state. A request refused for its log-in turns into a challenge
// on the main thread, and is tried again with the answer until the answer is to stop.
class Session final : private net::CurlEasy::Handler {
public:
    Session(Context& context, Protocol protocol)
        : context_(context)
        , protocol_(protocol)
        , curl_(*this) {
        if (protocol_ == Protocol::SFTP)
            QDir().mkpath(QFileInfo(context_.options.knownHostsFile).absolutePath());
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The error when the request did not reach an answer (cancel, library failure, log-in refused for
    // good); HTTP statuses are the caller's to judge.
    std::optional<Error> perform(Request& request, Response& response) {
        if (!curl_)
            return makeError(TransferLibraryFailure, QStringLiteral("The transfer library could not start."));
        if (!request.anonymous && protocol_ != Protocol::HTTP && !asked_) {
            // These protocols log in before anything else, so the credential is asked for up front.
            asked_ = true;
            if (!challenge(request.url, AuthenticationMethod::Default, std::nullopt))
                return cancelledError();
        }
        // One for all attempts, so that a resend after a refusal never reports progress going back.
        ProgressThrottle throttle(request.progress ? *request.progress : noProgress_);
        throttle_ = &throttle;
        const auto done = qScopeGuard([this] { throttle_ = nullptr; });
        for (;;) {
            response = Response();
            if (request.upload && !request.upload->seek(0))
                return makeError(TransferLocalFileFailure,
                                 QStringLiteral("The file to send could not be read."));
            attempt(request, response);
            if (cancelled() || response.code == CURLE_ABORTED_BY_CALLBACK)
                return cancelledError();
            if (request.anonymous || !refused(response))
                return failure(request, response);
            if (credential_)
                ++failures_;
            if (defaultHandling_)
                return refusal(request, response);
            const AuthenticationMethod method =
                protocol_ == Protocol::HTTP ? httpMethod(response) : AuthenticationMethod::Default;
            const std::optional<Error> why = protocol_ == Protocol::HTTP
                                                 ? std::nullopt
                                                 : std::optional<Error>(libraryError(request, response));
            if (!challenge(request.url, method, why))
                return cancelledError();
            if (defaultHandling_)
                return refusal(request, response);
        }
    }

    // Clean-up after a failure or a cancel still has to reach the server.
    void ignoreCancel() { ignoreCancel_ = true; }

private:
    bool cancelled() const { return !ignoreCancel_ && context_.cancelled(); }

    bool refused(const Response& response) const {
        if (protocol_ == Protocol::HTTP)
            return response.code == CURLE_OK && response.status == 401;
        return response.code == CURLE_LOGIN_DENIED;
    }

    std::optional<Error> failure(const Request& request, const Response& response) const {
        if (response.code == CURLE_OK)
            return std::nullopt;
        if (unknownHostKey_)
            return unknownHostKey_->error();
        if (hostKeyChanged_)
            return makeError(
                TransferHostKeyChanged,
                QStringLiteral("The server %1 presented a host key other than the one recorded in %2; "
                               "the connection was refused.")
                    .arg(request.url.host(), context_.options.knownHostsFile));
        if (response.tooLarge)
            return makeError(TransferLibraryFailure,
                             QStringLiteral("The answer from %1 is larger than expected.")
                                 .arg(displayString(request.url)));
        return libraryError(request, response);
    }

    Error refusal(const Request& request, const Response& response) const {
        return protocol_ == Protocol::HTTP ? statusError(response.status, request.url)
                                           : libraryError(request, response);
    }

    static Error libraryError(const Request& request, const Response& response) {
        const QString& text = response.errorText;
        return makeError(TransferLibraryFailure,
                         QStringLiteral("%1 (%2)").arg(text, displayString(request.url)),
                         {{QStringLiteral("CURLcode"), static_cast<int>(response.code)}});
    }

    static AuthenticationMethod httpMethod(const Response& response) {
        bool basic = false;
        bool digest = false;
        for (const QByteArray& value : response.authenticate) {
            const QByteArray scheme = value.trimmed().split(' ').value(0).toLower();
            basic = basic || scheme == "basic";
            digest = digest || scheme == "digest";
        }
        if (digest)
            return AuthenticationMethod::HTTPDigest;
        return basic ? AuthenticationMethod::HTTPBasic : AuthenticationMethod::Other;
    }

    // False when the answer was to cancel.
    bool challenge(const QUrl& url, AuthenticationMethod method, std::optional<Error> why) {
        if (method == AuthenticationMethod::HTTPDigest)
            httpAuth_ = CURLAUTH_DIGEST;
        else if (method == AuthenticationMethod::HTTPBasic)
            httpAuth_ = CURLAUTH_BASIC;
        else
            httpAuth_ = CURLAUTH_ANY;

        TransferChallenge challenge;
        challenge.url = url.adjusted(QUrl::RemovePassword);
        challenge.method = method;
        challenge.previousFailureCount = failures_;
        challenge.error = std::move(why);

        auto state = std::make_shared<ChallengeReply::State>();
        postToMain(context_.core, [core = context_.core, challenge, reply = ChallengeReply(state)]() mutable {
            const auto alive = core.lock();
            if (alive->challengeHandler)
                alive->challengeHandler(challenge, std::move(reply));
        });

        std::unique_lock lock(state->mutex);
        while (state->kind == Kind::None) {
            if (cancelled())
                return false;
            state->answered.wait_for(lock, std::chrono::milliseconds(100));
        }
        switch (state->kind) {
        case Kind::Credential:
            credential_ = state->credential;
            defaultHandling_ = false;
            return true;
        case Kind::Default:
            credential_.reset();
            defaultHandling_ = true;
            return true;
        default:
            return false;
        }
    }

    // One request on the handle, in its steps: what every request sets, the log-in, the request's own
    // method and body, then the transfer.
    void attempt(Request& request, Response& response) {
        curl_.reset();
        request_ = &request;
        response_ = &response;
        setConnection(request);
        // Kept alive until the transfer ends, like every option string set below.
        QByteArray user;
        QByteArray password;
        QByteArray keyFile;
        QByteArray knownHosts;
        if (!request.anonymous)
            setCredential(request, user, password, keyFile, knownHosts);
        setRequest(request);

        hostKeyChanged_ = false;
        unknownHostKey_.reset();
        response.code = curl_.perform();
        response.status = curl_.responseCode();
        response.errorText = curl_.errorText(response.code);
        // A 401 that ends an HTTP attempt is no sign the body arrived.
        if (response.code == CURLE_OK && request.upload &&
            (protocol_ != Protocol::HTTP || isSuccess(response.status)))
            throttle_->update(request.upload->size(), request.upload->size());
    }

    void setConnection(const Request& request) {
        curl_.setURL(request.url.adjusted(QUrl::RemoveUserInfo).toEncoded());
        curl_.set(CURLOPT_PROTOCOLS_STR, protocolsOf(protocol_));
        curl_.setTimeouts(std::chrono::seconds(context_.options.connectTimeoutSeconds),
                          std::chrono::seconds(context_.options.lowSpeedSeconds));
        curl_.set(CURLOPT_SSL_VERIFYPEER, 1L);
        curl_.set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (request.anonymous) {
            curl_.set(CURLOPT_FOLLOWLOCATION, 1L);
            curl_.set(CURLOPT_MAXREDIRS, 5L);
            curl_.set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        }
    }

    void setRequest(const Request& request) {
        if (!request.method.isEmpty())
            curl_.set(CURLOPT_CUSTOMREQUEST, request.method.constData());
        if (!request.headers.isEmpty())
            curl_.setHeaders(request.headers);
        if (!request.body.isEmpty()) {
            curl_.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_.set(CURLOPT_COPYPOSTFIELDS, request.body.constData());
        }
        if (request.upload)
            curl_.setBody(request.upload->size(), net::CurlEasy::BodyMethod::Upload,
                          protocol_ == Protocol::SFTP ? kSftpUploadBufferSize : kUploadBufferSize);
        if (request.noBody)
            curl_.set(CURLOPT_NOBODY, 1L);
        if (request.listOnly)
            curl_.set(CURLOPT_DIRLISTONLY, 1L);
        if (request.createMissingDirectories)
            curl_.set(CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
        if (!request.quote.isEmpty())
            curl_.setQuote(request.quoteAfterTransfer ? CURLOPT_POSTQUOTE : CURLOPT_QUOTE, request.quote);
    }

    void setCredential(const Request& request, QByteArray& user, QByteArray& password, QByteArray& keyFile,
                       QByteArray& knownHosts) {
        if (credential_) {
            user = credential_->user.toUtf8();
            password = credential_->password.toUtf8();
            keyFile = QFile::encodeName(credential_->privateKeyFile);
        } else if (protocol_ != Protocol::HTTP) {
            user = request.url.userName(QUrl::FullyDecoded).toUtf8();
            password = request.url.password(QUrl::FullyDecoded).toUtf8();
        }
        if (protocol_ == Protocol::HTTP) {
            if (!credential_)
                return;
            curl_.set(CURLOPT_HTTPAUTH, httpAuth_);
        }
        if (!user.isEmpty() || credential_)
            curl_.set(CURLOPT_USERNAME, user.constData());
        if (protocol_ != Protocol::SFTP) {
            curl_.set(CURLOPT_PASSWORD, password.constData());
            return;
        }
        knownHosts = QFile::encodeName(context_.options.knownHostsFile);
        curl_.set(CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
        curl_.set(CURLOPT_SSH_KEYFUNCTION, &Session::onHostKey);
        curl_.set(CURLOPT_SSH_KEYDATA, this);
        if (!keyFile.isEmpty()) {
            curl_.set(CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PUBLICKEY));
            curl_.set(CURLOPT_SSH_PRIVATE_KEYFILE, keyFile.constData());
            // Empty: libssh2 derives the public key from the private one.
            curl_.set(CURLOPT_SSH_PUBLIC_KEYFILE, "");
            curl_.set(CURLOPT_KEYPASSWD, password.constData());
        } else {
            curl_.set(CURLOPT_SSH_AUTH_TYPES,
                      static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
            curl_.set(CURLOPT_PASSWORD, password.constData());
        }
    }

    bool progress(qint64, qint64, qint64 uploaded) override {
        if (cancelled())
            return false;
        if (request_->upload && throttle_ && uploaded < request_->upload->size())
            throttle_->update(uploaded, request_->upload->size());
        return true;
    }

    bool bodyBytes(const char* bytes, qint64 length) override {
        if (request_->maxResponseBytes <= 0)
            return true;
        // An error page is never read, and must not trip the limit before a 401 can turn into a challenge.
        if (protocol_ == Protocol::HTTP && !isSuccess(curl_.responseCode()))
            return true;
        if (response_->body.size() + length > request_->maxResponseBytes) {
            response_->tooLarge = true;
            return false;
        }
        response_->body.append(bytes, length);
        return true;
    }

    void headerLine(QByteArrayView line) override {
        if (line.startsWith("HTTP/"))
            response_->authenticate.clear(); // a new response, e.g. after a 100 Continue
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.first(colon).trimmed().compare("WWW-Authenticate", Qt::CaseInsensitive) == 0)
            response_->authenticate.append(line.sliced(colon + 1).trimmed().toByteArray());
    }

    qint64 readBody(char* buffer, qint64 maximum) override {
        return cancelled() ? -1 : request_->upload->read(buffer, maximum);
    }

    bool seekBody(qint64 offset) override { return request_->upload->seek(offset); }

    // A known key passes, a changed one is refused; an unknown one is refused too, with what the user
    // needs to decide on it, unless the options record it (for tools that have that decision already).
    static int onHostKey(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match, void* data) {
        auto* self = static_cast<Session*>(data);
        switch (match) {
        case CURLKHMATCH_OK:
            return CURLKHSTAT_FINE;
        case CURLKHMATCH_MISSING:
            self->unknownHostKey_ = self->knownHostsEntry(found);
            if (!self->context_.options.recordUnknownHostKeys || !self->unknownHostKey_)
                return CURLKHSTAT_REJECT;
            if (!FileTransfer::acceptHostKey(*std::exchange(self->unknownHostKey_, std::nullopt)))
                return CURLKHSTAT_REJECT;
            return CURLKHSTAT_FINE;
        default:
            self->hostKeyChanged_ = true;
            return CURLKHSTAT_REJECT;
        }
    }

    // Made here rather than by libcurl, which would drop the port: servers on two ports of one host
    // would then share one entry, and the second would look like a changed key.
    std::optional<HostKey> knownHostsEntry(const curl_khkey* found) const {
        const QByteArray blob = found->len ? QByteArray(found->key, static_cast<qsizetype>(found->len))
                                           : QByteArray::fromBase64(QByteArray(found->key));
        // The key blob begins with its type name, as known_hosts lines do.
        if (blob.size() < 4)
            return std::nullopt;
        const quint32 typeLength = qFromBigEndian<quint32>(blob.constData());
        if (typeLength == 0 || typeLength > static_cast<quint32>(blob.size() - 4))
            return std::nullopt;
        const QUrl& url = request_->url;
        const QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
        const int port = url.port(22);
        const QByteArray name = port == 22 ? host : '[' + host + "]:" + QByteArray::number(port);
        HostKey key;
        key.host = url.host();
        key.knownHostsLine =
            QString::fromLatin1(name + ' ' + blob.mid(4, typeLength) + ' ' + blob.toBase64());
        key.knownHostsFile = context_.options.knownHostsFile;
        key.fingerprint = QStringLiteral("SHA256:") +
                          QString::fromLatin1(QCryptographicHash::hash(blob, QCryptographicHash::Sha256)
                                                  .toBase64(QByteArray::OmitTrailingEquals));
        return key;
    }

    Context& context_;
    Protocol protocol_;
    net::CurlEasy curl_;
    std::optional<TransferCredential> credential_;
    bool asked_ = false;
    bool defaultHandling_ = false;
    int failures_ = 0;
    long httpAuth_ = CURLAUTH_ANY;
    bool hostKeyChanged_ = false;
    std::optional<HostKey> unknownHostKey_;
    bool ignoreCancel_ = false;
    Request* request_ = nullptr;
    Response* response_ = nullptr;
    ProgressThrottle* throttle_ = nullptr;
    const ProgressSink noProgress_;
};

constexpr qint64 kMaxListing = 64 << 20;

const QByteArray kPropfindBody =
    QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                      "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/></D:prop></D:propfind>");

Request propfind(const QUrl& url, const char* depth, qint64 maxResponse) {
    Request request;
    request.url = url;
    request.method = "PROPFIND";
    request.headers = {QByteArray("Depth: ") + depth, "Content-Type: application/xml; charset=utf-8"};
    request.body = kPropfindBody;
    request.maxResponseBytes = maxResponse;
    return request;
}

// Creates the collection `folder` (ending in "/") and every missing one above it.
Result<void> ensureCollection(Session& session, const QUrl& folder, int depth = 0) {
    Request probe = propfind(folder, "0", 0);
    Response response;
    if (auto error = session.perform(probe, response))
        return *error;
    if (isSuccess(response.status))
        return {};
    const bool missing = response.status == 404 || response.status == 409;
    if (!missing || folder.path() == QLatin1String("/") || depth > 64)
        return statusError(response.status, folder);
    if (auto made = ensureCollection(session, parentFolder(folder), depth + 1); !made)
        return made;
    Request mkcol;
    mkcol.url = folder;
    mkcol.method = "MKCOL";
    if (auto error = session.perform(mkcol, response))
        return *error;
    // 405: it exists after all, made by someone else in the meantime.
    if (!isSuccess(response.status) && response.status != 405)
        return statusError(response.status, folder);
    return {};
}

QStringList namesFromListing(const QByteArray& body) {
    QStringList names;
    for (QByteArray line : body.split('\n')) {
        line = line.trimmed();
        if (line.endsWith('/'))
            line.chop(1);
        // Some FTP servers answer NLST with paths.
        const QString name = QString::fromUtf8(line.mid(line.lastIndexOf('/') + 1));
        if (!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    return names;
}

} // namespace

Result<QStringList> remoteContents(Context& context, const QUrl& url) {
    const Protocol protocol = protocolOf(url);
    if (protocol == Protocol::Unsupported)
        return unsupportedScheme(url);
    Session session(context, protocol);
    const QUrl folder = withTrailingSlash(url);
    Response response;
    if (protocol == Protocol::HTTP) {
        Request request = propfind(folder, "1", kMaxListing);
        if (auto error = session.perform(request, response))
            return *error;
        if (!isSuccess(response.status))
            return statusError(response.status, folder);
        const auto names = namesFromMultistatus(response.body, folder.path(QUrl::FullyDecoded));
        if (!names)
            return names.error();
        return visibleNames(*names);
    }
    Request request;
    request.url = folder;
    request.listOnly = true;
    request.maxResponseBytes = kMaxListing;
    if (auto error = session.perform(request, response))
        return *error;
    return visibleNames(namesFromListing(response.body));
}

Result<void> remoteCreate(Context& context, const QUrl& url, UploadSource& source,
                          bool withIntermediateDirectories, const ProgressSink& progress) {
    const Protocol protocol = protocolOf(url);
    if (protocol == Protocol::Unsupported)
        return unsupportedScheme(url);
    Session session(context, protocol);
    if (protocol == Protocol::HTTP && withIntermediateDirectories)
        if (auto made = ensureCollection(session, parentFolder(url)); !made)
            return made;
    Request request;
    request.url = url;
    request.upload = &source;
    request.progress = &progress;
    request.createMissingDirectories = withIntermediateDirectories && protocol != Protocol::HTTP;
    Response response;
    if (auto error = session.perform(request, response))
        return *error;
    if (protocol == Protocol::HTTP && !isSuccess(response.status))
        return statusError(response.status, url);
    return {};
}

namespace {

QByteArray sftpQuoted(const QString& path) {
    QString quoted = path;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return '"' + quoted.toUtf8() + '"';
}

// The SFTP and FTP commands of a store, by absolute path. libcurl reads SFTP paths as they are ("/~/"
// is the home folder, as in URLs). FTP commands go after the change into the store's folder, relative to
// it: before a transfer they would run wherever the connection's last transfer left it.
class Commands {
public:
    Commands(Session& session, Protocol protocol, const QUrl& folder)
        : session_(session)
        , protocol_(protocol)
        , folder_(withTrailingSlash(folder))
        , folderPath_(folder_.path(QUrl::FullyDecoded)) {}

    // False when the server refused the command (not there, or a name taken), with `error` unset.
    bool rename(const QString& from, const QString& to, std::optional<Error>& error) {
        if (protocol_ == Protocol::SFTP)
            return run({"rename " + sftpQuoted(from) + ' ' + sftpQuoted(to)}, error);
        return run({"RNFR " + relative(from), "RNTO " + relative(to)}, error);
    }
    bool remove(const QString& path, std::optional<Error>& error) {
        return run({protocol_ == Protocol::SFTP ? "rm " + sftpQuoted(path) : "DELE " + relative(path)},
                   error);
    }
    bool removeFolder(const QString& path, std::optional<Error>& error) {
        return run({protocol_ == Protocol::SFTP ? "rmdir " + sftpQuoted(path) : "RMD " + relative(path)},
                   error);
    }
    // Whether something is at `path`; no body is fetched.
    bool exists(const QString& path, std::optional<Error>& error) {
        Request request;
        request.url = FileTransfer::urlWithPath(folder_, path);
        request.noBody = true;
        Response response;
        error = session_.perform(request, response);
        if (error && response.code == CURLE_REMOTE_FILE_NOT_FOUND)
            error.reset();
        return !error && response.code == CURLE_OK;
    }

private:
    QByteArray relative(const QString& path) const { return path.mid(folderPath_.size()).toUtf8(); }

    bool run(QList<QByteArray> quote, std::optional<Error>& error) {
        Request request;
        request.url =
            protocol_ == Protocol::FTP ? folder_ : FileTransfer::urlWithPath(folder_, QStringLiteral("/"));
        request.noBody = true;
        request.quote = std::move(quote);
        request.quoteAfterTransfer = protocol_ == Protocol::FTP;
        Response response;
        error = session_.perform(request, response);
        if (error && response.code == CURLE_QUOTE_ERROR)
            error.reset();
        return response.code == CURLE_OK;
    }

    Session& session_;
    Protocol protocol_;
    QUrl folder_;
    QString folderPath_;
};

enum class Claim { Stored, Taken, Failed };

// WebDAV stores without replacing by itself: MOVE with "Overwrite: F" refuses an existing name (412).
Claim moveWithoutReplacing(Session& session, const QUrl& from, const QUrl& to, std::optional<Error>& error) {
    Request move;
    move.url = from;
    move.method = "MOVE";
    move.headers = {"Destination: " + to.adjusted(QUrl::RemoveUserInfo).toEncoded(), "Overwrite: F"};
    Response response;
    if ((error = session.perform(move, response)))
        return Claim::Failed;
    if (isSuccess(response.status))
        return Claim::Stored;
    // 423: another sender holds the name's lock, moving its own file there; the name is as good as taken.
    if (response.status == 412 || response.status == 423)
        return Claim::Taken;
    error = statusError(response.status, to);
    return Claim::Failed;
}

// SFTP and FTP servers differ in whether a rename replaces an existing file (OpenSSH refuses, rclone and
// pyftpdlib replace), but none renames a folder onto another that holds something. So the bytes wait
// in a hidden folder of their own, and renaming that folder to ".<name>.quillmoor-claim" claims `name`
// for one sender at a time; the claim holder checks the name is free and moves the file there.
Claim claimAndRename(Commands& commands, QString& holder, const QString& file, const QString& folder,
                     const QString& name, std::optional<Error>& error) {
    const QString claim = folder + QLatin1Char('.') + name + QStringLiteral(".quillmoor-claim");
    if (!commands.rename(holder, claim, error))
        return error ? Claim::Failed : Claim::Taken;
    const QString unclaimed = std::exchange(holder, claim);
    const QString target = folder + name;
    const bool taken = commands.exists(target, error);
    if (!error && !taken && commands.rename(claim + QLatin1Char('/') + file, target, error)) {
        std::optional<Error> ignored;
        commands.removeFolder(claim, ignored);
        holder.clear();
        return Claim::Stored;
    }
    if (error)
        return Claim::Failed;
    if (commands.rename(claim, unclaimed, error))
        holder = unclaimed;
    return error ? Claim::Failed : Claim::Taken;
}

} // namespace

Result<void> remoteStore(Context& context, const QUrl& folderURL, UploadSource& source, QStringList taken,
                         const FileTransfer::NameChooser& choose, const ProgressSink& progress,
                         QString& name) {
    const Protocol protocol = protocolOf(folderURL);
    if (protocol == Protocol::Unsupported)
        return unsupportedScheme(folderURL);
    Session session(context, protocol);
    Commands commands(session, protocol, folderURL);
    const QUrl folder = withTrailingSlash(folderURL);
    const QString folderPath = folder.path(QUrl::FullyDecoded);
    const QString file = QStringLiteral("upload.part");
    // WebDAV: a hidden file beside the target; SFTP and FTP: a file in a hidden folder (see claimAndRename).
    QString holder = folderPath + temporaryName();
    const QString sent = protocol == Protocol::HTTP ? holder : holder + QLatin1Char('/') + file;

    // Asked first so that the log-in is settled before the body goes out.
    if (protocol == Protocol::HTTP)
        if (auto made = ensureCollection(session, folder); !made)
            return made;
    Request upload;
    upload.url = FileTransfer::urlWithPath(folder, sent);
    upload.upload = &source;
    upload.progress = &progress;
    upload.createMissingDirectories = protocol != Protocol::HTTP;
    Response response;
    std::optional<Error> error = session.perform(upload, response);
    if (!error && protocol == Protocol::HTTP && !isSuccess(response.status))
        error = statusError(response.status, upload.url);

    for (int attempt = 0; !error && attempt < kMaxNameAttempts; ++attempt) {
        name = choose(taken);
        const Claim claim =
            protocol == Protocol::HTTP
                ? moveWithoutReplacing(session, upload.url,
                                       FileTransfer::urlWithPath(folder, folderPath + name), error)
                : claimAndRename(commands, holder, file, folderPath, name, error);
        if (claim == Claim::Stored)
            return {};
        taken.append(name);
    }
    if (!error)
        error = noFreeName(folderURL);

    // Whatever was sent goes again, also after a cancel.
    session.ignoreCancel();
    std::optional<Error> ignored;
    if (protocol == Protocol::HTTP) {
        // A server may still be writing the body of an aborted PUT when the DELETE comes: it answers 423
        // (locked) or finishes the file afterwards. So the name is asked for until it stays gone (bounded).
        for (int round = 0; round < 50; ++round) {
            Request remove;
            remove.url = upload.url;
            remove.method = "DELETE";
            if (session.perform(remove, response))
                break;
            QThread::msleep(100);
            if (response.status == 423)
                continue;
            if (!isSuccess(response.status) && response.status != 404)
                break;
            Request probe = propfind(upload.url, "0", 0);
            if (session.perform(probe, response) || response.status == 404)
                break;
        }
    } else if (!holder.isEmpty()) {
        commands.remove(holder + QLatin1Char('/') + file, ignored);
        commands.removeFolder(holder, ignored);
    }
    return *error;
}

Result<void> remoteRemove(Context& context, const QUrl& url) {
    const Protocol protocol = protocolOf(url);
    if (protocol == Protocol::Unsupported)
        return unsupportedScheme(url);
    Session session(context, protocol);
    Request request;
    Response response;
    if (protocol == Protocol::HTTP) {
        request.url = url;
        request.method = "DELETE";
        if (auto error = session.perform(request, response))
            return *error;
        if (!isSuccess(response.status))
            return statusError(response.status, url);
        return {};
    }
    const QString path = url.path(QUrl::FullyDecoded);
    request.url = FileTransfer::urlWithPath(url, QStringLiteral("/"));
    request.noBody = true;
    if (protocol == Protocol::SFTP) {
        request.quote = {"rm " + sftpQuoted(path)};
    } else {
        // FTP URL paths are relative to the log-in folder, and so is the command.
        request.quote = {"DELE " + path.mid(1).toUtf8()};
    }
    if (auto error = session.perform(request, response))
        return *error;
    return {};
}

Result<void> remoteCheck(Context& context, const QUrl& url) {
    if (protocolOf(url) != Protocol::HTTP)
        return unsupportedScheme(url);
    Session session(context, Protocol::HTTP);
    Request request;
    request.url = url;
    request.anonymous = true;
    request.noBody = true;
    Response response;
    if (auto error = session.perform(request, response))
        return *error;
    if (!isSuccess(response.status))
        return statusError(response.status, url);
    return {};
}

Result<QByteArray> remoteFetch(Context& context, const QUrl& url, FetchAccess access, qint64 maxBytes) {
    const Protocol protocol = protocolOf(url);
    const bool anonymous = access == FetchAccess::Anonymous;
    if (protocol == Protocol::Unsupported || (anonymous && protocol != Protocol::HTTP))
        return unsupportedScheme(url);
    Session session(context, protocol);
    Request request;
    request.url = url;
    request.anonymous = anonymous;
    request.maxResponseBytes = maxBytes;
    Response response;
    if (auto error = session.perform(request, response))
        return *error;
    if (protocol == Protocol::HTTP && !isSuccess(response.status))
        return statusError(response.status, url);
    return response.body;
}

} // namespace qm::upload::transfer
