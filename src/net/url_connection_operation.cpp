#include "net/url_connection_operation.h"

#include "net/network_thread.h"
#include "platform/dispatch.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>

#include <chrono>

namespace qm::net {

using platform::Error;

struct URLConnectionOperation::Progress : std::enable_shared_from_this<Progress> {
    std::mutex mutex;
    ProgressBlock block;
    bool pending = false;
    qint64 delta = 0, total = 0, expected = -1;
    std::chrono::steady_clock::time_point lastPost;

    void report(qint64 bytes, qint64 totalBytes, qint64 expectedBytes) {
        {
            std::lock_guard guard(mutex);
            if (!block)
                return;
            delta += bytes;
            total = totalBytes;
            expected = expectedBytes;
            if (pending)
                return;
            // A fast transfer would otherwise wake the main thread once per chunk; the last report of a
            // known size always goes out, so the deltas still add up to the total.
            const auto now = std::chrono::steady_clock::now();
            const bool last = expected < 0 || total >= expected;
            if (!last && now - lastPost < std::chrono::milliseconds(20))
                return;
            lastPost = now;
            pending = true;
        }
        platform::dispatch::onMain([self = shared_from_this()] { self->deliver(); });
    }

    void deliver() {
        ProgressBlock call;
        qint64 d = 0, t = 0, e = 0;
        {
            std::lock_guard guard(mutex);
            pending = false;
            call = block;
            d = std::exchange(delta, 0);
            t = total;
            e = expected;
        }
        if (call)
            call(d, t, e);
    }
};

namespace {

QString cannotResend(const QIODevice& body) {
    return QStringLiteral("The request body cannot be sent again: %1").arg(body.errorString());
}

} // namespace

// The curl handle of one run and what its callbacks need; lives and dies on the network thread.
struct URLConnectionOperation::Transfer {
    URLConnectionOperation* operation = nullptr;
    CURL* easy = curl_easy_init();
    curl_slist* headerList = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QUrl url;
    QByteArray body;
    qint64 bodyOffset = 0;
    std::shared_ptr<QIODevice> device;
    qint64 expectedUpload = -1;
    curl_off_t lastUp = 0, lastDown = 0;
    long status = 0;
    HeaderList responseHeaders;
    // The last complete head. It becomes the response only once its body arrives or the exchange ends:
    // until then it may be a redirect or a challenge that curl answers with another request.
    std::optional<HTTPResponse> head;
    // Why the body device stopped the transfer; says more than curl's text for it.
    std::optional<std::pair<int, QString>> bodyFailure;

    ~Transfer() {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headerList);
    }

