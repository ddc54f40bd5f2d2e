#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "servers/droplr/fake_droplr.h"
#include "services/droplr/droplr_uploader.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

namespace keys = accounts::keys;

// `quillmoor link droplr`, `send` and `unlink` against the fake service.
class DroplrSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.addAccount("sam@example.org", "hunter22");
        qputenv("QUILLMOOR_DROPLR_KEY", FakeDroplr::kPublicKey);
        qputenv("QUILLMOOR_DROPLR_SECRET", FakeDroplr::kPrivateKey);
        qputenv("QUILLMOOR_DROPLR_URL", fake.url().toString().toUtf8());
        runner.services.registerService(
            std::make_unique<upload::DroplrUploaderClass>(runner.serviceEnvironment, runner.bundle));
    }
    int link(const QString& password) {
        return runner.linkWithPassword(QStringLiteral("droplr"), QStringLiteral("Sam@example.org"), password);
    }

    FakeDroplr fake;
    CliRunner runner;
};

TEST_F(DroplrSendTest, LinkSendAndUnlink) {
    ASSERT_EQ(link(QStringLiteral("hunter22")), 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.settings.boolForKey(QString::fromLatin1(keys::droplrLinked)));

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto drops = fake.drops();
    ASSERT_FALSE(drops.empty());
    for (const auto& drop : drops)
        EXPECT_TRUE(message.html.contains(QString::fromStdString(drop.shortlink))) << drop.shortlink;
    EXPECT_TRUE(std::any_of(drops.begin(), drops.end(), [](const FakeDroplr::Drop& drop) {
        return drop.title == "report.pdf" && QByteArray::fromStdString(drop.content) == fixturePdf();
    }));

    ASSERT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("droplr")}), 0)
        << runner.err().toStdString();
    EXPECT_FALSE(runner.settings.boolForKey(QString::fromLatin1(keys::droplrLinked)));
    EXPECT_TRUE(
        runner.credentials
            .passwordFromKeychainItem(QStringLiteral("Quillmoor (Droplr)"), QStringLiteral("Sam@example.org"))
            .isEmpty());
}

TEST_F(DroplrSendTest, AWrongPasswordDoesNotLink) {
    EXPECT_NE(link(QStringLiteral("wrong")), 0);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("signature does not match")))
        << runner.err().toStdString();
    EXPECT_FALSE(runner.settings.boolForKey(QString::fromLatin1(keys::droplrLinked)));
}

TEST_F(DroplrSendTest, AFailedUploadSendsNothing) {
    ASSERT_EQ(link(QStringLiteral("hunter22")), 0) << runner.err().toStdString();
    fake.server().setFault(Fault::status(500).onPath("/files"));
    const QString sent = runner.path(QStringLiteral("sent.eml"));
    EXPECT_NE(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0);
    EXPECT_FALSE(QFile::exists(sent));
    EXPECT_TRUE(fake.drops().empty());
}

} // namespace
} // namespace qm::test::cli
