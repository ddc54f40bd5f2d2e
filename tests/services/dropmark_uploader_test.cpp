#include "accounts/settings_keys.h"
#include "servers/dropmark/fake_dropmark.h"
#include "services/dropmark/dropmark_uploader.h"
#include "support/uploader_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using upload::DropmarkDeployment;

class DropmarkUploaderTest : public UploaderFixture<upload::DropmarkUploaderClass> {
protected:
    void SetUp() override { makeClass(QString::fromLatin1(FakeDropmark::kApiKey)); }

    void makeClass(const QString& key) {
        serviceClass = std::make_unique<upload::DropmarkUploaderClass>(
            environment, bundle, DropmarkDeployment{fake.url(), key, std::chrono::milliseconds(1500)});
        recorder.acceptsIcons = true;
    }

    std::unique_ptr<upload::Uploader> linked() {
        auto uploader = make();
        uploader->setLogin(QString::fromLatin1(FakeDropmark::kEmail));
        uploader->setPassword(QString::fromLatin1(FakeDropmark::kPassword));
        linkAndWait(*uploader, recorder);
        EXPECT_FALSE(recorder.authentications.value(0).has_value());
        recorder.authentications.clear();
        fake.server().log().clear();
        return uploader;
    }

    QString setting(const char* key) const {
        return settings.objectForKey(QString::fromLatin1(key)).value_or(QVariant()).toString();
    }
    bool hasSetUpKeys() const {
        return !setting(keys::dropmarkUserID).isEmpty() || !setting(keys::dropmarkToken).isEmpty() ||
               !setting(keys::dropmarkCollectionID).isEmpty();
    }
    QString lastFailure() const { return recorder.failures.value(0).second.localizedDescription; }

    FakeDropmark fake;
};

TEST_F(DropmarkUploaderTest, LinkingSignsInAndKeepsTheCollectionNamedAfterTheBundle) {
    fake.addCollection("Quillmoor Archive");
    const std::string id = fake.addCollection("Quillmoor");
    linked();
    EXPECT_EQ(setting(keys::dropmarkUserID), QString::fromLatin1(FakeDropmark::kUserId));
    EXPECT_EQ(setting(keys::dropmarkToken), QString::fromLatin1(FakeDropmark::kToken));
    EXPECT_EQ(setting(keys::dropmarkCollectionID), QString::fromStdString(id));
    EXPECT_EQ(fake.collections().size(), 2u);

    // A missing collection is made once; a wrong password then leaves none of the three keys behind.
    FakeDropmark empty;
    serviceClass = std::make_unique<upload::DropmarkUploaderClass>(
        environment, bundle, DropmarkDeployment{empty.url(), QString::fromLatin1(FakeDropmark::kApiKey)});
    linked();
    ASSERT_EQ(empty.collections().size(), 1u);
    EXPECT_EQ(empty.collections()[0].name, "Quillmoor");
    EXPECT_EQ(setting(keys::dropmarkCollectionID), QString::fromStdString(empty.collections()[0].id));
    const auto requests = empty.server().log().all();
    const auto creations = std::count_if(requests.begin(), requests.end(), [](const LoggedRequest& r) {
        return r.method == "POST" && r.path == "/v1/collections";
    });
    EXPECT_EQ(creations, 1);
    EXPECT_EQ(requests.front().header("X-API-Key"), FakeDropmark::kApiKey);
    EXPECT_EQ(requests.front().header("Accept"), "application/json");
    EXPECT_EQ(requests.front().body, "email=ada%40example.org&password=correct%20horse");
}

