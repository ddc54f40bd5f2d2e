#pragma once

// What an HTTP operation reported, for tests against the test server:
//
//     auto outcome = qm::test::run(JSONRequestOperation::create(request));   // start, wait for the end
//     ASSERT_EQ(outcome->failures, 1);
//
// The blocks fit every operation kind (the plain and the decoding ones) and the client's verbs.

#include "net/http_request_operation.h"
#include "platform/dispatch.h"
#include "support/test_support.h"

#include <QVariant>
#include <atomic>
#include <memory>
#include <optional>
#include <type_traits>

namespace qm::test {

struct Outcome {
    std::atomic<int> successes{0}, failures{0};
    std::optional<platform::Error> error;
    QVariant object; // the success's response object, or the decoded body a failure carries
    bool onMainThread = false;

    int total() const { return successes + failures; }
    bool wait(int timeoutMs = 5000) const {
        return waitUntil([this] { return total() > 0; }, timeoutMs);
    }
    // The status of the response a failure carries; 0 without one.
    long failingStatus() const {
        if (!error)
            return 0;
        const QVariant response =
            error->userInfo.value(QString::fromLatin1(net::kFailingURLResponseErrorKey));
        return response.value<net::HTTPResponse>().statusCode;
    }
};

template <class T> void keepObject(Outcome& outcome, const T& object) {
    if constexpr (std::is_convertible_v<T, QVariant>)
        outcome.object = object;
}

inline auto successBlock(const std::shared_ptr<Outcome>& outcome) {
    return [outcome](auto&, const auto& object) {
        keepObject(*outcome, object);
        outcome->onMainThread = platform::dispatch::isMainThread();
        ++outcome->successes;
    };
}

inline auto failureBlock(const std::shared_ptr<Outcome>& outcome) {
    return [outcome](auto&, const platform::Error& error, const auto&... decoded) {
        outcome->error = error;
        (keepObject(*outcome, decoded), ...);
        outcome->onMainThread = platform::dispatch::isMainThread();
        ++outcome->failures;
    };
}

template <class Op> std::shared_ptr<Outcome> watch(Op& op) {
    auto outcome = std::make_shared<Outcome>();
    op.setCompletionBlockWithSuccess(successBlock(outcome), failureBlock(outcome));
    return outcome;
}

// Starts the operation and waits on the event loop until it has reported.
template <class Op> std::shared_ptr<Outcome> run(const std::shared_ptr<Op>& op, int timeoutMs = 5000) {
    auto outcome = watch(*op);
    op->start();
    outcome->wait(timeoutMs);
    return outcome;
}

} // namespace qm::test
