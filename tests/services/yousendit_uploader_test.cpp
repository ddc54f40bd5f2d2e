#include "accounts/settings_keys.h"
#include "fake_yousendit.h"
#include "services/yousendit/yousendit_uploader.h"
#include "support/uploader_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;

class YouSendItUploaderTest : public UploaderFixture<upload::YouSendItUploaderClass> {
protected:
    void SetUp() override {
        fake.addAccount(kEmail, kPassword);
        qputenv("QUILLMOOR_YOUSENDIT_URL", fake.url().toString().toUtf8());
        qputenv("QUILLMOOR_YOUSENDIT_KEY", FakeYouSendIt::kApiKey);
        client->setRequestTimeout(std::chrono::milliseconds(500));
    }
    void TearDown() override {
        qunsetenv("QUILLMOOR_YOUSENDIT_URL");
        qunsetenv("QUILLMOOR_YOUSENDIT_KEY");
    }
    // Links the account as the preferences page and `quillmoor link` do.
    void linkAccount(const QString& password = QString::fromLatin1(kPassword)) {
        serviceClass = std::make_unique<upload::YouSendItUploaderClass>(environment, bundle, client);
        recorder.authentications.clear();
        ASSERT_TRUE(settings.setObject(QString::fromLatin1(kEmail), keys::youSendItEmail));
        auto uploader = make();
        uploader->setLogin(QString::fromLatin1(kEmail));
        uploader->setPassword(password);
        linkAndWait(*uploader, recorder);
        if (!recorder.authentications.last())
            credentials.setPassword(password, serviceClass->keychainIdentifier(),
                                    QString::fromLatin1(kEmail));
    }
    std::unique_ptr<upload::Uploader> uploaderFor(const QStringList& recipients) {
        auto uploader = make();
        uploader->setRecipientList(recipients);
        return uploader;
    }
    QString failure() const {
        return recorder.failures.isEmpty() ? QString() : recorder.failures.last().second.localizedDescription;
    }

    static constexpr char kEmail[] = "me@example.org";
    static constexpr char kPassword[] = "secret";
    FakeYouSendIt fake;
    std::shared_ptr<yousendit::YouSendIt> client = std::make_shared<yousendit::YouSendIt>();
};

TEST_F(YouSendItUploaderTest, SendsEachFileToTheRecipientsAndReportsItsDownloadAddress) {
    linkAccount();
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
    EXPECT_TRUE(serviceClass->isLinked());
    auto uploader = uploaderFor({"a@x.org", "b@y.org", "c@z.org"});
    const QString path = localFile(QStringLiteral("report.pdf"), QByteArray(300000, 'r'));
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 1) << failure().toStdString();
    const auto delivery = fake.deliveries().at(0);
    EXPECT_EQ(delivery.recipients, "a@x.org,b@y.org,c@z.org");
    EXPECT_EQ(delivery.fileCount, "1");
    EXPECT_EQ(delivery.parameterNames, (std::vector<std::string>{"recipients", "fileCount"}));
    EXPECT_EQ(delivery.size, 300000u);
    EXPECT_TRUE(delivery.committed);
    EXPECT_FALSE(delivery.notifications);
    EXPECT_EQ(recorder.links[0].toString().toStdString(), delivery.downloadUrl);
    EXPECT_EQ(recorder.linkFiles, QStringList{path});
    EXPECT_TRUE(recorder.progress.isEmpty());

    EXPECT_FALSE(removeAndWait(*uploader, recorder.links[0]));
    EXPECT_TRUE(fake.deliveries().at(0).deleted);
}

TEST_F(YouSendItUploaderTest, WithoutRecipientsNothingStarts) {
    linkAccount();
    auto uploader = uploaderFor({});
    EXPECT_FALSE(uploader->uploadFile(localFile(QStringLiteral("a"), "a"), true));
    EXPECT_FALSE(uploader->busy());
    EXPECT_TRUE(serviceClass->description().needsRecipients);
    EXPECT_FALSE(serviceClass->description().reportsProgress);
}

TEST_F(YouSendItUploaderTest, LinkingFailuresSayWhy) {
    linkAccount(QStringLiteral("wrong"));
    EXPECT_EQ(recorder.authentications.value(0)->localizedDescription,
              QStringLiteral("Authentication failed: wrong e-mail address or password"));
    EXPECT_FALSE(serviceClass->isLinked());

    qputenv("QUILLMOOR_YOUSENDIT_KEY", "");
    recorder.authentications.clear();
    linkAccount();
    EXPECT_TRUE(
        recorder.authentications.value(0)->localizedDescription.contains("no application key was built in"));
}

