#include "accounts/credential_store.h"
#include "accounts/settings_keys.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "support/test_support.h"
#include "support/test_uploader.h"
#include "uploaders/service_id.h"
#include "uploaders/service_registry.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using upload::ServiceId;

struct RecordingDelegate final : upload::UploaderDelegate {
    QStringList events;
    void uploadProgress(double fraction, const QString& file) override {
        events.append(QStringLiteral("progress %1 %2").arg(fraction).arg(file));
    }
    void uploadFailedWithStatus(upload::UploadStatus status, const platform::Error& error) override {
        events.append(
            QStringLiteral("failed %1 %2").arg(static_cast<int>(status)).arg(error.localizedDescription));
    }
    void createdLink(const QUrl& link, const QString& file, const QUrl& icon) override {
        events.append(QStringLiteral("link %1 %2 %3").arg(link.toString(), file, icon.toString()));
    }
};

class UploaderTest : public ::testing::Test {
protected:
    UploaderTest() {
        registry.registerService(std::make_unique<TestUploaderClass>(
            environment, testDescription(ServiceId::Generic, keys::genericLinked, keys::genericLogin)));
        registry.registerService(std::make_unique<TestUploaderClass>(
            environment, testDescription(ServiceId::Dropbox, keys::dropboxLinked)));
    }

    QTemporaryDir folder;
    platform::SettingsStore settings{folder.filePath(QStringLiteral("settings.plist"))};
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials{secrets};
    upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
    upload::ServiceRegistry registry{QStringLiteral("Quillmoor")};
};

TEST_F(UploaderTest, RegistryAnswersClassesForBuiltServicesAndNamesForAll) {
    EXPECT_EQ(registry.classForService(ServiceId::None), nullptr);
    EXPECT_EQ(upload::serviceFromNumber(-1), std::nullopt);
    EXPECT_EQ(upload::serviceFromNumber(10), std::nullopt);
    EXPECT_EQ(registry.classForService(ServiceId::GoogleDrive), nullptr); // not built
    EXPECT_EQ(registry.descriptionOfService(ServiceId::GoogleDrive), nullptr);
    EXPECT_FALSE(registry.isLinkedForService(ServiceId::None));
    EXPECT_TRUE(registry.nameOfService(ServiceId::None).isNull());
    EXPECT_TRUE(registry.keychainIdentifierForService(ServiceId::None).isNull());
    EXPECT_EQ(registry.nameOfService(ServiceId::GoogleDrive), QStringLiteral("GoogleDrive"));
    EXPECT_EQ(registry.keychainIdentifierForService(ServiceId::GoogleDrive),
              QStringLiteral("Quillmoor (GoogleDrive)"));
    registry.setIsLinked(true, ServiceId::GoogleDrive); // does nothing, and does not crash
    EXPECT_FALSE(registry.isLinkedForService(ServiceId::GoogleDrive));

    EXPECT_EQ(registry.nameOfService(ServiceId::Generic), QStringLiteral("Generic"));
    EXPECT_EQ(registry.keychainIdentifierForService(ServiceId::Generic),
              QStringLiteral("Quillmoor (Generic)"));
    EXPECT_EQ(registry.descriptionOfService(ServiceId::Generic)->accountKey,
              QString::fromLatin1(keys::genericLogin));
}

TEST_F(UploaderTest, ServiceNamesAreFixed) {
    const QStringList expected{QStringLiteral("Dropbox"),  QStringLiteral("Hightail"),
                               QStringLiteral("CloudApp"), QStringLiteral("Droplr"),
                               QStringLiteral("Dropmark"), QStringLiteral("MediaFire"),
                               QStringLiteral("Box"),      QStringLiteral("GoogleDrive"),
                               QStringLiteral("ownCloud"), QStringLiteral("Generic")};
    for (const ServiceId id : upload::kAllServices)
        EXPECT_EQ(upload::serviceName(id), expected[upload::serviceNumber(id)]);
    EXPECT_TRUE(upload::serviceName(ServiceId::None).isNull());
}

