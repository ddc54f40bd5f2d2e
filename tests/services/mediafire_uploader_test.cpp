#include "accounts/settings_keys.h"
#include "platform/string_additions.h"
#include "servers/mediafire/fake_mediafire.h"
#include "services/mediafire/mediafire_uploader.h"
#include "support/uploader_fixture.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using namespace std::chrono_literals;
using Quirk = FakeMediaFire::Quirk;

class MediaFireUploaderTest : public UploaderFixture<upload::MediaFireUploaderClass> {
protected:
    void SetUp() override {
        deployment = {fake.url(),
                      fake.url(),
                      QString::fromLatin1(FakeMediaFire::kApplicationId),
                      QString::fromLatin1(FakeMediaFire::kApiKey),
                      1500ms,
                      200ms,
                      20s};
        remake();
    }
    void remake() {
        serviceClass = std::make_unique<upload::MediaFireUploaderClass>(environment, bundle, deployment);
    }

    std::unique_ptr<upload::Uploader> linked() {
        const QString email = QString::fromLatin1(FakeMediaFire::kEmail);
        EXPECT_TRUE(settings.setObject(email, keys::mediaFireEmail));
        credentials.setPassword(QString::fromLatin1(FakeMediaFire::kPassword),
                                serviceClass->keychainIdentifier(), email);
        auto uploader = make();
        linkAndWait(*uploader, recorder);
        EXPECT_FALSE(recorder.authentications.value(0).has_value());
        recorder.authentications.clear();
        fake.server().log().clear();
        return uploader;
    }
    size_t requestsTo(const std::string& path) {
        const auto all = fake.server().log().all();
        return static_cast<size_t>(
            std::count_if(all.begin(), all.end(), [&](const LoggedRequest& r) { return r.path == path; }));
    }
    QString lastFailure() const { return recorder.failures.value(0).second.localizedDescription; }

    FakeMediaFire fake;
    upload::MediaFireDeployment deployment;
};

TEST_F(MediaFireUploaderTest, TheSignatureIsTheDigestOfThePlainConcatenation) {
    EXPECT_EQ(upload::MediaFireUploader::signature("a@b", "pw", "12345", "key"),
              platform::sha1Digest("a@bpw12345key"));
    EXPECT_EQ(upload::MediaFireDeployment::fromEnvironment().pollInterval, 2000ms);
}

TEST_F(MediaFireUploaderTest, LinkingFindsOrCreatesTheFolderWithATokenOfItsOwn) {
    fake.addFolder("Quillmoor Old");
    linked();
    ASSERT_EQ(fake.folders().size(), 2u);
    EXPECT_EQ(fake.folders()[1].name, "Quillmoor");
    EXPECT_EQ(settings.stringForKey(keys::mediaFireFolderKey), QString::fromStdString(fake.folders()[1].key));

    // Linked again, the folder is found, not made twice; each operation asked for a token of its own.
    auto again = make();
    linkAndWait(*again, recorder);
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
    EXPECT_EQ(fake.folders().size(), 2u);
    EXPECT_EQ(fake.tokensIssued(), 2u);
    EXPECT_EQ(requestsTo("/api/folder/create.php"), 0u);
}

TEST_F(MediaFireUploaderTest, LinkingFailuresSayWhy) {
    const std::vector<std::tuple<std::function<void()>, QString, QString>> cases{
        {[] {}, QStringLiteral("wrong"), QStringLiteral("got 400")},
        {[&] { fake.server().setFault(Fault::status(503).onPath("/api/folder/")); },
         {},
         QStringLiteral("got 503")},
        {[&] { fake.setQuirk(Quirk::NoFolderKey); }, {}, QStringLiteral("Could not create directory.")},
        {[&] { fake.server().setFault(Fault::malformedBody().onPath("/api/user/")); }, {}, {}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [fault, password, text] = cases[i];
        fake.server().clearFaults();
        fake.setQuirk(Quirk::None);
        fault();
        recorder.authentications.clear();
        auto uploader = make();
        uploader->setLogin(QString::fromLatin1(FakeMediaFire::kEmail));
        uploader->setPassword(password.isEmpty() ? QString::fromLatin1(FakeMediaFire::kPassword) : password);
        linkAndWait(*uploader, recorder);
        const auto error = recorder.authentications.value(0);
        ASSERT_TRUE(error.has_value()) << "case " << i;
        EXPECT_FALSE(error->localizedDescription.isEmpty());
        EXPECT_TRUE(error->localizedDescription.contains(text)) << error->localizedDescription.toStdString();
    }

    deployment.apiKey.clear();
    remake();
    fake.server().log().clear();
    recorder.authentications.clear();
    auto keyless = make();
    linkAndWait(*keyless, recorder);
    ASSERT_TRUE(recorder.authentications.value(0).has_value());
    EXPECT_TRUE(
        recorder.authentications.value(0)->localizedDescription.contains("no application key was built in"));
    EXPECT_EQ(fake.server().log().size(), 0u);
}

TEST_F(MediaFireUploaderTest, UploadPollsEveryIntervalUntilDoneThenFetchesTheLinkOnce) {
    auto uploader = linked();
    const QByteArray bytes(200 * 1024, 'm');
    const QString path = localFile(QStringLiteral("report 1.pdf"), bytes);
    QElapsedTimer clock;
    clock.start();
    upload(*uploader, path, false);
    ASSERT_EQ(recorder.links.size(), 1) << lastFailure().toStdString();
    EXPECT_GE(clock.elapsed(), (FakeMediaFire::kPollsBeforeDone + 1) * 200);

    const auto files = fake.files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "report 1.pdf");
    EXPECT_EQ(files[0].contentType, "application/pdf");
    EXPECT_EQ(files[0].size, static_cast<size_t>(bytes.size()));
    EXPECT_EQ(files[0].folderKey, settings.stringForKey(keys::mediaFireFolderKey).toStdString());
    EXPECT_EQ(
        recorder.links[0],
        fake.url(
            QStringLiteral("/download/%1/report%201.pdf").arg(QString::fromStdString(files[0].quickKey))));
    EXPECT_EQ(recorder.linkFiles[0], path);
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);
    EXPECT_EQ(requestsTo("/api/upload/poll_upload.php"),
              static_cast<size_t>(FakeMediaFire::kPollsBeforeDone + 1));
    EXPECT_EQ(requestsTo("/api/file/get_links.php"), 1u);
    EXPECT_EQ(requestsTo("/api/user/get_session_token.php"), 1u);
}

