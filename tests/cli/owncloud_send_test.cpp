#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "servers/owncloud/fake_owncloud.h"
#include "services/owncloud/owncloud_uploader.h"
#include "support/test_support.h"
#include "uploaders/service_id.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

// A whole message through `quillmoor`: linked to an ownCloud server, sent, with the attachments stored in
// its WebDAV folder and the message carrying their download links.
class OwnCloudSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        runner.services.registerService(
            std::make_unique<upload::OwnCloudUploaderClass>(runner.serviceEnvironment, runner.bundle));
    }
    CliRunner runner;
};

TEST_F(OwnCloudSendTest, LinkThenSendStoresAttachmentsAndSendsDownloadLinks) {
    FakeOwnCloud server(QStringLiteral("/owncloud"));
    runner.setInput(server.password().toUtf8() + '\n');
    ASSERT_EQ(
        runner.run({QStringLiteral("link"), QStringLiteral("owncloud"), QStringLiteral("--server"),
                    server.url(QStringLiteral("/owncloud")), QStringLiteral("--login"), server.user(),
                    QStringLiteral("--password-stdin"), QStringLiteral("--folder"), QStringLiteral("Mail")}),
        0)
        << runner.err().toStdString();
    EXPECT_TRUE(server.hasFolder(QStringLiteral("/Mail")));
    EXPECT_FALSE(server.hasFile(QStringLiteral("/Mail/dummy.bin")));
    EXPECT_TRUE(runner.settings.boolForKey(QString::fromLatin1(accounts::keys::ownCloudLinked)));

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();

    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    EXPECT_EQ(server.file(QStringLiteral("/Mail/report.pdf")), fixturePdf());
    int shares = 0;
    for (const auto& request : server.log().all())
        if (request.method == "POST")
            ++shares;
    ASSERT_GT(shares, 0);
    for (int id = 1; id <= shares; ++id) {
        const QString link = server.shareURL(id) + QStringLiteral("&download");
        QString escaped = link;
        escaped.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
        EXPECT_TRUE(message.html.contains(link) || message.html.contains(escaped))
            << link.toStdString() << "\n"
            << message.html.toStdString();
    }
}

TEST_F(OwnCloudSendTest, WrongPasswordDoesNotLink) {
    FakeOwnCloud server;
    runner.setInput("wrong\n");
    EXPECT_NE(runner.run({QStringLiteral("link"), QStringLiteral("owncloud"), QStringLiteral("--server"),
                          server.url(), QStringLiteral("--login"), server.user(),
                          QStringLiteral("--password-stdin")}),
              0);
    EXPECT_FALSE(runner.settings.boolForKey(QString::fromLatin1(accounts::keys::ownCloudLinked)));
    EXPECT_FALSE(server.hasFolder(QStringLiteral("/Quillmoor")));
}

} // namespace
} // namespace qm::test::cli
