#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests that use timers, queued calls or the thread pool need a running application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
