#include "net/url_connection_operation.h"

#include "net/curl_easy.h"
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
struct URLConnectionOperation::Transfer final : CurlEasy::Handler {
    URLConnectionOperation* operation = nullptr;
    CurlEasy curl{*this};
    QUrl url;
    QByteArray body;
    qint64 bodyOffset = 0;
    std::shared_ptr<QIODevice> device;
    qint64 expectedUpload = -1;
    qint64 lastUp = 0, lastDown = 0;
    long status = 0;
    HeaderList responseHeaders;
    // The last complete head. It becomes the response only once its body arrives or the exchange ends:
    // until then it may be a redirect or a challenge that curl answers with another request.
    std::optional<HTTPResponse> head;
    // Why the body device stopped the transfer; says more than curl's text for it.
    std::optional<std::pair<int, QString>> bodyFailure;

    void commitHead() {
        if (!head)
            return;
        std::lock_guard guard(operation->lock_);
        operation->response_ = std::move(head);
        head.reset();
    }

    // The steps of setting up one run, in order; false (with the operation finished) when it cannot run.
    void setConnection(const HTTPRequest& request, bool allowInvalid);
    void setCredential(const std::optional<Credential>& credential);
    bool setMethodAndBody(const HTTPRequest& request, const QByteArray& method);
    void setHeaders(const HTTPRequest& request, const QByteArray& method);

    void headerLine(QByteArrayView data) override {
        const QByteArray line = data.toByteArray().trimmed();
        if (line.startsWith("HTTP/")) {
            // Each head (interim, redirect, auth retry, final) starts afresh.
            const QList<QByteArray> parts = line.split(' ');
            status = parts.size() > 1 ? parts[1].toLong() : 0;
            responseHeaders.clear();
        } else if (line.isEmpty()) {
            if (status >= 200) {
                HTTPResponse response;
                response.statusCode = status;
                const char* effective = nullptr;
                curl_easy_getinfo(curl.get(), CURLINFO_EFFECTIVE_URL, &effective);
                response.url = effective ? QUrl::fromEncoded(effective) : url;
                response.headers = responseHeaders;
                head = std::move(response);
            }
        } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
            responseHeaders.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
    }

    bool bodyBytes(const char* data, qint64 length) override {
        URLConnectionOperation* op = operation;
        commitHead();
        std::shared_ptr<QIODevice> output;
        {
            std::lock_guard guard(op->lock_);
            output = op->output_;
        }
        if (output) {
            if (!output->isOpen())
                output->open(QIODevice::WriteOnly);
            if (output->write(data, length) != length)
                return false; // fails the transfer with a write error
        } else {
            op->received_buffer_.append(data, length);
        }
        op->received_ += length;
        return true;
    }

    qint64 readBody(char* buffer, qint64 wanted) override {
        if (device) {
            operation->bodyRead_ = true;
            const qint64 got = device->read(buffer, wanted);
            if (got < 0)
                bodyFailure = {kURLErrorUnknown, device->errorString()};
            return got;
        }
        const qint64 got = std::min(wanted, body.size() - bodyOffset);
        std::memcpy(buffer, body.constData() + bodyOffset, size_t(got));
        bodyOffset += got;
        return got;
    }

    // Redirects and authentication retries send the body again from the start.
    bool seekBody(qint64 offset) override {
        if (!device) {
            bodyOffset = std::min<qint64>(offset, body.size());
            return true;
        }
        // A sequential device can only start over, through reset(), and only if it knows how.
        const bool sequential = device->isSequential();
        if ((!sequential || offset == 0) && (sequential ? device->reset() : device->seek(offset)))
            return true;
        bodyFailure = {kURLErrorRequestBodyStreamExhausted, cannotResend(*device)};
        return false;
    }

    bool progress(qint64 downTotal, qint64 downNow, qint64 upNow) override {
        URLConnectionOperation* op = operation;
        if (upNow > lastUp) {
            op->upload_->report(upNow - lastUp, upNow, expectedUpload);
            lastUp = upNow;
        }
        if (downNow > lastDown) {
            op->download_->report(downNow - lastDown, downNow, downTotal);
            lastDown = downNow;
        }
        return true;
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

// What a person can act on first, then the transfer library's own words for the details.
QString transportFailure(int urlCode, const QString& detail) {
    const char* what = "The network transfer failed.";
    switch (urlCode) {
    case kURLErrorTimedOut:
        what = "The server did not answer in time.";
        break;
    case kURLErrorCannotFindHost:
        what = "The server's name could not be found.";
        break;
    case kURLErrorCannotConnectToHost:
        what = "Could not connect to the server.";
        break;
    case kURLErrorNetworkConnectionLost:
        what = "The connection to the server was lost.";
        break;
    case kURLErrorHTTPTooManyRedirects:
        what = "The server redirected too many times.";
        break;
    case kURLErrorSecureConnectionFailed:
    case kURLErrorServerCertificateUntrusted:
        what = "A secure connection to the server could not be made.";
        break;
    default:
        break;
    }
    return QStringLiteral("%1 (%2)").arg(QString::fromLatin1(what), detail);
}

} // namespace

URLConnectionOperation::URLConnectionOperation(HTTPRequest request)
    : request_(std::move(request))
    , upload_(std::make_shared<Progress>())
    , download_(std::make_shared<Progress>()) {}

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
            return; // a ready operation finishes when started; a paused one has no connection
    }
    dropTransfer();
    finish(cancellationError());
}

