#include "net/blocking_request.h"

#include "net/net_error.h"
#include "platform/dispatch.h"

namespace qm::net {

namespace {

platform::Error cancelledBeforeStart(const QUrl& url) {
    return platform::Error(QString::fromLatin1(kURLErrorDomain), kURLErrorCancelled,
                           QStringLiteral("cancelled"), {{QString::fromLatin1(kURLErrorFailingURLKey), url}});
}

} // namespace

BlockingRequestRunner::~BlockingRequestRunner() {
    cancel();
}

platform::Result<BlockingResponse> BlockingRequestRunner::run(HTTPRequest request,
                                                              std::optional<Credential> credential) {
    if (platform::dispatch::isMainThread())
        return makeNetError(QStringLiteral("A blocking request cannot run on the main thread."));
    const QUrl url = request.url;
    auto operation = URLConnectionOperation::create(std::move(request));
    operation->setCredential(std::move(credential));
    struct Done {
        std::mutex mutex;
        std::condition_variable changed;
        bool finished = false;
    };
    auto done = std::make_shared<Done>();
    operation->setCompletionBlock([done] {
        {
            std::lock_guard guard(done->mutex);
            done->finished = true;
        }
        done->changed.notify_all();
    });
    {
        std::lock_guard guard(mutex_);
        if (cancelled_)
            return cancelledBeforeStart(url);
        current_ = operation;
    }
    // A cancel between here and start() marks the operation, which then finishes at once.
    operation->start();
    {
        std::unique_lock lock(done->mutex);
        done->changed.wait(lock, [&] { return done->finished; });
    }
    {
        std::lock_guard guard(mutex_);
        current_.reset();
    }
    if (auto error = operation->transportError())
        return *error;
    return BlockingResponse{operation->response().value_or(HTTPResponse()), operation->responseData()};
}

void BlockingRequestRunner::cancel() {
    std::shared_ptr<URLConnectionOperation> running;
    {
        std::lock_guard guard(mutex_);
        cancelled_ = true;
        running = current_;
    }
    if (running)
        running->cancel();
}

bool BlockingRequestRunner::isCancelled() const {
    std::lock_guard guard(mutex_);
    return cancelled_;
}

} // namespace qm::net
