#include "net/blocking_request.h"
#include "platform/dispatch.h"
#include "support/test_server.h"
#include "support/test_support.h"

#include <QElapsedTimer>
#include <atomic>
#include <gtest/gtest.h>

using namespace qm::net;
using namespace std::chrono_literals;
using qm::test::waitUntil;

namespace {

using Answer = std::optional<qm::platform::Result<BlockingResponse>>;

// Runs one call of `runner` on a pool thread; `done` turns true once it returned into `answer`.
void runOnPool(BlockingRequestRunner& runner, const QUrl& url, Answer& answer, std::atomic<bool>& done) {
    done = false;
    qm::platform::dispatch::onGlobalPool([&runner, url, &answer, &done] {
        answer.emplace(runner.run(HTTPRequest(url)));
        done = true;
    });
}

} // namespace

TEST(BlockingRequestRunner, AnswersOnPoolThreadsRefusesTheMainOneAndCancelsPromptly) {
    qm::test::TestServer server;
    server.route("GET", "/info", [](const httplib::Request&, httplib::Response& res) {
        res.status = 202;
        res.set_content("<ok/>", "text/xml");
    });
    BlockingRequestRunner runner;
    EXPECT_FALSE(runner.run(HTTPRequest(server.url("/info")))); // would stop the event loop
    EXPECT_EQ(server.log().size(), 0u);

    Answer answer;
    std::atomic<bool> done{false};
    runOnPool(runner, server.url("/info"), answer, done);
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    ASSERT_TRUE(*answer) << answer->error().localizedDescription.toStdString();
    EXPECT_EQ((*answer)->response.statusCode, 202);
    EXPECT_EQ((*answer)->body, "<ok/>");

    // A call blocked on a stalled server ends as soon as another thread cancels, and so does every later one.
    server.setFault(qm::test::Fault::stall(10s));
    runOnPool(runner, server.url("/info"), answer, done);
    ASSERT_TRUE(waitUntil([&] { return server.log().size() == 2; }));
    QElapsedTimer clock;
    clock.start();
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return done.load(); }, 2000));
    EXPECT_LT(clock.elapsed(), 1000);
    ASSERT_FALSE(*answer);
    EXPECT_EQ(answer->error().code, kURLErrorCancelled);
    runOnPool(runner, server.url("/info"), answer, done);
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));
    EXPECT_EQ(answer->error().code, kURLErrorCancelled);
    EXPECT_EQ(server.log().size(), 2u);
}