TEST_F(UploaderTest, UnlinkingClearsTheFlagAndRemovesOnlyTheCurrentAccountsPassword) {
    EXPECT_TRUE(settings.setObject(QStringLiteral("alice"), keys::genericLogin));
    credentials.setPassword(QStringLiteral("pw-alice"), QStringLiteral("Quillmoor (Generic)"),
                            QStringLiteral("alice"));
    credentials.setPassword(QStringLiteral("pw-bob"), QStringLiteral("Quillmoor (Generic)"),
                            QStringLiteral("bob"));
    credentials.setPassword(QStringLiteral("pw-other"), QStringLiteral("Quillmoor (ownCloud)"),
                            QStringLiteral("alice"));

    registry.setIsLinked(true, ServiceId::Generic);
    EXPECT_TRUE(registry.isLinkedForService(ServiceId::Generic));
    EXPECT_EQ(
        credentials.passwordFromKeychainItem(QStringLiteral("Quillmoor (Generic)"), QStringLiteral("alice")),
        QStringLiteral("pw-alice")); // linking touches no password

    registry.setIsLinked(false, ServiceId::Generic);
    EXPECT_FALSE(registry.isLinkedForService(ServiceId::Generic));
    EXPECT_FALSE(settings.objectForKey(keys::genericLinked)->toBool());
    EXPECT_FALSE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                                             QStringLiteral("alice")));
    EXPECT_TRUE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                                            QStringLiteral("bob")));
    EXPECT_TRUE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (ownCloud)"),
                                                            QStringLiteral("alice")));
}

TEST_F(UploaderTest, AServiceWithoutAccountKeyUnlinksByItsFlagOnly) {
    registry.setIsLinked(true, ServiceId::Dropbox);
    EXPECT_TRUE(settings.boolForKey(keys::dropboxLinked));
    registry.setIsLinked(false, ServiceId::Dropbox);
    EXPECT_FALSE(registry.isLinkedForService(ServiceId::Dropbox));
    EXPECT_EQ(secrets.size(), 0);
}

TEST_F(UploaderTest, ASecondUploadWhileBusyIsRefused) {
    auto uploader = registry.classForService(ServiceId::Generic)->create();
    auto& test = static_cast<TestUploader&>(*uploader);
    RecordingDelegate delegate;
    uploader->setDelegate(&delegate);

    EXPECT_TRUE(uploader->uploadFile(QStringLiteral("/tmp/a.pdf"), true));
    EXPECT_TRUE(uploader->busy());
    EXPECT_EQ(uploader->activeFile(), QStringLiteral("/tmp/a.pdf"));
    EXPECT_TRUE(uploader->createPublicLink());
    EXPECT_FALSE(uploader->uploadFile(QStringLiteral("/tmp/b.pdf"), false));
    EXPECT_EQ(uploader->activeFile(), QStringLiteral("/tmp/a.pdf"));
    EXPECT_TRUE(uploader->createPublicLink());
    EXPECT_EQ(test.started, QStringList{QStringLiteral("/tmp/a.pdf")});

    test.progress(0.5);
    test.finish(QUrl(QStringLiteral("https://example.org/a")));
    EXPECT_FALSE(uploader->busy());
    EXPECT_TRUE(delegate.events.isEmpty()); // delivered from the event loop, in order
    drainEvents();
    EXPECT_EQ(delegate.events, (QStringList{QStringLiteral("progress 0.5 /tmp/a.pdf"),
                                            QStringLiteral("link https://example.org/a /tmp/a.pdf ")}));
    EXPECT_TRUE(uploader->uploadFile(QStringLiteral("/tmp/b.pdf"), true));
    test.fail(platform::Error(QStringLiteral("RVErrorDomain"), 42, QStringLiteral("Server said no.")));
    EXPECT_FALSE(uploader->busy());
    drainEvents();
    EXPECT_EQ(delegate.events.last(), QStringLiteral("failed 1 Server said no."));
}

