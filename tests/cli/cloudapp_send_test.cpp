#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "servers/cloudapp/fake_cloudapp.h"
#include "services/cloudapp/cloudapp_uploader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

namespace keys = accounts::keys;

// A whole message through `quillmoor`: CloudApp linked with e-mail and password, the attachments stored
// as items, the message carrying their share links.
class CloudAppSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("QUILLMOOR_CLOUDAPP_URL", cloud.apiURL().toEncoded());
        runner.services.registerService(
            std::make_unique<upload::CloudAppUploaderClass>(runner.serviceEnvironment));
    }
    void TearDown() override { qunsetenv("QUILLMOOR_CLOUDAPP_URL"); }

    int link(const QString& password) {
        return runner.linkWithPassword(QStringLiteral("cloudapp"), cloud.email(), password);
    }

    FakeCloudApp cloud;
    CliRunner runner;
};

TEST_F(CloudAppSendTest, LinkSendAndUnlink) {
    ASSERT_EQ(link(cloud.password()), 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.settings.boolForKey(QString::fromLatin1(keys::cloudAppLinked)));
    EXPECT_TRUE(cloud.itemNamed("dummy.bin"));

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto report = cloud.itemNamed("report.pdf");
    ASSERT_TRUE(report);
    EXPECT_EQ(QByteArray::fromStdString(report->content), fixturePdf());
    EXPECT_EQ(report->contentType, "application/pdf");
    for (const auto& item : cloud.items()) {
        if (item.name == "dummy.bin")
            continue;
        const QString link =
            cloud.apiURL().toString() + QStringLiteral("/i/") + QString::fromStdString(item.slug);
        EXPECT_TRUE(message.html.contains(link)) << link.toStdString() << "\n" << message.html.toStdString();
    }

    EXPECT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("cloudapp")}), 0)
        << runner.err().toStdString();
    EXPECT_FALSE(runner.settings.boolForKey(QString::fromLatin1(keys::cloudAppLinked)));
    EXPECT_TRUE(
        runner.credentials.passwordFromKeychainItem(QStringLiteral("Quillmoor (CloudApp)"), cloud.email())
            .isEmpty());
}

TEST_F(CloudAppSendTest, WrongPasswordDoesNotLinkAndAFailedUploadSendsNothing) {
    EXPECT_NE(link(QStringLiteral("wrong")), 0);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("did not accept"))) << runner.err().toStdString();
    EXPECT_FALSE(runner.settings.boolForKey(QString::fromLatin1(keys::cloudAppLinked)));

    ASSERT_EQ(link(cloud.password()), 0) << runner.err().toStdString();
    cloud.setUploadsRemaining(0);
    const QString sent = runner.path(QStringLiteral("sent.eml"));
    EXPECT_NE(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("daily upload limit"))) << runner.err().toStdString();
    EXPECT_FALSE(QFile::exists(sent));
    EXPECT_EQ(cloud.items().size(), 1u); // the test upload only
}

} // namespace
} // namespace qm::test::cli
