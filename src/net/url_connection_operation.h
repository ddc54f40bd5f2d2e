#pragma once

#include "net/http_request.h"
#include "platform/error.h"

#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace qm::net {

// The platform URL error domain and the codes this layer produces in it.
inline constexpr auto kURLErrorDomain = "NSURLErrorDomain";
inline constexpr int kURLErrorUnknown = -1;
inline constexpr int kURLErrorCancelled = -999;
inline constexpr int kURLErrorTimedOut = -1001;
inline constexpr int kURLErrorCannotFindHost = -1003;
inline constexpr int kURLErrorCannotConnectToHost = -1004;
inline constexpr int kURLErrorNetworkConnectionLost = -1005;
inline constexpr int kURLErrorHTTPTooManyRedirects = -1007;
inline constexpr int kURLErrorRequestBodyStreamExhausted = -1021;
inline constexpr int kURLErrorSecureConnectionFailed = -1200;
inline constexpr int kURLErrorServerCertificateUntrusted = -1202;
inline constexpr auto kURLErrorFailingURLKey = "NSErrorFailingURLKey";

struct Credential {
    QString user;
    QString password;
};

// Bytes since the last call, total bytes, total expected (-1 when unknown).
using ProgressBlock = std::function<void(qint64, qint64, qint64)>;

// One HTTP exchange run on the network thread. Own it through a shared_ptr (create()): a running
// operation keeps itself alive until it finishes.
//
//   READY (1) ---start---> EXECUTING (2) ---ends, fails, cancelled---> FINISHED (3)
//     |   ^                    |                                            ^
//   pause resume             pause                                          |
//     v   |                    |                                            |
//   PAUSED (-1) <--------------+                                            |
//                                                                           |
//   READY (1), cancelled ---start---------------------------------------------+
//
// Any other change is ignored; nothing leaves FINISHED, so each operation reports exactly once.
class URLConnectionOperation : public std::enable_shared_from_this<URLConnectionOperation> {
public:
    enum State : qint16 { Paused = -1, Ready = 1, Executing = 2, Finished = 3 };
    // Carried for callers; pinning is never enabled, so only None is acted on.
    enum SSLPinningMode {
        SSLPinningModeNone = 0,
        SSLPinningModePublicKey = 1,
        SSLPinningModeCertificate = 2
    };

    static std::shared_ptr<URLConnectionOperation> create(HTTPRequest request) {
        return std::shared_ptr<URLConnectionOperation>(new URLConnectionOperation(std::move(request)));
    }
    virtual ~URLConnectionOperation();

    void start();
    // Virtual, so a subclass's own clean-up runs however the operation is held.
    virtual void cancel();
    virtual void pause();
    void resume();

    State state() const;
    bool isReady() const { return state() == Ready; }
    bool isExecuting() const { return state() == Executing; }
    bool isFinished() const { return state() == Finished; }
    bool isPaused() const { return state() == Paused; }
    bool isCancelled() const;
    bool isConcurrent() const { return true; }

    HTTPRequest request() const;
    void setRequest(HTTPRequest request);
    std::optional<HTTPResponse> response() const;
    QByteArray responseData() const;
    QString responseString();
    virtual QByteArray responseStringEncoding();
    // Transport failure or cancellation.
    std::optional<platform::Error> transportError() const;

    void setCredential(std::optional<Credential> credential);
    bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_; }
    void setShouldUseCredentialStorage(bool use) { shouldUseCredentialStorage_ = use; }
    void setSSLPinningMode(SSLPinningMode mode) { pinningMode_ = mode; }
    SSLPinningMode sslPinningMode() const { return pinningMode_; }
    void setAllowsInvalidSSLCertificate(bool allows);
    bool allowsInvalidSSLCertificate() const;
    QVariantMap userInfo;

    // Progress reaches the main thread with at most one report waiting at a time: reports that arrive
    // while one waits are folded into it, so a fast transfer cannot flood the event loop.
    void setUploadProgressBlock(ProgressBlock block);
    void setDownloadProgressBlock(ProgressBlock block);
    // Runs on the starting thread each time the operation starts (a resume too), just before the transfer
    // is handed to the network thread; what it changes in the request is what goes on the wire.
    void setStartHook(std::function<void(HTTPRequest&)> hook);
    // Runs once when the operation finishes, on the thread that finished it (usually the network one).
    void setCompletionBlock(std::function<void()> block);
    // Received body bytes go here instead of memory; responseData then stays empty.
    void setOutputDevice(std::shared_ptr<QIODevice> device);

protected:
    explicit URLConnectionOperation(HTTPRequest request);

    mutable std::recursive_mutex lock_;
    qint64 bytesReceived() const { return received_.load(); }
    // Network thread, after a pause has stopped the transfer and no more bytes can arrive.
    virtual void didPause() {}

private:
    struct Transfer;
    struct Progress;

    bool setState(State next); // under lock_
    void runStartHook();
    void startOnNetworkThread(std::shared_ptr<URLConnectionOperation> self);
    void cancelOnNetworkThread();
    void dropTransfer();
    void finish(std::optional<platform::Error> error);
    void transferEnded(Transfer* transfer, int code);
    platform::Error cancellationError() const;

    HTTPRequest request_;
    std::optional<HTTPResponse> response_;
    QByteArray responseData_;
    std::optional<QString> responseString_;
    std::optional<platform::Error> error_;
    State state_ = Ready;
    bool cancelled_ = false;
    std::optional<Credential> credential_;
    bool shouldUseCredentialStorage_ = true;
    SSLPinningMode pinningMode_ = SSLPinningModeNone;
    bool allowsInvalidSSLCertificate_ = false;
    std::function<void()> completion_;
    std::function<void(HTTPRequest&)> startHook_;
    std::shared_ptr<QIODevice> output_;
    std::shared_ptr<Progress> upload_, download_;

    // Network thread only.
    std::unique_ptr<Transfer> transfer_;
    bool bodyRead_ = false; // by an earlier run, which a resumed one must undo
    QByteArray received_buffer_;
    std::atomic<qint64> received_{0};
    // Keeps a running operation alive until it finishes.
    std::shared_ptr<URLConnectionOperation> self_;
};

} // namespace qm::net
