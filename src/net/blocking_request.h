#pragma once

#include "net/url_connection_operation.h"
#include "platform/result.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace qm::net {

// The final answer of a blocking request: its head and its whole body.
struct BlockingResponse {
    HTTPResponse response;
    QByteArray body;
};

// Runs requests to their end on the calling thread, for clients specified as blocking calls. Pool
// threads only: on the main thread a call is refused without sending anything, since it would stop the
// event loop. Every status is an answer; only transport failures, cancellation and that refusal are
// errors. cancel(), from any other thread, ends a blocked call promptly with the cancellation error
// (-999) and refuses every later one: cancel belongs to the whole sequence of calls, not to one.
class BlockingRequestRunner {
public:
    BlockingRequestRunner() = default;
    BlockingRequestRunner(const BlockingRequestRunner&) = delete;
    BlockingRequestRunner& operator=(const BlockingRequestRunner&) = delete;
    ~BlockingRequestRunner();

    platform::Result<BlockingResponse> run(HTTPRequest request,
                                           std::optional<Credential> credential = std::nullopt);
    void cancel();
    bool isCancelled() const;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<URLConnectionOperation> current_;
    bool cancelled_ = false;
};

} // namespace qm::net