TEST_F(DropmarkUploaderTest, AFailedSetUpLeavesNoneOfTheThreeKeys) {
    const std::vector<std::pair<std::function<void()>, QString>> cases{
        {[&] { fake.server().setFault(Fault::status(401).onPath("/v1/auth")); }, QStringLiteral("got 401")},
        {[&] { fake.server().setFault(Fault::status(503).onPath("/v1/collections")); },
         QStringLiteral("got 503")},
        {[&] { fake.server().setFault(Fault::malformedBody().onPath("/v1/collections")); }, QString()},
        {[&] { fake.server().setFault(Fault::dropMidBody().onPath("/v1/auth")); }, QString()},
        {[&] { fake.server().setFault(Fault::stall(std::chrono::seconds(12)).onPath("/v1/auth")); },
         QString()},
        {[&] { fake.omit("token"); }, QStringLiteral("user id or token")},
        {[&] { fake.omit("collection id"); }, QStringLiteral("collection id")},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [fault, text] = cases[i];
        for (const char* key : {keys::dropmarkUserID, keys::dropmarkToken, keys::dropmarkCollectionID})
            ASSERT_TRUE(settings.setObject(QStringLiteral("stale"), QString::fromLatin1(key)));
        fake.server().clearFaults();
        fake.omit({});
        fault();
        recorder.authentications.clear();
        auto uploader = make();
        uploader->setLogin(QString::fromLatin1(FakeDropmark::kEmail));
        uploader->setPassword(QString::fromLatin1(FakeDropmark::kPassword));
        linkAndWait(*uploader, recorder);
        const auto error = recorder.authentications.value(0);
        ASSERT_TRUE(error.has_value()) << "case " << i;
        EXPECT_FALSE(error->localizedDescription.isEmpty());
        EXPECT_TRUE(error->localizedDescription.contains(text)) << error->localizedDescription.toStdString();
        EXPECT_FALSE(hasSetUpKeys()) << error->localizedDescription.toStdString();
        EXPECT_FALSE(uploader->uploadFile(localFile(QStringLiteral("a.txt"), "a"), true));
    }
}

TEST_F(DropmarkUploaderTest, WithoutAnApplicationKeyLinkingFailsAtOnce) {
    makeClass(QString());
    auto uploader = make();
    uploader->setLogin(QString::fromLatin1(FakeDropmark::kEmail));
    uploader->setPassword(QString::fromLatin1(FakeDropmark::kPassword));
    linkAndWait(*uploader, recorder);
    ASSERT_TRUE(recorder.authentications.value(0).has_value());
    EXPECT_TRUE(recorder.authentications.value(0)->localizedDescription.contains(
        QStringLiteral("no application key was built in")));
    EXPECT_EQ(fake.server().log().size(), 0u);
}

TEST_F(DropmarkUploaderTest, UploadSendsTheItemAndReportsItsShortURLAndThumbnail) {
    auto uploader = linked();
    const QByteArray bytes(300 * 1024, 'r');
    const QString path = localFile(QStringLiteral("report 1.pdf"), bytes);
    upload(*uploader, path);
    upload(*uploader, path, false);
    fake.setThumbnails(false);
    upload(*uploader, path);

    ASSERT_EQ(recorder.links.size(), 3);
    const auto items = fake.items();
    ASSERT_EQ(items.size(), 3u);
    // Named after the file as it is, each time: no renaming on collision.
    for (const auto& item : items) {
        EXPECT_EQ(item.name, "report 1.pdf");
        EXPECT_EQ(item.fileName, "report 1.pdf");
        EXPECT_EQ(item.contentType, "application/pdf");
        EXPECT_EQ(item.size, static_cast<size_t>(bytes.size()));
        EXPECT_EQ(item.collection, setting(keys::dropmarkCollectionID).toStdString());
    }
    EXPECT_EQ(items[0].shareable, "true");
    EXPECT_EQ(items[1].shareable, "false");
    EXPECT_EQ(recorder.links[0], fake.url(QStringLiteral("/s/i%1").arg(QString::fromStdString(items[0].id))));
    EXPECT_EQ(recorder.icons[0],
              fake.url(QStringLiteral("/thumbs/%1.png").arg(QString::fromStdString(items[0].id))));
    EXPECT_TRUE(recorder.icons[2].isEmpty());
    EXPECT_EQ(recorder.linkFiles[0], path);
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);
    const LoggedRequest request = fake.server().log().all().front();
    EXPECT_GT(std::stoul(request.header("Content-Length")), static_cast<size_t>(bytes.size()));
    EXPECT_TRUE(request.header("Content-Type").rfind("multipart/form-data; boundary=Boundary+", 0) == 0);
}

