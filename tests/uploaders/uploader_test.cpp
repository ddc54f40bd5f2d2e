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

struct RecordingDelegate final : upload::UploaderDelegate {
    QStringList events;
    void uploadProgress(double fraction, const QString& file) override {
        events.append(QStringLiteral("progress %1 %2").arg(fraction).arg(file));
    }
    void uploadFailedWithStatus(int status, const platform::Error& error) override {
        events.append(QStringLiteral("failed %1 %2").arg(status).arg(error.localizedDescription));
    }
    void createdLink(const QUrl& link, const QString& file, const QUrl& icon) override {
        events.append(QStringLiteral("link %1 %2 %3").arg(link.toString(), file, icon.toString()));
    }
};

class UploaderTest : public ::testing::Test {
protected:
    UploaderTest() {
        auto generic = std::make_unique<TestUploaderClass>(environment, upload::serviceName(9), keys::genericLinked,
                                                           keys::genericLogin);
        auto dropbox = std::make_unique<TestUploaderClass>(environment, upload::serviceName(0), keys::dropboxLinked,
                                                           QString());
        registry.registerService(9, std::move(generic));
        registry.registerService(0, std::move(dropbox));
    }

    QTemporaryDir folder;
    platform::SettingsStore settings{folder.filePath(QStringLiteral("settings.plist"))};
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials{secrets};
    upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
    upload::ServiceRegistry registry;
};

TEST_F(UploaderTest, RegistryAnswersOnlyForBuiltServices) {
    EXPECT_EQ(registry.classForService(10), nullptr);
    EXPECT_EQ(registry.classForService(-1), nullptr);
    EXPECT_EQ(registry.classForService(7), nullptr);   // not built
    EXPECT_FALSE(registry.isLinkedForService(10));
    EXPECT_TRUE(registry.nameOfService(10).isNull());
    EXPECT_TRUE(registry.keychainIdentifierForService(7).isNull());
    registry.setIsLinked(true, 7);   // does nothing, and does not crash
    EXPECT_FALSE(registry.isLinkedForService(7));

    EXPECT_EQ(registry.nameOfService(9), QStringLiteral("Generic"));
    EXPECT_EQ(registry.keychainIdentifierForService(9), QStringLiteral("Quillmoor (Generic)"));
}

TEST_F(UploaderTest, ServiceNamesAreFixed) {
    const QStringList expected{QStringLiteral("Dropbox"),   QStringLiteral("Hightail"), QStringLiteral("CloudApp"),
                               QStringLiteral("Droplr"),    QStringLiteral("Dropmark"), QStringLiteral("MediaFire"),
                               QStringLiteral("Box"),       QStringLiteral("GoogleDrive"), QStringLiteral("ownCloud"),
                               QStringLiteral("Generic")};
    for (int id = 0; id < 10; ++id)
        EXPECT_EQ(upload::serviceName(id), expected[id]);
    EXPECT_TRUE(upload::serviceName(10).isNull());
}

TEST_F(UploaderTest, UnlinkingClearsTheFlagAndRemovesOnlyTheCurrentAccountsPassword) {
    settings.setObject(QStringLiteral("alice"), keys::genericLogin);
    credentials.setPassword(QStringLiteral("pw-alice"), QStringLiteral("Quillmoor (Generic)"), QStringLiteral("alice"));
    credentials.setPassword(QStringLiteral("pw-bob"), QStringLiteral("Quillmoor (Generic)"), QStringLiteral("bob"));
    credentials.setPassword(QStringLiteral("pw-other"), QStringLiteral("Quillmoor (ownCloud)"), QStringLiteral("alice"));

    registry.setIsLinked(true, 9);
    EXPECT_TRUE(registry.isLinkedForService(9));
    EXPECT_EQ(credentials.passwordFromKeychainItem(QStringLiteral("Quillmoor (Generic)"), QStringLiteral("alice")),
              QStringLiteral("pw-alice"));   // linking touches no password

    registry.setIsLinked(false, 9);
    EXPECT_FALSE(registry.isLinkedForService(9));
    EXPECT_FALSE(settings.objectForKey(keys::genericLinked)->toBool());
    EXPECT_FALSE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (Generic)"), QStringLiteral("alice")));
    EXPECT_TRUE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (Generic)"), QStringLiteral("bob")));
    EXPECT_TRUE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (ownCloud)"), QStringLiteral("alice")));
}

TEST_F(UploaderTest, AServiceWithoutAccountKeyUnlinksByItsFlagOnly) {
    registry.setIsLinked(true, 0);
    EXPECT_TRUE(settings.boolForKey(keys::dropboxLinked));
    registry.setIsLinked(false, 0);
    EXPECT_FALSE(registry.isLinkedForService(0));
    EXPECT_EQ(secrets.size(), 0);
}

TEST_F(UploaderTest, ASecondUploadWhileBusyIsRefused) {
    auto uploader = registry.classForService(9)->create();
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
    EXPECT_TRUE(delegate.events.isEmpty());   // delivered from the event loop, in order
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
    auto uploader = registry.classForService(9)->create();
    static_cast<TestUploader&>(*uploader).ready = false;
    EXPECT_FALSE(uploader->uploadFile(QStringLiteral("/tmp/a.pdf"), true));
    EXPECT_FALSE(uploader->busy());
    EXPECT_TRUE(uploader->activeFile().isEmpty());
}

TEST_F(UploaderTest, AReportMadeWhileStartingArrivesAfterUploadFileReturned) {
    auto uploader = registry.classForService(9)->create();
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
        auto uploader = registry.classForService(9)->create();
        static_cast<TestUploader&>(*uploader).linkWhileStarting = QUrl(QStringLiteral("https://example.org/late"));
        uploader->setDelegate(&delegate);
        uploader->uploadFile(QStringLiteral("/tmp/late.txt"), true);
    }
    drainEvents();
    EXPECT_TRUE(delegate.events.isEmpty());

    auto orphan = registry.classForService(9)->create();
    orphan->uploadFile(QStringLiteral("/tmp/x"), true);
    static_cast<TestUploader&>(*orphan).finish(QUrl(QStringLiteral("https://example.org/x")));
    EXPECT_FALSE(orphan->busy());
}

TEST_F(UploaderTest, CancelLeavesTheUploaderIdleAndAuthenticationIsOptionalForDelegates) {
    auto uploader = registry.classForService(9)->create();
    RecordingDelegate delegate;   // does not implement the authentication report
    uploader->setDelegate(&delegate);
    uploader->uploadFile(QStringLiteral("/tmp/a"), true);
    uploader->cancelUpload();
    EXPECT_FALSE(uploader->busy());
    EXPECT_EQ(static_cast<TestUploader&>(*uploader).cancelCount, 1);
    static_cast<TestUploader&>(*uploader).finishAuthentication(std::nullopt);
    drainEvents();
    EXPECT_TRUE(delegate.events.isEmpty());
}

} // namespace
} // namespace qm::test