TEST_F(YouSendItUploaderTest, StoredCredentialsLinkAtStartUpAndUnlinkingForgetsThem) {
    linkAccount();
    auto fresh = std::make_shared<yousendit::YouSendIt>();
    upload::YouSendItUploaderClass restarted(environment, bundle, fresh);
    EXPECT_TRUE(restarted.isLinked()); // while the start-up login runs
    ASSERT_TRUE(waitUntil([&] { return fresh->loggedUser().has_value(); }));
    restarted.setIsLinked(false);
    EXPECT_FALSE(restarted.isLinked());
}

TEST_F(YouSendItUploaderTest, EveryFaultEndsWithOneClearMessageAndNoDelivery) {
    linkAccount();
    const QString path = localFile(QStringLiteral("a.bin"), QByteArray(1000, 'a'));
    const auto run = [&](const std::function<void()>& arrange) {
        fake.server().clearFaults();
        arrange();
        auto uploader = uploaderFor({"a@x.org"});
        upload(*uploader, path);
        return failure();
    };
    EXPECT_EQ(run([&] { fake.expireTokens(); }), QStringLiteral("Invalid or expired authentication token"));
    linkAccount();
    EXPECT_EQ(run([&] { fake.server().setFault(Fault::status(502).onPath("/dpi/v1/item/send")); }),
              QStringLiteral("The Hightail server answered with HTTP status 502."));
    EXPECT_EQ(run([&] { fake.server().setFault(Fault::malformedBody().onPath("/dpi/v1/item/commit")); }),
              QStringLiteral("Failed..."));
    EXPECT_FALSE(
        run([&] { fake.server().setFault(Fault::dropMidBody().onPath("/dpi/v1/item/commit")); }).isEmpty());
    EXPECT_EQ(run([&] {
                  fake.server().setFault(
                      Fault::stall(std::chrono::seconds(10)).onPath("/dpi/v1/item/commit"));
              }).toStdString(),
              "The Hightail server did not answer in time.");
    EXPECT_EQ(run([&] { fake.withholdUploadAddress(true); }),
              QStringLiteral("The Hightail server gave no address to upload the file to."));
    fake.withholdUploadAddress(false);
    EXPECT_EQ(run([&] { fake.answerWithErrorPage("/upload/", 503, "Upload Service Unavailable"); }),
              QStringLiteral("Upload Service Unavailable"));
    EXPECT_EQ(recorder.failures.size(), 7);
    EXPECT_TRUE(recorder.links.isEmpty());
    // A commit the server made but the client could not read is taken back.
    EXPECT_TRUE(waitUntil([&] {
        for (const auto& delivery : fake.deliveries())
            if (delivery.committed && !delivery.deleted)
                return false;
        return true;
    }));
}

TEST_F(YouSendItUploaderTest, CancelDuringUploadOrCommitReportsNothingAndLeavesNoDelivery) {
    linkAccount();
    const QString path = localFile(QStringLiteral("a.bin"), QByteArray(1000, 'a'));
    for (const char* stalled : {"/upload/", "/dpi/v1/item/commit"}) {
        fake.server().clearFaults();
        fake.server().setFault(Fault::stall(std::chrono::seconds(10)).onPath(stalled));
        const size_t before = fake.server().log().size();
        auto uploader = uploaderFor({"a@x.org"});
        ASSERT_TRUE(uploader->uploadFile(path, true));
        ASSERT_TRUE(waitUntil([&] {
            const auto log = fake.server().log().all();
            return log.size() > before && log.back().path.rfind(stalled, 0) == 0;
        }));
        uploader->cancelUpload();
        EXPECT_FALSE(uploader->busy());
        waitUntil([] { return false; }, 300);
    }
    fake.server().clearFaults();
    EXPECT_EQ(recorder.outcomes(), 0);
    // The commit cancelled on its way is taken back once the server has answered it.
    ASSERT_TRUE(
        waitUntil([&] { return fake.deliveries().size() == 2 && fake.deliveries()[1].deleted; }, 15000));
    EXPECT_FALSE(fake.deliveries()[0].committed);
}

} // namespace
} // namespace qm::test
