#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "servers/dropmark/fake_dropmark.h"
#include "services/dropmark/dropmark_uploader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

namespace keys = accounts::keys;

// `quillmoor link dropmark`, `send` and `unlink` against the Dropmark fake.
class DropmarkSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        runner.services.registerService(std::make_unique<upload::DropmarkUploaderClass>(
            runner.serviceEnvironment, runner.bundle,
            upload::DropmarkDeployment{fake.url(), QString::fromLatin1(FakeDropmark::kApiKey)}));
    }

    int link(const QString& password) {
        return runner.linkWithPassword(QStringLiteral("dropmark"), QString::fromLatin1(FakeDropmark::kEmail),
                                       password);
    }

    FakeDropmark fake;
    CliRunner runner;
};

TEST_F(DropmarkSendTest, LinkSendAndUnlink) {
    EXPECT_NE(link(QStringLiteral("wrong")), 0);
    EXPECT_TRUE(runner.err().contains("got 401")) << runner.err().toStdString();
    EXPECT_FALSE(runner.settings.boolForKey(keys::dropmarkLinked));
    EXPECT_TRUE(runner.settings.stringForKey(keys::dropmarkToken).isEmpty());

    ASSERT_EQ(link(QString::fromLatin1(FakeDropmark::kPassword)), 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.settings.boolForKey(keys::dropmarkLinked));
    ASSERT_EQ(fake.collections().size(), 1u);

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto items = fake.items();
    ASSERT_FALSE(items.empty());
    for (const auto& item : items) {
        EXPECT_EQ(item.shareable, "true");
        const QString link =
            fake.url(QStringLiteral("/s/") + QString::fromStdString(item.shortCode)).toString();
        EXPECT_TRUE(message.html.contains(link)) << link.toStdString();
    }
    EXPECT_EQ(items.front().content, fixturePdf().toStdString());
    EXPECT_TRUE(runner.leftovers().isEmpty());

    // A failed upload sends nothing and leaves nothing behind.
    QFile::remove(sent);
    fake.server().setFault(Fault::status(500).onPath("/v1/collections/"));
    EXPECT_NE(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0);
    EXPECT_TRUE(runner.err().contains("got 500")) << runner.err().toStdString();
    EXPECT_FALSE(QFileInfo::exists(sent));
    EXPECT_TRUE(runner.leftovers().isEmpty());
    fake.server().clearFaults();

    // A message that cannot be delivered takes its uploads back.
    const size_t before = fake.items().size();
    writeFile(runner.path("sendmail"), "#!/bin/sh\ncat > /dev/null\nexit 75\n");
    QFile::setPermissions(runner.path("sendmail"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    runner.sendmailProgram = runner.path("sendmail");
    EXPECT_NE(runner.run({"send", "--answer", "upload", "--sendmail", fixturePath("html_attachments.eml")}),
              0);
    EXPECT_TRUE(runner.err().contains("removed from the service again")) << runner.err().toStdString();
    EXPECT_EQ(fake.items().size(), before);

    ASSERT_EQ(runner.run({"unlink", "dropmark"}), 0);
    EXPECT_FALSE(runner.settings.boolForKey(keys::dropmarkLinked));
    EXPECT_TRUE(runner.settings.stringForKey(keys::dropmarkToken).isEmpty());
}

} // namespace
} // namespace qm::test::cli
