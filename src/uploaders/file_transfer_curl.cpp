// The remote schemes of the file-transfer layer on libcurl's easy interface: one handle per operation so
// that its requests share a connection (and, for SFTP, one SSH log-in).

#include "platform/dispatch.h"
#include "uploaders/file_transfer_internal.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <curl/curl.h>

namespace qm::upload::transfer {

namespace {

using platform::Error;
using Kind = ChallengeReply::State::Kind;

enum class Protocol { SFTP, FTP, HTTP, Unsupported };

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
    qint64 maxResponseBytes = 0; // 0: the body is discarded
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

class Slist {
public:
    explicit Slist(const QList<QByteArray>& lines) {
        for (const QByteArray& line : lines)
            list_ = curl_slist_append(list_, line.constData());
    }
    ~Slist() { curl_slist_free_all(list_); }
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

// One operation's connection and log-in state. A request refused for its log-in turns into a challenge
// on the main thread, and is tried again with the answer until the answer is to stop.
class Session {
public:
    Session(Context& context, Protocol protocol)
        : context_(context)
        , protocol_(protocol)
        , curl_(curl_easy_init()) {
        if (protocol_ == Protocol::SFTP)
            QDir().mkpath(QFileInfo(context_.options.knownHostsFile).absolutePath());
    }
    ~Session() { curl_easy_cleanup(curl_); }
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
        for (;;) {
            response = Response();
            if (request.upload && !request.upload->seek(0))
                return makeError(TransferLocalFileFailure,
                                 QStringLiteral("The file to send could not be read."));
            attempt(request, response);
            if (context_.cancelled() || response.code == CURLE_ABORTED_BY_CALLBACK)
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

private:
    bool refused(const Response& response) const {
        if (protocol_ == Protocol::HTTP)
            return response.code == CURLE_OK && response.status == 401;
        return response.code == CURLE_LOGIN_DENIED;
    }

    std::optional<Error> failure(const Request& request, const Response& response) const {
        if (response.code == CURLE_OK)
            return std::nullopt;
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
        const QString text = response.errorText.isEmpty()
                                 ? QString::fromUtf8(curl_easy_strerror(response.code))
                                 : response.errorText;
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
            if (context_.cancelled())
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

    void attempt(Request& request, Response& response) {
        curl_easy_reset(curl_);
        request_ = &request;
        response_ = &response;
        errorBuffer_[0] = '\0';
        ProgressThrottle throttle(request.progress ? *request.progress : noProgress_);
        throttle_ = &throttle;

        const QByteArray url = request.url.adjusted(QUrl::RemoveUserInfo).toEncoded();
        curl_easy_setopt(curl_, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, protocolsOf(protocol_));
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT,
                         static_cast<long>(context_.options.connectTimeoutSeconds));
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(context_.options.lowSpeedSeconds));
        curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &Session::onProgress);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Session::onWrite);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &Session::onHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
        if (request.anonymous) {
            curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 5L);
            curl_easy_setopt(curl_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        }

        // Kept alive until curl_easy_perform returns: libcurl keeps pointers to option strings only for
        // some options, and copies the rest.
        QByteArray user;
        QByteArray password;
        QByteArray keyFile;
        QByteArray knownHosts;
        if (!request.anonymous)
            setCredential(request, user, password, keyFile, knownHosts);

