#include "platform/dispatch.h"
#include "support/test_support.h"

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace qm::platform {
namespace {

using test::waitUntil;

TEST(DispatchTest, WorkFromThePoolComesBackToTheMainThreadAndMainWorkRunsAtOnce) {
    std::atomic<bool> ranOffMain{false};
    bool backOnMain = false;
    dispatch::onGlobalPool([&] {
        ranOffMain = !dispatch::isMainThread();
        dispatch::onMain([&] { backOnMain = dispatch::isMainThread(); });
    });
    ASSERT_TRUE(waitUntil([&] { return backOnMain; }));
    EXPECT_TRUE(ranOffMain);

    bool ranAtOnce = false;
    dispatch::onMainNowOrLater([&] { ranAtOnce = true; });
    EXPECT_TRUE(ranAtOnce);
}

TEST(DispatchTest, AfterWaitsAndIsDroppedWithItsContext) {
    QElapsedTimer clock;
    clock.start();
    qint64 firedAt = -1;
    dispatch::after(30, [&] { firedAt = clock.elapsed(); });
    bool droppedFired = false;
    {
        QObject context;
        dispatch::after(
            10, [&] { droppedFired = true; }, &context);
    }
    ASSERT_TRUE(waitUntil([&] { return firedAt >= 0; }));
    EXPECT_GE(firedAt, 25);
    EXPECT_FALSE(droppedFired);
}

TEST(DispatchTest, OnceRunsOnceAcrossThreads) {
    std::once_flag flag;
    std::atomic<int> runs{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < 8; ++i)
        dispatch::onGlobalPool([&] {
            dispatch::once(flag, [&] { ++runs; });
            ++finished;
        });
    ASSERT_TRUE(waitUntil([&] { return finished == 8; }));
    EXPECT_EQ(runs, 1);
}

} // namespace
} // namespace qm::platform