TEST_F(MediaFireUploaderTest, EachUploadFaultEndsInOneFailure) {
    deployment.pollLimit = 700ms;
    remake();
    auto uploader = linked();
    const QString path = localFile(QStringLiteral("a.bin"), QByteArray(64 * 1024, 'a'));
    const std::vector<std::pair<std::function<void()>, QString>> cases{
        {[&] { fake.server().setFault(Fault::status(401).onPath("/api/upload/simple")); },
         QStringLiteral("got 401")},
        {[&] { fake.server().setFault(Fault::status(500).onPath("/api/upload/simple")); },
         QStringLiteral("got 500")},
        {[&] { fake.server().setFault(Fault::malformedBody().onPath("/api/upload/simple")); }, QString()},
        {[&] { fake.server().setFault(Fault::dropMidBody().onPath("/api/upload/simple")); }, QString()},
        {[&] { fake.server().setFault(Fault::stall(12s).onPath("/api/upload/simple")); }, QString()},
        {[&] { fake.server().setFault(Fault::status(502).onPath("/api/user/")); }, QStringLiteral("got 502")},
        {[&] { fake.server().setFault(Fault::status(500).onPath("/api/upload/poll")); },
         QStringLiteral("got 500")},
        {[&] { fake.server().setFault(Fault::malformedBody().onPath("/api/upload/poll")); }, QString()},
        {[&] { fake.server().setFault(Fault::malformedBody().onPath("/api/file/get_links")); }, QString()},
        {[&] { fake.setQuirk(Quirk::NoUploadKey); }, QStringLiteral("Upload failed with Error: 0")},
        {[&] { fake.setQuirk(Quirk::DoneWithoutKey); },
         QStringLiteral("Failed to acquire quickKey with error: 0")},
        {[&] { fake.setQuirk(Quirk::NoLinks); }, QStringLiteral("Failed to acquire download link: {")},
        {[&] { fake.setQuirk(Quirk::NeverDone); },
         QStringLiteral("did not finish processing a.bin within 1 second;")},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [fault, text] = cases[i];
        fake.server().clearFaults();
        fake.setQuirk(Quirk::None);
        fault();
        recorder.failures.clear();
        upload(*uploader, path);
        ASSERT_EQ(recorder.failures.size(), 1) << "case " << i;
        EXPECT_EQ(recorder.failures[0].first, 1);
        EXPECT_FALSE(lastFailure().isEmpty());
        EXPECT_TRUE(lastFailure().contains(text)) << lastFailure().toStdString();
    }
    EXPECT_TRUE(recorder.links.isEmpty());
}

TEST_F(MediaFireUploaderTest, CancelStopsTheUploadAndThePollAtOnce) {
    auto uploader = linked();
    const QString path = localFile(QStringLiteral("b.bin"), QByteArray(1 << 20, 'b'));
    fake.server().setFault(Fault::stall(3s).onPath("/api/upload/simple"));
    ASSERT_TRUE(uploader->uploadFile(path, true));
    waitUntil([&] { return requestsTo("/api/upload/simple.php") > 0; }, 3000);
    uploader->cancelUpload();
    fake.server().clearFaults();

    fake.setQuirk(Quirk::NeverDone);
    ASSERT_TRUE(uploader->uploadFile(path, true));
    ASSERT_TRUE(waitUntil([&] { return requestsTo("/api/upload/poll_upload.php") > 0; }, 5000));
    uploader->cancelUpload();
    const size_t polls = requestsTo("/api/upload/poll_upload.php");
    waitUntil([] { return false; }, 3000);
    EXPECT_EQ(requestsTo("/api/upload/poll_upload.php"), polls);
    EXPECT_EQ(recorder.outcomes(), 0);
}

TEST_F(MediaFireUploaderTest, AnUploadedFileCanBeDeletedByAnotherUploader) {
    auto uploader = linked();
    upload(*uploader, localFile(QStringLiteral("a.txt"), "hello"));
    ASSERT_EQ(recorder.links.size(), 1) << lastFailure().toStdString();
    auto remover = serviceClass->create();
    EXPECT_FALSE(removeAndWait(*remover, recorder.links[0]).has_value());
    EXPECT_TRUE(fake.files().empty());
    EXPECT_TRUE(removeAndWait(*remover, recorder.links[0]).has_value());
}

} // namespace
} // namespace qm::test