void URLConnectionOperation::dropTransfer() {
    if (transfer_) {
        NetworkThread::instance().remove(transfer_->curl.get());
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
            return; // paused or finished before the network thread got here
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
    const QByteArray method = request.method.toUpper();
    t->setConnection(request, allowInvalid);
    t->setCredential(credential);
    if (!t->setMethodAndBody(request, method)) {
        // A resumed run sends the body again from its first byte, or not at all.
        finish(urlError(kURLErrorRequestBodyStreamExhausted, cannotResend(*t->device), request.url));
        return;
    }
    t->setHeaders(request, method);
    transfer_ = std::move(transfer);
    NetworkThread::instance().add(t->curl.get(), [this, t](CURLcode code) { transferEnded(t, int(code)); });
}

void URLConnectionOperation::Transfer::setConnection(const HTTPRequest& request, bool allowInvalid) {
    curl.setURL(request.url.toEncoded());
    curl.set(CURLOPT_PROTOCOLS_STR, "http,https");
    curl.set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl.set(CURLOPT_FOLLOWLOCATION, 1L);
    curl.set(CURLOPT_MAXREDIRS, 16L);
    curl.set(CURLOPT_SHARE, NetworkThread::instance().share());
    curl.set(CURLOPT_COOKIEFILE, "");
    curl.set(CURLOPT_ACCEPT_ENCODING, "");
    // Like a platform request timeout this bounds idle time, not the whole (possibly long) upload.
    curl.setTimeouts(request.timeout, std::chrono::seconds((request.timeout.count() + 999) / 1000));
    // Pinning modes are carried but never enabled, so only the default evaluation and its opt-out exist.
    curl.set(CURLOPT_SSL_VERIFYPEER, allowInvalid ? 0L : 1L);
    curl.set(CURLOPT_SSL_VERIFYHOST, allowInvalid ? 0L : 2L);
}

void URLConnectionOperation::Transfer::setCredential(const std::optional<Credential>& credential) {
    if (!credential)
        return;
    // Offered only once a 401 names a scheme; a second 401 ends the exchange with that response.
    curl.set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
    // A challenge is answered on whatever host a redirect lands on (a storage host sending the client
    // on to an API host that asks for Digest), as a platform connection asks its delegate for each one.
    curl.set(CURLOPT_UNRESTRICTED_AUTH, 1L);
    curl.set(CURLOPT_USERNAME, credential->user.toUtf8().constData());
    curl.set(CURLOPT_PASSWORD, credential->password.toUtf8().constData());
}

bool URLConnectionOperation::Transfer::setMethodAndBody(const HTTPRequest& request,
                                                        const QByteArray& method) {
    // curl's own POST and PUT, because a custom method string would outlive a 303 (or a 301/302 after a
    // POST) that must go on as a GET.
    const bool post = method == "POST";
    const bool put = method == "PUT" && request.hasBody();
    if (method == "HEAD")
        curl.set(CURLOPT_NOBODY, 1L);
    else if (!post && !put && (method != "GET" || request.hasBody()))
        curl.set(CURLOPT_CUSTOMREQUEST, method.constData());
    if (!request.hasBody()) {
        if (post)
            curl.set(CURLOPT_POST, 1L);
        if (post || method == "PUT") {
            curl.set(CURLOPT_POSTFIELDSIZE, 0L);
            curl.set(CURLOPT_POSTFIELDS, "");
        }
        return true;
    }
    if (request.bodyDevice) {
        device = request.bodyDevice;
        if (!device->isOpen())
            device->open(QIODevice::ReadOnly);
        else if ((operation->bodyRead_ || !device->isSequential()) && !device->reset())
            return false;
        expectedUpload = request.bodyLength >= 0                           ? request.bodyLength
                         : (!device->isSequential() || device->size() > 0) ? device->size()
                                                                           : -1;
    } else {
        body = request.body;
        expectedUpload = body.size();
    }
    curl.setBody(expectedUpload, post ? CurlEasy::BodyMethod::Post : CurlEasy::BodyMethod::Upload);
    return true;
}

void URLConnectionOperation::Transfer::setHeaders(const HTTPRequest& request, const QByteArray& method) {
    QList<QByteArray> lines;
    bool hasExpect = false, hasType = false;
    for (const auto& [name, value] : request.headers) {
        hasExpect = hasExpect || name.compare("Expect", Qt::CaseInsensitive) == 0;
        hasType = hasType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        lines.append(value.isEmpty() ? name + ";" : name + ": " + value);
    }
    if (!hasExpect) // a platform connection sends the body at once, without waiting for 100 Continue
        lines.append("Expect:");
    // curl would otherwise call the body a form, and an empty POSTFIELDS one too: no body, no type.
    if ((method == "POST" || method == "PUT") && !hasType)
        lines.append("Content-Type:");
    curl.setHeaders(lines);
}

void URLConnectionOperation::transferEnded(Transfer* transfer, int code) {
    if (transfer_.get() != transfer)
        return; // a run that a pause or cancel already dropped
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
    const int urlCode = urlErrorCode(CURLcode(code));
    finish(urlError(urlCode, transportFailure(urlCode, ended->curl.errorText(CURLcode(code))), ended->url));
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
        responseString_ =
            decoder.isValid() ? decoder.decode(responseData_) : QString::fromUtf8(responseData_);
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
