#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "servers/mediafire/fake_mediafire.h"
#include "services/mediafire/mediafire_uploader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

namespace keys = accounts::keys;
using namespace std::chrono_literals;

// `quillmoor link mediafire`, `send` and `unlink` against the MediaFire fake.
class MediaFireSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        runner.services.registerService(std::make_unique<upload::MediaFireUploaderClass>(
            runner.serviceEnvironment, runner.bundle,
            upload::MediaFireDeployment{fake.url(), fake.url(),
                                        QString::fromLatin1(FakeMediaFire::kApplicationId),
                                        QString::fromLatin1(FakeMediaFire::kApiKey), 60s, 100ms, 20s}));
    }

    int link(const QString& password) {
        return runner.linkWithPassword(QStringLiteral("mediafire"),
                                       QString::fromLatin1(FakeMediaFire::kEmail), password);
    }

    FakeMediaFire fake;
    CliRunner runner;
};

TEST_F(MediaFireSendTest, LinkSendAndUnlink) {
    EXPECT_NE(link(QStringLiteral("wrong")), 0);
    EXPECT_TRUE(runner.err().contains("got 400")) << runner.err().toStdString();
    EXPECT_FALSE(runner.settings.boolForKey(keys::mediaFireLinked));

    ASSERT_EQ(link(QString::fromLatin1(FakeMediaFire::kPassword)), 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.settings.boolForKey(keys::mediaFireLinked));
    ASSERT_EQ(fake.folders().size(), 1u);

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto files = fake.files();
    ASSERT_FALSE(files.empty());
    for (const auto& file : files) {
        const QString link =
            fake.url(QStringLiteral("/download/%1/").arg(QString::fromStdString(file.quickKey))).toString();
        EXPECT_TRUE(message.html.contains(link)) << link.toStdString();
    }
    EXPECT_EQ(files.front().content, fixturePdf().toStdString());
    EXPECT_TRUE(runner.leftovers().isEmpty());

    // A poll that ends without a quick key fails the send, and nothing leaves.
    QFile::remove(sent);
    fake.setQuirk(FakeMediaFire::Quirk::DoneWithoutKey);
    EXPECT_NE(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0);
    EXPECT_TRUE(runner.err().contains("Failed to acquire quickKey")) << runner.err().toStdString();
    EXPECT_FALSE(QFileInfo::exists(sent));
    EXPECT_TRUE(runner.leftovers().isEmpty());
    fake.setQuirk(FakeMediaFire::Quirk::None);

    // A message that cannot be delivered takes its uploads back.
    const size_t before = fake.files().size();
    writeFile(runner.path("sendmail"), "#!/bin/sh\ncat > /dev/null\nexit 75\n");
    QFile::setPermissions(runner.path("sendmail"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    runner.sendmailProgram = runner.path("sendmail");
    EXPECT_NE(runner.run({"send", "--answer", "upload", "--sendmail", fixturePath("html_attachments.eml")}),
              0);
    EXPECT_TRUE(runner.err().contains("removed from the service again")) << runner.err().toStdString();
    EXPECT_EQ(fake.files().size(), before);

    ASSERT_EQ(runner.run({"unlink", "mediafire"}), 0);
    EXPECT_FALSE(runner.settings.boolForKey(keys::mediaFireLinked));
}

} // namespace
} // namespace qm::test::cli
