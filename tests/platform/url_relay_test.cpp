#include "platform/url_relay.h"
#include "support/test_support.h"

#include <QDir>
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
    const QFileInfo folder(platform::UrlRelay::folder());
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

TEST_F(UrlRelayTest, EveryListenerReceivesAndThoseGoneAreLeftOut) {
    QStringList first, second;
    auto one = std::make_unique<platform::UrlRelay>([&](const QString& url) { first.append(url); });
    auto two = std::make_unique<platform::UrlRelay>([&](const QString& url) { second.append(url); });
    ASSERT_TRUE(one->listen());
    ASSERT_TRUE(two->listen());
    EXPECT_NE(one->path(), two->path());
    EXPECT_TRUE(sendWhileListening(QStringLiteral("quillmoor://box-redirect?state=a&code=1")));
    ASSERT_TRUE(waitUntil([&] { return !first.isEmpty() && !second.isEmpty(); }));
    EXPECT_EQ(first, second);

    // Left by a program that is gone, as after a crash.
    const QString left = QDir(platform::UrlRelay::folder()).filePath(QStringLiteral("url-relay.1.dead"));
    writeFile(left, {});
    one.reset();
    EXPECT_TRUE(sendWhileListening(QStringLiteral("db-key://1/connect?code=z")));
    ASSERT_TRUE(waitUntil([&] { return second.size() == 2; }));
    EXPECT_EQ(first.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(left));

    two.reset();
    const auto sent = platform::UrlRelay::send(QStringLiteral("quillmoor://x"), 500);
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error().code, platform::UrlRelay::NobodyListens);
    EXPECT_TRUE(QDir(platform::UrlRelay::folder())
                    .isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot));
}

} // namespace
} // namespace qm::test