        if (!request.method.isEmpty())
            curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, request.method.constData());
        const Slist headers(request.headers);
        if (headers.get())
            curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers.get());
        if (!request.body.isEmpty()) {
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(curl_, CURLOPT_COPYPOSTFIELDS, request.body.constData());
        }
        if (request.upload) {
            curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(curl_, CURLOPT_READFUNCTION, &Session::onRead);
            curl_easy_setopt(curl_, CURLOPT_READDATA, this);
            curl_easy_setopt(curl_, CURLOPT_SEEKFUNCTION, &Session::onSeek);
            curl_easy_setopt(curl_, CURLOPT_SEEKDATA, this);
            curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE,
                             static_cast<curl_off_t>(request.upload->size()));
            // Larger pieces keep SFTP's request window full; the memory stays fixed either way.
            curl_easy_setopt(curl_, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024L);
        }
        if (request.noBody)
            curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
        if (request.listOnly)
            curl_easy_setopt(curl_, CURLOPT_DIRLISTONLY, 1L);
        if (request.createMissingDirectories)
            curl_easy_setopt(curl_, CURLOPT_FTP_CREATE_MISSING_DIRS,
                             static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
        const Slist quote(request.quote);
        if (quote.get())
            curl_easy_setopt(curl_, CURLOPT_QUOTE, quote.get());

        hostKeyChanged_ = false;
        response.code = curl_easy_perform(curl_);
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &response.status);
        response.errorText = QString::fromUtf8(errorBuffer_).trimmed();
        if (response.code == CURLE_OK && request.upload)
            throttle.update(request.upload->size(), request.upload->size());
        throttle_ = nullptr;
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
            curl_easy_setopt(curl_, CURLOPT_HTTPAUTH, httpAuth_);
        }
        if (!user.isEmpty() || credential_)
            curl_easy_setopt(curl_, CURLOPT_USERNAME, user.constData());
        if (protocol_ != Protocol::SFTP) {
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.constData());
            return;
        }
        knownHosts = QFile::encodeName(context_.options.knownHostsFile);
        curl_easy_setopt(curl_, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
        curl_easy_setopt(curl_, CURLOPT_SSH_KEYFUNCTION, &Session::onHostKey);
        curl_easy_setopt(curl_, CURLOPT_SSH_KEYDATA, this);
        if (!keyFile.isEmpty()) {
            curl_easy_setopt(curl_, CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PUBLICKEY));
            curl_easy_setopt(curl_, CURLOPT_SSH_PRIVATE_KEYFILE, keyFile.constData());
            // Empty: libssh2 derives the public key from the private one.
            curl_easy_setopt(curl_, CURLOPT_SSH_PUBLIC_KEYFILE, "");
            curl_easy_setopt(curl_, CURLOPT_KEYPASSWD, password.constData());
        } else {
            curl_easy_setopt(curl_, CURLOPT_SSH_AUTH_TYPES,
                             static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
            curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.constData());
        }
    }

    static int onProgress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
        auto* self = static_cast<Session*>(data);
        if (self->context_.cancelled())
            return 1;
        if (self->request_->upload && self->throttle_ && uploaded < self->request_->upload->size())
            self->throttle_->update(uploaded, self->request_->upload->size());
        return 0;
    }

    static size_t onWrite(char* bytes, size_t size, size_t count, void* data) {
        auto* self = static_cast<Session*>(data);
        const qint64 length = static_cast<qint64>(size * count);
        if (self->request_->maxResponseBytes <= 0)
            return size * count;
        // An error page is never read, and must not trip the limit before a 401 can turn into a challenge.
        if (self->protocol_ == Protocol::HTTP) {
            long status = 0;
            curl_easy_getinfo(self->curl_, CURLINFO_RESPONSE_CODE, &status);
            if (!isSuccess(status))
                return size * count;
        }
        if (self->response_->body.size() + length > self->request_->maxResponseBytes) {
            self->response_->tooLarge = true;
            return 0;
        }
        self->response_->body.append(bytes, length);
        return size * count;
    }

    static size_t onHeader(char* bytes, size_t size, size_t count, void* data) {
        auto* self = static_cast<Session*>(data);
        const QByteArray line(bytes, static_cast<qsizetype>(size * count));
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare("WWW-Authenticate", Qt::CaseInsensitive) == 0)
            self->response_->authenticate.append(line.mid(colon + 1).trimmed());
        if (line.startsWith("HTTP/"))
            self->response_->authenticate.clear(); // a new response, e.g. after a 100 Continue
        return size * count;
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* data) {
        auto* self = static_cast<Session*>(data);
        if (self->context_.cancelled())
            return CURL_READFUNC_ABORT;
        const qint64 read = self->request_->upload->read(buffer, static_cast<qint64>(size * count));
        return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
    }

    static int onSeek(void* data, curl_off_t offset, int origin) {
        auto* self = static_cast<Session*>(data);
        if (origin != SEEK_SET)
            return CURL_SEEKFUNC_CANTSEEK;
        return self->request_->upload->seek(static_cast<qint64>(offset)) ? CURL_SEEKFUNC_OK
                                                                         : CURL_SEEKFUNC_FAIL;
    }

    // Trust on first use: a new host's key is recorded, a changed key is refused.
    static int onHostKey(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match, void* data) {
        auto* self = static_cast<Session*>(data);
        switch (match) {
        case CURLKHMATCH_OK:
            return CURLKHSTAT_FINE;
        case CURLKHMATCH_MISSING:
            self->recordHostKey(found);
            return CURLKHSTAT_FINE;
        default:
            self->hostKeyChanged_ = true;
            return CURLKHSTAT_REJECT;
        }
    }

    // Written here rather than by libcurl, which would drop the port: servers on two ports of one host
    // would then share one entry, and the second would look like a changed key.
    void recordHostKey(const curl_khkey* found) const {
        const QByteArray blob = found->len ? QByteArray(found->key, static_cast<qsizetype>(found->len))
                                           : QByteArray::fromBase64(QByteArray(found->key));
        // The key blob begins with its type name, as known_hosts lines do.
        if (blob.size() < 4)
            return;
        const quint32 typeLength = qFromBigEndian<quint32>(blob.constData());
        if (typeLength == 0 || typeLength > static_cast<quint32>(blob.size() - 4))
            return;
        const QUrl& url = request_->url;
        const QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
        const int port = url.port(22);
        const QByteArray name = port == 22 ? host : '[' + host + "]:" + QByteArray::number(port);
        QFile file(context_.options.knownHostsFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(name + ' ' + blob.mid(4, typeLength) + ' ' + blob.toBase64() + '\n');
    }

    Context& context_;
    Protocol protocol_;
    CURL* curl_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    std::optional<TransferCredential> credential_;
    bool asked_ = false;
    bool defaultHandling_ = false;
    int failures_ = 0;
    long httpAuth_ = CURLAUTH_ANY;
    bool hostKeyChanged_ = false;
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
std::optional<Error> ensureCollection(Session& session, const QUrl& folder, int depth = 0) {
    Request probe = propfind(folder, "0", 0);
    Response response;
    if (auto error = session.perform(probe, response))
        return error;
    if (isSuccess(response.status))
        return std::nullopt;
    const bool missing = response.status == 404 || response.status == 409;
    if (!missing || folder.path() == QLatin1String("/") || depth > 64)
        return statusError(response.status, folder);
    if (auto error = ensureCollection(session, parentFolder(folder), depth + 1))
        return error;
    Request mkcol;
    mkcol.url = folder;
    mkcol.method = "MKCOL";
    if (auto error = session.perform(mkcol, response))
        return error;
    // 405: it exists after all, made by someone else in the meantime.
    if (!isSuccess(response.status) && response.status != 405)
        return statusError(response.status, folder);
    return std::nullopt;
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

QStringList remoteContents(Context& context, const QUrl& url, std::optional<Error>& error) {
    const Protocol protocol = protocolOf(url);
    if (protocol == Protocol::Unsupported) {
        error = unsupportedScheme(url);
        return {};
    }
    Session session(context, protocol);
    const QUrl folder = withTrailingSlash(url);
    Response response;
    if (protocol == Protocol::HTTP) {
        Request request = propfind(folder, "1", kMaxListing);
        if ((error = session.perform(request, response)))
            return {};
        if (!isSuccess(response.status)) {
            error = statusError(response.status, folder);
            return {};
        }
        return visibleNames(namesFromMultistatus(response.body, folder.path(QUrl::FullyDecoded), error));
    }
    Request request;
    request.url = folder;
    request.listOnly = true;
    request.maxResponseBytes = kMaxListing;
    if ((error = session.perform(request, response)))
        return {};
    return visibleNames(namesFromListing(response.body));
}

std::optional<Error> remoteCreate(Context& context, const QUrl& url, UploadSource& source,
                                  bool withIntermediateDirectories, const ProgressSink& progress) {
    const Protocol protocol = protocolOf(url);
    if (protocol == Protocol::Unsupported)
        return unsupportedScheme(url);
    Session session(context, protocol);
    if (protocol == Protocol::HTTP && withIntermediateDirectories)
        if (auto error = ensureCollection(session, parentFolder(url)))
            return error;
    Request request;
    request.url = url;
    request.upload = &source;
    request.progress = &progress;
    request.createMissingDirectories = withIntermediateDirectories && protocol != Protocol::HTTP;
    Response response;
    if (auto error = session.perform(request, response))
        return error;
    if (protocol == Protocol::HTTP && !isSuccess(response.status))
        return statusError(response.status, url);
    return std::nullopt;
}

std::optional<Error> remoteRemove(Context& context, const QUrl& url) {
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
            return error;
        return isSuccess(response.status) ? std::nullopt
                                          : std::optional<Error>(statusError(response.status, url));
    }
    const QString path = url.path(QUrl::FullyDecoded);
    request.url = FileTransfer::urlWithPath(url, QStringLiteral("/"));
    request.noBody = true;
    if (protocol == Protocol::SFTP) {
        // libcurl reads "/~/" as the home folder here as it does in URLs.
        QString quoted = path;
        quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('"'), QLatin1String("\\\""));
        request.quote = {"rm \"" + quoted.toUtf8() + '"'};
    } else {
        // FTP URL paths are relative to the log-in folder, and so is the command.
        request.quote = {"DELE " + path.mid(1).toUtf8()};
    }
    return session.perform(request, response);
}

QByteArray remoteFetch(Context& context, const QUrl& url, FetchAccess access, qint64 maxBytes,
                       std::optional<Error>& error) {
    const Protocol protocol = protocolOf(url);
    const bool anonymous = access == FetchAccess::Anonymous;
    if (protocol == Protocol::Unsupported || (anonymous && protocol != Protocol::HTTP)) {
        error = unsupportedScheme(url);
        return {};
    }
    Session session(context, protocol);
    Request request;
    request.url = url;
    request.anonymous = anonymous;
    request.maxResponseBytes = maxBytes;
    Response response;
    if ((error = session.perform(request, response)))
        return {};
    if (protocol == Protocol::HTTP && !isSuccess(response.status)) {
        error = statusError(response.status, url);
        return {};
    }
    return response.body;
}

} // namespace qm::upload::transfer