    void commitHead() {
        if (!head)
            return;
        std::lock_guard guard(operation->lock_);
        operation->response_ = std::move(head);
        head.reset();
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        const size_t length = size * count;
        const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
        if (line.startsWith("HTTP/")) {
            // Each head (interim, redirect, auth retry, final) starts afresh.
            const QList<QByteArray> parts = line.split(' ');
            self->status = parts.size() > 1 ? parts[1].toLong() : 0;
            self->responseHeaders.clear();
        } else if (line.isEmpty()) {
            if (self->status >= 200) {
                HTTPResponse response;
                response.statusCode = self->status;
                const char* effective = nullptr;
                curl_easy_getinfo(self->easy, CURLINFO_EFFECTIVE_URL, &effective);
                response.url = effective ? QUrl::fromEncoded(effective) : self->url;
                response.headers = self->responseHeaders;
                self->head = std::move(response);
            }
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            self->responseHeaders.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        return length;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        URLConnectionOperation* op = self->operation;
        const qint64 length = qint64(size * count);
        self->commitHead();
        std::shared_ptr<QIODevice> output;
        {
            std::lock_guard guard(op->lock_);
            output = op->output_;
        }
        if (output) {
            if (!output->isOpen())
                output->open(QIODevice::WriteOnly);
            if (output->write(data, length) != length)
                return 0;  // fails the transfer with a write error
        } else {
            op->received_buffer_.append(data, length);
        }
        op->received_ += length;
        return size_t(length);
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        const qint64 wanted = qint64(size * count);
        if (self->device) {
            self->operation->bodyRead_ = true;
            const qint64 got = self->device->read(buffer, wanted);
            if (got < 0) {
                self->bodyFailure = {kURLErrorUnknown, self->device->errorString()};
                return CURL_READFUNC_ABORT;
            }
            return size_t(got);
        }
        const qint64 got = std::min(wanted, self->body.size() - self->bodyOffset);
        std::memcpy(buffer, self->body.constData() + self->bodyOffset, size_t(got));
        self->bodyOffset += got;
        return size_t(got);
    }

    // Redirects and authentication retries send the body again from the start.
    static int onSeek(void* user, curl_off_t offset, int origin) {
        auto* self = static_cast<Transfer*>(user);
        if (origin != SEEK_SET)
            return CURL_SEEKFUNC_CANTSEEK;
        if (self->device) {
            // A sequential device can only start over, through reset(), and only if it knows how.
            const bool sequential = self->device->isSequential();
            if (sequential && offset != 0)
                return CURL_SEEKFUNC_CANTSEEK;
            if (sequential ? self->device->reset() : self->device->seek(offset))
                return CURL_SEEKFUNC_OK;
            self->bodyFailure = {kURLErrorRequestBodyStreamExhausted, cannotResend(*self->device)};
            return CURL_SEEKFUNC_FAIL;
        }
        self->bodyOffset = std::min<qint64>(offset, self->body.size());
        return CURL_SEEKFUNC_OK;
    }

    static int onProgress(void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
        auto* self = static_cast<Transfer*>(user);
        URLConnectionOperation* op = self->operation;
        if (upNow > self->lastUp) {
            op->upload_->report(upNow - self->lastUp, upNow, self->expectedUpload);
            self->lastUp = upNow;
        }
        if (downNow > self->lastDown) {
            op->download_->report(downNow - self->lastDown, downNow, downTotal > 0 ? downTotal : -1);
            self->lastDown = downNow;
        }
        return 0;
    }
};

namespace {

Error urlError(int code, const QString& description, const QUrl& url) {
    return Error(QString::fromLatin1(kURLErrorDomain), code, description,
                 {{QString::fromLatin1(kURLErrorFailingURLKey), url},
                  {QStringLiteral("NSErrorFailingURLStringKey"), url.toString()},
                  {QStringLiteral("NSLocalizedDescription"), description}});
}

int urlErrorCode(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return kURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return kURLErrorCannotConnectToHost;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return kURLErrorNetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS:
        return kURLErrorHTTPTooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
        return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
        return kURLErrorSecureConnectionFailed;
    default:
        return kURLErrorUnknown;
    }
}

} // namespace

URLConnectionOperation::URLConnectionOperation(HTTPRequest request)
    : request_(std::move(request)), upload_(std::make_shared<Progress>()), download_(std::make_shared<Progress>()) {}

URLConnectionOperation::~URLConnectionOperation() = default;

bool URLConnectionOperation::setState(State next) {
    bool allowed = false;
    switch (state_) {
    case Ready:
        allowed = next == Paused || next == Executing || (next == Finished && cancelled_);
        break;
    case Executing:
        allowed = next == Paused || next == Finished;
        break;
    case Paused:
        allowed = next == Ready;
        break;
    case Finished:
        break;
    }
    if (allowed)
        state_ = next;
    return allowed;
}

URLConnectionOperation::State URLConnectionOperation::state() const {
    std::lock_guard guard(lock_);
    return state_;
}

bool URLConnectionOperation::isCancelled() const {
    std::lock_guard guard(lock_);
    return cancelled_;
}

void URLConnectionOperation::start() {
    {
        std::lock_guard guard(lock_);
        if (state_ != Ready)
            return;
        if (!cancelled_)
            setState(Executing);
    }
    if (isCancelled()) {
        finish(cancellationError());
        return;
    }
    runStartHook();
    NetworkThread::instance().post([self = shared_from_this()] { self->startOnNetworkThread(self); });
}

void URLConnectionOperation::runStartHook() {
    std::function<void(HTTPRequest&)> hook;
    {
        std::lock_guard guard(lock_);
        hook = startHook_;
    }
    if (!hook)
        return;
    HTTPRequest changed = request();
    hook(changed);
    setRequest(std::move(changed));
}

void URLConnectionOperation::cancel() {
    {
        std::lock_guard guard(lock_);
        if (state_ == Finished || cancelled_)
            return;
        cancelled_ = true;
    }
    NetworkThread::instance().post([self = shared_from_this()] { self->cancelOnNetworkThread(); });
}

void URLConnectionOperation::pause() {
    {
        std::lock_guard guard(lock_);
        if (state_ == Paused || state_ == Finished || cancelled_ || !setState(Paused))
            return;
    }
    NetworkThread::instance().post([self = shared_from_this()] {
        self->dropTransfer();
        self->didPause();
    });
}

void URLConnectionOperation::resume() {
    {
        std::lock_guard guard(lock_);
        if (state_ != Paused)
            return;
        setState(Ready);
    }
    start();
}

