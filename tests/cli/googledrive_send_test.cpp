#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "servers/googledrive/fake_googledrive.h"
#include "services/googledrive/googledrive_uploader.h"
#include "support/test_server.h"
#include "support/test_support.h"

#include <QFile>
#include <QTimer>
#include <QUrlQuery>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qm::test::cli {
namespace {

namespace keys = accounts::keys;

// Whole messages through `quillmoor` with Google Drive: attachments stored in the Drive folder, the message
// carrying their download links; or, when Drive fails, no message at all and nothing left behind.
class GoogleDriveSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        drive.exportEnvironment();
        auto serviceClass = std::make_unique<upload::GoogleDriveUploaderClass>(
            runner.serviceEnvironment, runner.bundle, [this](const QUrl& page) {
                drive.openInBrowser(page);
                return true;
            });
        serviceClass->options().backoff = std::chrono::milliseconds(10);
        serviceClass->options().chunkSize = 256 * 1024;
        runner.services.registerService(std::move(serviceClass));
    }
    void TearDown() override { drive.exportEnvironment(false); }

    // As `quillmoor link googledrive` leaves it.
    void linked() {
        drive.grantTokens("ya29.cli", "1//cli");
        ASSERT_TRUE(
            upload::gdrive::AuthorizationStore(runner.credentials, QStringLiteral("Quillmoor (GoogleDrive)"))
                .save({QStringLiteral("ya29.cli"),
                       QStringLiteral("1//cli"),
                       {},
                       QStringLiteral("ada@example.com")}));
        folder = drive.addFolder("Quillmoor", drive.rootId());
        ASSERT_TRUE(runner.settings.setObject(QString::fromStdString(folder), keys::googleDriveFolderId));
        ASSERT_TRUE(runner.settings.setInteger(7, keys::selectedService));
    }

    FakeGoogleDrive drive;
    CliRunner runner;
    std::string folder;
};

TEST_F(GoogleDriveSendTest, SendStoresTheAttachmentsAndSendsTheirDownloadLinks) {
    linked();
    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto stored = drive.filesNamed("report.pdf");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(drive.contentOf(stored[0].id), fixturePdf());
    EXPECT_EQ(stored[0].parents, std::vector<std::string>{folder});
    for (const auto& file : drive.files()) {
        EXPECT_EQ(file.permissions.size(), 1u);
        EXPECT_TRUE(message.html.contains(QString::fromStdString("id=" + file.id))) << file.name;
    }
    EXPECT_TRUE(runner.leftovers().isEmpty()) << runner.leftovers().join(u' ').toStdString();
}

TEST_F(GoogleDriveSendTest, LinkSignsInAndSelectsTheServiceUnlinkForgetsTheTokens) {
    ASSERT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("googledrive")}), 0)
        << runner.err().toStdString();
    EXPECT_EQ(runner.settings.integerForKey(QString::fromLatin1(keys::selectedService)), 7);
    EXPECT_TRUE(drive.file(
        runner.settings.stringForKey(QString::fromLatin1(keys::googleDriveFolderId)).toStdString()));
    EXPECT_TRUE(runner.services.isLinkedForService(upload::ServiceId::GoogleDrive));

    ASSERT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("googledrive")}), 0);
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::GoogleDrive));
    EXPECT_FALSE(
        upload::gdrive::AuthorizationStore(runner.credentials, QStringLiteral("Quillmoor (GoogleDrive)"))
            .load());

    qunsetenv("QUILLMOOR_GOOGLEDRIVE_KEY");
    EXPECT_NE(runner.run({QStringLiteral("link"), QStringLiteral("googledrive")}), 0);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("no application key was built in")))
        << runner.err().toStdString();
}

TEST_F(GoogleDriveSendTest, AFailingDriveSendsNothingAndLeavesNothingBehind) {
    linked();
    const QString sent = runner.path(QStringLiteral("sent.eml"));
    const std::vector<std::pair<std::function<void()>, QString>> faults{
        {[&] { drive.failNextChunks(FakeGoogleDrive::ChunkFault::answer(400, "badRequest")); },
         QStringLiteral("Google Drive refused: Backend Error (status 400)")},
        {[&] { drive.server().setFault(Fault::malformedBody().onPath("/upload/")); },
         QStringLiteral("Google Drive sent an answer Quillmoor cannot read.")},
        {[&] { drive.server().setFault(Fault::status(500).onPath("/drive/v3/files/").times(10)); },
         QStringLiteral("did not share")}};
    for (const auto& [arrange, message] : faults) {
        drive.server().clearFaults();
        arrange();
        EXPECT_NE(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0);
        EXPECT_FALSE(QFile::exists(sent));
        EXPECT_EQ(runner.err().count(message), 1) << runner.err().toStdString(); // one message, once
        EXPECT_TRUE(runner.leftovers().isEmpty());
    }

    // Not linked at all: refused before anything is uploaded.
    runner.services.setIsLinked(false, upload::ServiceId::GoogleDrive);
    EXPECT_NE(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0);
    EXPECT_FALSE(QFile::exists(sent));
}