TEST_F(DropmarkUploaderTest, EachUploadFaultEndsInOneFailure) {
    auto uploader = linked();
    const QString path = localFile(QStringLiteral("a.bin"), QByteArray(64 * 1024, 'a'));
    const std::vector<std::pair<std::function<void()>, QString>> cases{
        {[&] { fake.server().setFault(Fault::status(401)); }, QStringLiteral("got 401")},
        {[&] { fake.server().setFault(Fault::status(502)); }, QStringLiteral("got 502")},
        {[&] { fake.server().setFault(Fault::malformedBody()); }, QString()},
        {[&] { fake.server().setFault(Fault::dropMidBody()); }, QString()},
        {[&] { fake.server().setFault(Fault::stall(std::chrono::seconds(12))); }, QString()},
        {[&] { fake.omit("short_url"); }, QStringLiteral("no short URL")},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [fault, text] = cases[i];
        fake.server().clearFaults();
        fake.omit({});
        fault();
        recorder.failures.clear();
        upload(*uploader, path);
        ASSERT_EQ(recorder.failures.size(), 1) << "case " << i;
        EXPECT_EQ(recorder.failures[0].first, 1);
        EXPECT_FALSE(lastFailure().isEmpty());
        EXPECT_TRUE(lastFailure().contains(text)) << lastFailure().toStdString();
    }
    EXPECT_TRUE(recorder.links.isEmpty());
    // A file that cannot be read fails the upload too.
    recorder.failures.clear();
    upload(*uploader, temp.filePath(QStringLiteral("missing.bin")));
    EXPECT_EQ(recorder.failures.size(), 1);
}

TEST_F(DropmarkUploaderTest, AnUploadWithoutSetUpIsRefusedAndCancelStopsTheTransfer) {
    auto fresh = make();
    EXPECT_FALSE(fresh->uploadFile(localFile(QStringLiteral("a.txt"), "a"), true));
    EXPECT_EQ(fake.server().log().size(), 0u);

    auto uploader = linked();
    fake.server().setFault(Fault::stall(std::chrono::seconds(3)));
    ASSERT_TRUE(uploader->uploadFile(localFile(QStringLiteral("b.bin"), QByteArray(1 << 20, 'b')), true));
    waitUntil([&] { return fake.server().log().size() > 0; }, 2000);
    uploader->cancelUpload();
    waitUntil([] { return false; }, 2500);
    EXPECT_EQ(recorder.outcomes(), 0);
    EXPECT_TRUE(fake.items().empty());
}

TEST_F(DropmarkUploaderTest, AnUploadedItemCanBeTakenBackAndUnlinkingForgetsTheToken) {
    auto uploader = linked();
    upload(*uploader, localFile(QStringLiteral("a.txt"), "hello"));
    ASSERT_EQ(recorder.links.size(), 1);
    ASSERT_EQ(fake.items().size(), 1u);

    // The command-line host removes with an uploader of its own.
    auto remover = serviceClass->create();
    EXPECT_FALSE(removeAndWait(*remover, recorder.links[0]).has_value());
    EXPECT_TRUE(fake.items().empty());
    EXPECT_EQ(fake.server().log().last().header("X-API-Key"), FakeDropmark::kApiKey);
    EXPECT_TRUE(removeAndWait(*remover, fake.url(QStringLiteral("/s/unknown"))).has_value());

    ASSERT_TRUE(settings.setObject(QString::fromLatin1(FakeDropmark::kEmail), keys::dropmarkEmail));
    credentials.setPassword(QString::fromLatin1(FakeDropmark::kPassword), serviceClass->keychainIdentifier(),
                            QString::fromLatin1(FakeDropmark::kEmail));
    serviceClass->setIsLinked(true);
    EXPECT_TRUE(serviceClass->isLinked());
    serviceClass->setIsLinked(false);
    EXPECT_FALSE(serviceClass->isLinked());
    EXPECT_FALSE(hasSetUpKeys());
    EXPECT_TRUE(credentials
                    .passwordFromKeychainItem(serviceClass->keychainIdentifier(),
                                              QString::fromLatin1(FakeDropmark::kEmail))
                    .isNull());
}

} // namespace
} // namespace qm::test