platform::Error URLConnectionOperation::cancellationError() const {
    return urlError(kURLErrorCancelled, QStringLiteral("cancelled"), request().url);
}

void URLConnectionOperation::cancelOnNetworkThread() {
    {
        std::lock_guard guard(lock_);
        if (state_ != Executing)
            return;  // a ready operation finishes when started; a paused one has no connection
    }
    dropTransfer();
    finish(cancellationError());
}

void URLConnectionOperation::dropTransfer() {
    if (transfer_) {
        NetworkThread::instance().remove(transfer_->easy);
        transfer_.reset();
    }
    std::shared_ptr<URLConnectionOperation> released;
    std::lock_guard guard(lock_);
    released = std::move(self_);
}

void URLConnectionOperation::startOnNetworkThread(std::shared_ptr<URLConnectionOperation> self) {
    HTTPRequest request;
    std::optional<Credential> credential;
    bool allowInvalid = false;
    {
        std::lock_guard guard(lock_);
        if (state_ != Executing)
            return;  // paused or finished before the network thread got here
        if (!cancelled_) {
            self_ = std::move(self);
            request = request_;
            credential = credential_;
            allowInvalid = allowsInvalidSSLCertificate_;
        }
    }
    if (isCancelled()) {
        finish(cancellationError());
        return;
    }

    auto transfer = std::make_unique<Transfer>();
    Transfer* t = transfer.get();
    t->operation = this;
    t->url = request.url;
    CURL* e = t->easy;
    curl_easy_setopt(e, CURLOPT_URL, request.url.toEncoded().constData());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 16L);
    curl_easy_setopt(e, CURLOPT_SHARE, NetworkThread::instance().share());
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    // Like a platform request timeout this bounds idle time, not the whole (possibly long) upload.
    const long seconds = std::max<long>(1, long((request.timeout.count() + 999) / 1000));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(request.timeout.count()));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, seconds);
    // Pinning modes are carried but never enabled, so only the default evaluation and its opt-out exist.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, allowInvalid ? 0L : 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, allowInvalid ? 0L : 2L);
    if (credential) {
        // Offered only once a 401 names a scheme; a second 401 ends the exchange with that response.
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        // A challenge is answered on whatever host a redirect lands on (a storage host sending the client
        // on to an API host that asks for Digest), as a platform connection asks its delegate for each one.
        curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 1L);
        curl_easy_setopt(e, CURLOPT_USERNAME, credential->user.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, credential->password.toUtf8().constData());
    }

    const QByteArray method = request.method.toUpper();
    // curl's own POST and PUT, because a custom method string would outlive a 303 (or a 301/302 after a
    // POST) that must go on as a GET.
    const bool post = method == "POST";
    const bool put = method == "PUT" && request.hasBody();
    if (method == "HEAD")
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    else if (post)
        curl_easy_setopt(e, CURLOPT_POST, 1L);
    else if (!put && (method != "GET" || request.hasBody()))
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.constData());
    if (request.hasBody()) {
        if (request.bodyDevice) {
            t->device = request.bodyDevice;
            if (!t->device->isOpen()) {
                t->device->open(QIODevice::ReadOnly);
            } else if ((bodyRead_ || !t->device->isSequential()) && !t->device->reset()) {
                // A resumed run sends the body again from its first byte, or not at all.
                finish(urlError(kURLErrorRequestBodyStreamExhausted, cannotResend(*t->device), request.url));
                return;
            }
            t->expectedUpload = request.bodyLength >= 0 ? request.bodyLength
                                : (!t->device->isSequential() || t->device->size() > 0) ? t->device->size()
                                                                                         : -1;
        } else {
            t->body = request.body;
            t->expectedUpload = t->body.size();
        }
        if (post) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t->expectedUpload));
        } else {
            curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(t->expectedUpload));
        }
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &Transfer::onRead);
        curl_easy_setopt(e, CURLOPT_READDATA, t);
        curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
        curl_easy_setopt(e, CURLOPT_SEEKDATA, t);
    } else if (method == "POST" || method == "PUT") {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, 0L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, "");
    }

    bool hasExpect = false, hasType = false;
    for (const auto& [name, value] : request.headers) {
        hasExpect = hasExpect || name.compare("Expect", Qt::CaseInsensitive) == 0;
        hasType = hasType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        const QByteArray line = value.isEmpty() ? name + ";" : name + ": " + value;
        t->headerList = curl_slist_append(t->headerList, line.constData());
    }
    if (!hasExpect)  // a platform connection sends the body at once, without waiting for 100 Continue
        t->headerList = curl_slist_append(t->headerList, "Expect:");
    // curl would otherwise call the body a form, and an empty POSTFIELDS one too: no body, no type.
    if ((post || method == "PUT") && !hasType)
        t->headerList = curl_slist_append(t->headerList, "Content-Type:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);

    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t);

    transfer_ = std::move(transfer);
    NetworkThread::instance().add(e, [this, t](CURLcode code) { transferEnded(t, int(code)); });
}

