#include "platform/url_relay.h"
#include "support/test_support.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

// Each test gets a runtime folder of its own, so a real desktop program of the user is never met.
class UrlRelayTest : public ::testing::Test {
protected:
    UrlRelayTest()
        : saved_(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }
    ~UrlRelayTest() override {
        saved_.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved_);
    }

    // Sends from another thread: the sender blocks, the listener needs this thread's event loop.
    static platform::Result<void> sendWhileListening(const QString& url) {
        auto sent = std::async(std::launch::async, [url] { return platform::UrlRelay::send(url, 3000); });
        waitUntil([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return sent.get();
    }

    QTemporaryDir runtime_;
    QByteArray saved_;
};

TEST_F(UrlRelayTest, AListenerTakesTheUrlInAFolderOfTheUserAlone) {
    QStringList received;
    platform::UrlRelay relay([&](const QString& url) { received.append(url); });
    ASSERT_TRUE(relay.listen());
    EXPECT_TRUE(sendWhileListening(QStringLiteral("quillmoor://box-redirect?state=x&code=abc")));
    ASSERT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received, QStringList{QStringLiteral("quillmoor://box-redirect?state=x&code=abc")});
    const QFileInfo folder(QFileInfo(platform::UrlRelay::socketPath()).path());
    EXPECT_EQ(folder.permissions() &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::ExeGroup | QFile::ExeOther),
              QFile::Permissions());
}

TEST_F(UrlRelayTest, WithoutAListenerTheSenderIsToldSo) {
    const auto sent = platform::UrlRelay::send(QStringLiteral("quillmoor://x"), 500);
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error().code, platform::UrlRelay::NobodyListens);
    EXPECT_TRUE(
        sent.error().localizedDescription.contains(QStringLiteral("no Quillmoor program is waiting")));
}

TEST_F(UrlRelayTest, OneListenerAtATimeAndALeftSocketIsTakenOver) {
    {
        platform::UrlRelay first([](const QString&) {});
        ASSERT_TRUE(first.listen());
        platform::UrlRelay second([](const QString&) {});
        const auto refused = second.listen();
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, platform::UrlRelay::AlreadyListening);
    }
    // Something left in the socket's place by a program that is gone, as after a crash.
    QFile left(platform::UrlRelay::socketPath());
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.close();
    QString received;
    platform::UrlRelay relay([&](const QString& url) { received = url; });
    ASSERT_TRUE(relay.listen());
    EXPECT_TRUE(sendWhileListening(QStringLiteral("db-key://1/connect?code=z")));
    EXPECT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
}

} // namespace
} // namespace qm::test
