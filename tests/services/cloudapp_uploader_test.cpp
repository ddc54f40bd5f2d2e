#include "accounts/settings_keys.h"
#include "servers/cloudapp/fake_cloudapp.h"
#include "services/cloudapp/api_engine.h"
#include "services/cloudapp/cloudapp_uploader.h"
#include "support/uploader_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;

class CloudAppUploaderTest : public UploaderFixture<upload::CloudAppUploaderClass> {
protected:
    void SetUp() override {
        serviceClass = std::make_unique<upload::CloudAppUploaderClass>(environment);
        recorder.acceptsIcons = true;
        EXPECT_TRUE(settings.setObject(cloud.apiURL().toString(), keys::cloudAppBaseURL));
    }

    void storeAccount() {
        EXPECT_TRUE(settings.setObject(cloud.email(), keys::cloudAppEmail));
        credentials.setPassword(cloud.password(), QStringLiteral("Quillmoor (CloudApp)"), cloud.email());
    }

    FakeCloudApp cloud;
};

TEST_F(CloudAppUploaderTest, NameLinkFlagAndUnlinking) {
    EXPECT_EQ(serviceClass->name(), QStringLiteral("CloudApp"));
    EXPECT_EQ(serviceClass->keychainIdentifier(), QStringLiteral("Quillmoor (CloudApp)"));
    storeAccount();
    serviceClass->setIsLinked(true);
    EXPECT_TRUE(settings.boolForKey(QString::fromLatin1(keys::cloudAppLinked)));
    serviceClass->setIsLinked(false);
    EXPECT_FALSE(serviceClass->isLinked());
    EXPECT_TRUE(credentials.passwordFromKeychainItem(QStringLiteral("Quillmoor (CloudApp)"), cloud.email())
                    .isEmpty());
}

TEST_F(CloudAppUploaderTest, LinkingIsATestUploadWithTheGivenCredentials) {
    auto uploader = make();
    uploader->setLogin(cloud.email());
    uploader->setPassword(QStringLiteral("wrong"));
    linkAndWait(*uploader, recorder);
    ASSERT_TRUE(recorder.authentications.value(0).has_value());
    EXPECT_EQ(recorder.authentications.value(0)->code, -1012);
    EXPECT_TRUE(cloud.items().empty());

    auto second = make();
    second->setLogin(cloud.email().toUpper());
    second->setPassword(cloud.password());
    recorder.authentications.clear();
    linkAndWait(*second, recorder);
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
    ASSERT_TRUE(cloud.itemNamed("dummy.bin"));
    EXPECT_EQ(cloud.itemNamed("dummy.bin")->size, 4u);
    EXPECT_TRUE(recorder.progress.isEmpty()); // the test upload is no file of the user's
}

TEST_F(CloudAppUploaderTest, UploadReportsTheShareLinkAndIconAndCanTakeItBack) {
    storeAccount();
    auto uploader = make();
    const QString path = localFile(QStringLiteral("notes.txt"), QByteArray(200000, 'n'));
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 1)
        << recorder.failures.value(0).second.localizedDescription.toStdString();
    const auto item = cloud.itemNamed("notes.txt");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->content, std::string(200000, 'n'));
    EXPECT_EQ(recorder.links.first(),
              cloud.apiURL().resolved(QUrl(QStringLiteral("/i/") + QString::fromStdString(item->slug))));
    EXPECT_EQ(recorder.linkFiles.first(), path);
    EXPECT_EQ(recorder.icons.first(),
              cloud.apiURL().resolved(QUrl(QStringLiteral("/images/item_types/unknown.png"))));
    EXPECT_DOUBLE_EQ(recorder.progress.value(recorder.progress.size() - 1), 1.0);

    EXPECT_FALSE(removeAndWait(*uploader, recorder.links.first()));
    EXPECT_TRUE(cloud.itemNamed("notes.txt")->deleted);
    // Another uploader knows only the link: the item's address comes from its page.
    upload(*uploader, localFile(QStringLiteral("more.txt"), "more"));
    auto other = make();
    EXPECT_FALSE(removeAndWait(*other, recorder.links.last()));
    EXPECT_TRUE(cloud.itemNamed("more.txt")->deleted);
    const auto gone = removeAndWait(*other, cloud.apiURL().resolved(QUrl(QStringLiteral("/i/nothing"))));
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->localizedDescription.contains(QStringLiteral("Item not found")));
}

TEST_F(CloudAppUploaderTest, LimitsAndMissingCredentialsFailWithTheirMessage) {
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("a.bin"), "a"));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures.first().first, 1);
    EXPECT_TRUE(recorder.failures.first().second.localizedDescription.contains(
        QStringLiteral("e-mail address and password")));

    storeAccount();
    cloud.setMaxUploadSize(1 << 20);
    auto limited = make();
    upload(*limited, localFile(QStringLiteral("big.bin"), QByteArray(3 << 20, 'b')));
    ASSERT_EQ(recorder.failures.size(), 2);
    EXPECT_EQ(recorder.failures.last().second.localizedDescription,
              QStringLiteral("This file is too large. You can upload files up to 1MB but this file is 3MB."));
    cloud.setMaxUploadSize(std::nullopt);
    cloud.setUploadsRemaining(0);
    upload(*limited, localFile(QStringLiteral("c.bin"), "c"));
    EXPECT_EQ(recorder.failures.last().second.code, cloudapp::DailyUploadLimit);
    EXPECT_EQ(cloud.storage().requests(), 0);
    EXPECT_TRUE(recorder.links.isEmpty());
}

} // namespace
} // namespace qm::test