void URLConnectionOperation::transferEnded(Transfer* transfer, int code) {
    if (transfer_.get() != transfer)
        return;  // a run that a pause or cancel already dropped
    std::unique_ptr<Transfer> ended = std::move(transfer_);
    if (code == CURLE_OK) {
        ended->commitHead();
        finish(std::nullopt);
        return;
    }
    if (ended->bodyFailure) {
        finish(urlError(ended->bodyFailure->first, ended->bodyFailure->second, ended->url));
        return;
    }
    QString description = QString::fromUtf8(ended->errorBuffer);
    if (description.isEmpty())
        description = QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
    finish(urlError(urlErrorCode(CURLcode(code)), description, ended->url));
}

void URLConnectionOperation::finish(std::optional<platform::Error> error) {
    std::function<void()> completion;
    std::shared_ptr<URLConnectionOperation> keep;
    {
        std::lock_guard guard(lock_);
        if (!setState(Finished))
            return;
        if (error)
            error_ = std::move(error);
        if (!output_)
            responseData_ = received_buffer_;
        else if (output_->isOpen())
            output_->close();
        // Dropped once run, so blocks that hold the operation do not keep it alive forever.
        completion = std::move(completion_);
        completion_ = nullptr;
        keep = std::move(self_);
    }
    if (completion)
        completion();
}

HTTPRequest URLConnectionOperation::request() const {
    std::lock_guard guard(lock_);
    return request_;
}

void URLConnectionOperation::setRequest(HTTPRequest request) {
    std::lock_guard guard(lock_);
    request_ = std::move(request);
}

std::optional<HTTPResponse> URLConnectionOperation::response() const {
    std::lock_guard guard(lock_);
    return response_;
}

QByteArray URLConnectionOperation::responseData() const {
    std::lock_guard guard(lock_);
    return responseData_;
}

QByteArray URLConnectionOperation::responseStringEncoding() {
    std::lock_guard guard(lock_);
    if (response_) {
        const QString name = response_->textEncodingName();
        if (!name.isEmpty()) {
            QStringDecoder decoder(name.toLatin1().constData());
            return decoder.isValid() ? name.toLatin1() : QByteArrayLiteral("UTF-8");
        }
    }
    return QByteArrayLiteral("UTF-8");
}

QString URLConnectionOperation::responseString() {
    std::lock_guard guard(lock_);
    if (!responseString_ && !responseData_.isEmpty()) {
        QStringDecoder decoder(responseStringEncoding().constData());
        responseString_ = decoder.isValid() ? decoder.decode(responseData_) : QString::fromUtf8(responseData_);
    }
    return responseString_.value_or(QString());
}

std::optional<platform::Error> URLConnectionOperation::transportError() const {
    std::lock_guard guard(lock_);
    return error_;
}

void URLConnectionOperation::setCredential(std::optional<Credential> credential) {
    std::lock_guard guard(lock_);
    credential_ = std::move(credential);
}

void URLConnectionOperation::setAllowsInvalidSSLCertificate(bool allows) {
    std::lock_guard guard(lock_);
    allowsInvalidSSLCertificate_ = allows;
}

bool URLConnectionOperation::allowsInvalidSSLCertificate() const {
    std::lock_guard guard(lock_);
    return allowsInvalidSSLCertificate_;
}

void URLConnectionOperation::setUploadProgressBlock(ProgressBlock block) {
    std::lock_guard guard(upload_->mutex);
    upload_->block = std::move(block);
}

void URLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
    std::lock_guard guard(download_->mutex);
    download_->block = std::move(block);
}

void URLConnectionOperation::setStartHook(std::function<void(HTTPRequest&)> hook) {
    std::lock_guard guard(lock_);
    startHook_ = std::move(hook);
}

void URLConnectionOperation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard guard(lock_);
    completion_ = std::move(block);
}

void URLConnectionOperation::setOutputDevice(std::shared_ptr<QIODevice> device) {
    std::lock_guard guard(lock_);
    output_ = std::move(device);
}

} // namespace qm::net