// `quillmoor link googledrive` through the terminal's own sign-in: $BROWSER is a script that plays the
// user's browser (curl follows the sign-in page to the loopback address).
TEST(GoogleDriveLinkTest, LinkOpensTheSignInPageInTheBrowserAndHearsTheAnswerOnTheLoopback) {
    FakeGoogleDrive drive;
    drive.exportEnvironment();
    CliRunner runner;
    runner.services.registerService(
        std::make_unique<upload::GoogleDriveUploaderClass>(runner.serviceEnvironment, runner.bundle));
    const QString browser = runner.path(QStringLiteral("browser.sh"));
    writeFile(browser, "#!/bin/sh\nexec curl -s -o /dev/null -L \"$1\"\n");
    QFile::setPermissions(browser, QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray savedBrowser = qgetenv("BROWSER"), savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("BROWSER", browser.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runner.path(QString()).toUtf8());
    const int status = runner.run({QStringLiteral("link"), QStringLiteral("googledrive")});
    savedBrowser.isNull() ? qunsetenv("BROWSER") : qputenv("BROWSER", savedBrowser);
    savedRuntime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", savedRuntime);
    drive.exportEnvironment(false);
    ASSERT_EQ(status, 0) << runner.err().toStdString() << runner.out().toStdString();
    EXPECT_TRUE(runner.services.isLinkedForService(upload::ServiceId::GoogleDrive));
    EXPECT_EQ(drive.lastAuthorizeParams().at("code_challenge_method"), "S256");
    EXPECT_TRUE(drive.file(
        runner.settings.stringForKey(QString::fromLatin1(keys::googleDriveFolderId)).toStdString()));
}

// `quillmoor link googledrive --no-browser`, for a machine without a desktop: the program prints the sign-in
// address; the person signs in on another machine and pastes the address the browser ended at (a loopback
// address that answers nothing there), or only the code it carries.
TEST(GoogleDriveLinkTest, WithoutBrowserThePastedRedirectOrItsBareCodeLinks) {
    FakeGoogleDrive drive;
    drive.exportEnvironment();
    CliRunner runner;
    runner.services.registerService(
        std::make_unique<upload::GoogleDriveUploaderClass>(runner.serviceEnvironment, runner.bundle));
    const upload::gdrive::AuthorizationStore stored(runner.credentials,
                                                    QStringLiteral("Quillmoor (GoogleDrive)"));
    const QString prompt = QStringLiteral("Open this address in a web browser: ");
    for (const bool bareCode : {false, true}) {
        SCOPED_TRACE(bareCode ? "code" : "address");
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        runner.inputFd = input[0];
        // The person, while the program waits: reads the address, signs in, types the answer.
        QTimer person;
        QObject::connect(&person, &QTimer::timeout, [&] {
            const qsizetype at = runner.err().indexOf(prompt);
            if (at < 0)
                return;
            person.stop();
            const QUrl page(runner.err().mid(at + prompt.size()).section(u'\n', 0, 0).trimmed());
            const QUrl redirect(followSignInPage(page));
            const QByteArray line =
                (bareCode ? QUrlQuery(redirect).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded)
                          : redirect.toString())
                    .toUtf8() +
                '\n';
            EXPECT_EQ(::write(input[1], line.constData(), size_t(line.size())), line.size());
        });
        person.start(20);
        const int status = runner.run(
            {QStringLiteral("link"), QStringLiteral("googledrive"), QStringLiteral("--no-browser")});
        ::close(input[0]);
        ::close(input[1]);
        ASSERT_EQ(status, 0) << runner.err().toStdString();
        EXPECT_TRUE(runner.err().contains(QStringLiteral("paste the address")));
        EXPECT_TRUE(stored.load().value_or(upload::gdrive::Authorization()).isSignedIn());
        EXPECT_TRUE(runner.services.isLinkedForService(upload::ServiceId::GoogleDrive));
        EXPECT_EQ(runner.settings.integerForKey(QString::fromLatin1(keys::selectedService)), 7);
        ASSERT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("googledrive")}), 0);
        EXPECT_FALSE(stored.load());
    }
    drive.exportEnvironment(false);
}

} // namespace
} // namespace qm::test::cli
