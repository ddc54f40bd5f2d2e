#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "fake_yousendit.h"
#include "services/yousendit/yousendit_uploader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

// A whole message through `quillmoor` with Hightail: linked by e-mail address and password, each attachment
// sent as a delivery to the message's recipients, the message carrying the delivery links.
class YouSendItSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.addAccount("jane@example.org", "s3cret&=");
        qputenv("QUILLMOOR_YOUSENDIT_URL", fake.url().toString().toUtf8());
        qputenv("QUILLMOOR_YOUSENDIT_KEY", FakeYouSendIt::kApiKey);
        runner.services.registerService(std::make_unique<upload::YouSendItUploaderClass>(
            runner.serviceEnvironment, runner.bundle, client));
    }
    void TearDown() override {
        qunsetenv("QUILLMOOR_YOUSENDIT_URL");
        qunsetenv("QUILLMOOR_YOUSENDIT_KEY");
    }
    int link(const QString& name, const QString& password) {
        return runner.linkWithPassword(name, QStringLiteral("jane@example.org"), password);
    }

    FakeYouSendIt fake;
    std::shared_ptr<yousendit::YouSendIt> client = std::make_shared<yousendit::YouSendIt>();
    CliRunner runner;
};

TEST_F(YouSendItSendTest, LinkThenSendDeliversToTheRecipientsWithLinksInTheMessage) {
    ASSERT_EQ(link(QStringLiteral("hightail"), QStringLiteral("s3cret&=")), 0) << runner.err().toStdString();
    EXPECT_EQ(runner.settings.integerForKey(QString::fromLatin1(accounts::keys::selectedService)), 1);

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto deliveries = fake.deliveries();
    ASSERT_FALSE(deliveries.empty());
    for (const auto& delivery : deliveries) {
        // To, Cc and Bcc alike: the host hands over all the recipients.
        EXPECT_EQ(delivery.recipients,
                  "ada@example.com,bob@example.com,carol@example.com,archive@example.org");
        EXPECT_TRUE(delivery.committed);
        EXPECT_FALSE(delivery.notifications);
        EXPECT_TRUE(message.html.contains(QString::fromStdString(delivery.downloadUrl)))
            << delivery.downloadUrl;
    }
    EXPECT_NE(std::find_if(deliveries.begin(), deliveries.end(),
                           [](const auto& d) { return d.fileName == "report.pdf"; }),
              deliveries.end());

    ASSERT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("yousendit")}), 0);
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::YouSendIt));
}

TEST_F(YouSendItSendTest, WrongPasswordDoesNotLinkAndSaysWhy) {
    EXPECT_NE(link(QStringLiteral("yousendit"), QStringLiteral("wrong")), 0);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("wrong e-mail address or password")))
        << runner.err().toStdString();
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::YouSendIt));
    EXPECT_TRUE(fake.deliveries().empty());
}

} // namespace
} // namespace qm::test::cli