TEST_F(UploaderTest, ServicePreconditionsRefuseWithoutChangingAnything) {
    auto uploader = registry.classForService(ServiceId::Generic)->create();
    static_cast<TestUploader&>(*uploader).ready = false;
    EXPECT_FALSE(uploader->uploadFile(QStringLiteral("/tmp/a.pdf"), true));
    EXPECT_FALSE(uploader->busy());
    EXPECT_TRUE(uploader->activeFile().isEmpty());
}

TEST_F(UploaderTest, AReportMadeWhileStartingArrivesAfterUploadFileReturned) {
    auto uploader = registry.classForService(ServiceId::Generic)->create();
    auto& test = static_cast<TestUploader&>(*uploader);
    test.linkWhileStarting = QUrl(QStringLiteral("https://example.org/quick"));
    RecordingDelegate delegate;
    uploader->setDelegate(&delegate);

    EXPECT_TRUE(uploader->uploadFile(QStringLiteral("/tmp/q.txt"), true));
    EXPECT_TRUE(delegate.events.isEmpty());
    drainEvents();
    EXPECT_EQ(delegate.events, QStringList{QStringLiteral("link https://example.org/quick /tmp/q.txt ")});
}

TEST_F(UploaderTest, ReportsOfADestroyedUploaderOrWithoutDelegateGoNowhere) {
    RecordingDelegate delegate;
    {
        auto uploader = registry.classForService(ServiceId::Generic)->create();
        static_cast<TestUploader&>(*uploader).linkWhileStarting =
            QUrl(QStringLiteral("https://example.org/late"));
        uploader->setDelegate(&delegate);
        uploader->uploadFile(QStringLiteral("/tmp/late.txt"), true);
    }
    drainEvents();
    EXPECT_TRUE(delegate.events.isEmpty());

    auto orphan = registry.classForService(ServiceId::Generic)->create();
    orphan->uploadFile(QStringLiteral("/tmp/x"), true);
    static_cast<TestUploader&>(*orphan).finish(QUrl(QStringLiteral("https://example.org/x")));
    EXPECT_FALSE(orphan->busy());
}

TEST_F(UploaderTest, CancelLeavesTheUploaderIdleAndAuthenticationIsOptionalForDelegates) {
    auto uploader = registry.classForService(ServiceId::Generic)->create();
    RecordingDelegate delegate; // does not implement the authentication report
    uploader->setDelegate(&delegate);
    uploader->uploadFile(QStringLiteral("/tmp/a"), true);
    uploader->cancelUpload();
    EXPECT_FALSE(uploader->busy());
    EXPECT_EQ(static_cast<TestUploader&>(*uploader).cancelCount, 1);
    static_cast<TestUploader&>(*uploader).finishAuthentication(std::nullopt);
    drainEvents();
    EXPECT_TRUE(delegate.events.isEmpty());
}

// Nothing after cancel: neither what was queued before it, nor what a callback of the cancelled run
// reports later, even once the next run is under way.
TEST_F(UploaderTest, NothingOfACancelledRunReachesTheDelegate) {
    auto uploader = registry.classForService(ServiceId::Generic)->create();
    auto& test = static_cast<TestUploader&>(*uploader);
    RecordingDelegate delegate;
    uploader->setDelegate(&delegate);

    uploader->uploadFile(QStringLiteral("/tmp/a"), true);
    test.progress(0.5);
    uploader->cancelUpload();
    test.finish(QUrl(QStringLiteral("https://example.org/a")));
    drainEvents();
    EXPECT_TRUE(delegate.events.isEmpty()) << delegate.events.join(u'\n').toStdString();

    const auto lateLinkOfA = test.linkLater;
    uploader->uploadFile(QStringLiteral("/tmp/b"), true);
    lateLinkOfA(QUrl(QStringLiteral("https://example.org/a")));
    EXPECT_TRUE(uploader->busy());
    test.linkLater(QUrl(QStringLiteral("https://example.org/b")));
    drainEvents();
    EXPECT_EQ(delegate.events, QStringList{QStringLiteral("link https://example.org/b /tmp/b ")});
}

} // namespace
} // namespace qm::test
