#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "support/test_support.h"
#include "support/test_uploader.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qm::test::cli {
namespace {

// `quillmoor link` of a service that signs in through the browser, with a stand-in uploader that opens
// its page through the host and links on one answer.
class BrowserSignInTest : public ::testing::Test {
protected:
    BrowserSignInTest()
        : savedRuntime_(qgetenv("XDG_RUNTIME_DIR"))
        , savedBrowser_(qgetenv("BROWSER")) {
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
        qputenv("BROWSER", "true");
        upload::ServiceDescription description =
            testDescription(upload::ServiceId::Box, QStringLiteral("TestBoxLinked"));
        description.linking = upload::Linking::Browser;
        auto service = std::make_unique<TestUploaderClass>(runner.serviceEnvironment, description);
        service->signInPage = QUrl(QStringLiteral("https://signin.example/authorize?client_id=k"));
        service->acceptedAnswer = QStringLiteral("abc");
        box = service.get();
        runner.services.registerService(std::move(service));
    }
    ~BrowserSignInTest() override {
        if (input_[0] >= 0)
            ::close(input_[0]);
        savedRuntime_.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", savedRuntime_);
        savedBrowser_.isNull() ? qunsetenv("BROWSER") : qputenv("BROWSER", savedBrowser_);
    }

    void typeLine(const QByteArray& line) {
        if (input_[0] >= 0)
            ::close(input_[0]);
        ASSERT_EQ(::pipe(input_), 0);
        ASSERT_EQ(::write(input_[1], line.constData(), static_cast<size_t>(line.size())), line.size());
        ::close(input_[1]);
        runner.inputFd = input_[0];
    }
    int linkWithoutBrowser() {
        return runner.run({QStringLiteral("link"), QStringLiteral("box"), QStringLiteral("--no-browser")});
    }
    bool linked() const { return runner.services.isLinkedForService(upload::ServiceId::Box); }

    QTemporaryDir runtime_;
    QByteArray savedRuntime_;
    QByteArray savedBrowser_;
    CliRunner runner;
    TestUploaderClass* box = nullptr;
    int input_[2] = {-1, -1};
};

TEST_F(BrowserSignInTest, APastedRedirectOrBareCodeGoesToTheUploader) {
    box->acceptedAnswer = QStringLiteral("quillmoor://box-redirect?state=s&code=abc");
    typeLine("quillmoor://box-redirect?state=s&code=abc\n");
    EXPECT_EQ(linkWithoutBrowser(), 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.err().contains(
        QStringLiteral("Open this address in a web browser: https://signin.example/authorize?client_id=k")));
    EXPECT_TRUE(linked());
    EXPECT_EQ(runner.settings.integerForKey(accounts::keys::selectedService), 6);

    runner.services.setIsLinked(false, upload::ServiceId::Box);
    box->acceptedAnswer = QStringLiteral("abc");
    typeLine("  abc\n");
    EXPECT_EQ(linkWithoutBrowser(), 0) << runner.err().toStdString();
    EXPECT_TRUE(linked());

    EXPECT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("box")}), 0);
    EXPECT_FALSE(linked());
    EXPECT_EQ(box->unlinkAllCount, 1);
}

TEST_F(BrowserSignInTest, AnAnswerThatIsNoneOfTheSignInsOrNoAnswerLinksNothing) {
    typeLine("https://elsewhere.example/\n");
    EXPECT_EQ(linkWithoutBrowser(), 1);
    EXPECT_TRUE(
        runner.err().contains(QStringLiteral("neither the address the sign-in ended at nor its code")));
    EXPECT_FALSE(linked());

    typeLine("");
    EXPECT_EQ(linkWithoutBrowser(), 1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("standard input ended")));
    EXPECT_FALSE(linked());
}

TEST_F(BrowserSignInTest, TheBrowsersRedirectArrivesThroughOpenUrl) {
    // The "browser" goes straight to the redirect, which the desktop hands to `quillmoor open-url`.
    box->signInPage = QUrl(QStringLiteral("quillmoor://box-redirect?state=s&code=abc"));
    box->acceptedAnswer = box->signInPage.toString();
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/quillmoor");
    ASSERT_TRUE(QFileInfo(program).isExecutable());
    qputenv("BROWSER", (program + QStringLiteral(" open-url %s")).toUtf8());
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("box")}), 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.err().contains(QStringLiteral("Waiting for the sign-in in the browser")));
    EXPECT_TRUE(linked());
}

TEST_F(BrowserSignInTest, TheWaitEndsAtTheTimeLimitWithNothingStored) {
    runner.signInTimeoutMilliseconds = 300;
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("box")}), 1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("no sign-in came back within 5 minutes")));
    EXPECT_FALSE(linked());
    // With nobody waiting any more, open-url says so.
    EXPECT_EQ(runner.run({QStringLiteral("open-url"), QStringLiteral("quillmoor://box-redirect?code=abc")}),
              1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("no Quillmoor program is waiting for this address")));
}

} // namespace
} // namespace qm::test::cli
