#include "plugin/upload_controller.h"
#include "support/plugin_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

constexpr qint64 MiB = 1048576;

struct RecordingControllerDelegate final : plugin::UploadControllerDelegate {
    QList<QList<plugin::FileInfo>> linkSets;
    QList<std::pair<int, QString>> cancels;
    void receivedShareLinks(plugin::UploadController&, const QList<plugin::FileInfo>& files) override {
        linkSets.append(files);
    }
    void cancelWithStatus(plugin::UploadController&, upload::UploadStatus status,
                          const QString& message) override {
        cancels.append({static_cast<int>(status), message});
    }
};

class UploadControllerTest : public PluginFixture {
protected:
    UploadControllerTest() { linkService(); }

    QString sparseFile(const QString& name, qint64 bytes) {
        const QString path = folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(bytes));
        return path;
    }

    std::shared_ptr<TestComposeWindow> window = host.newComposeWindow();
    RecordingControllerDelegate delegate;
    plugin::UploadController controller{context, window, delegate};

    TestUploader& uploader() { return *testService->lastCreated; }
    double bar() { return host.testUi().interfaces.last().indicator->doubleValue(); }
};

TEST_F(UploadControllerTest, TheBarCountsBytesAcrossFilesAndNeverMovesBack) {
    const QString ten = sparseFile(QStringLiteral("ten.bin"), 10 * MiB);
    const QString thirty = sparseFile(QStringLiteral("thirty.bin"), 30 * MiB);
    ASSERT_TRUE(controller.uploadFiles({ten, thirty}, {QStringLiteral("a"), QStringLiteral("b")}, {}));
    EXPECT_EQ(bar(), 0);
    uploader().finish(QUrl(QStringLiteral("https://f/ten")));
    drainEvents();
    uploader().progress(0.5);
    drainEvents();
    EXPECT_DOUBLE_EQ(bar(), 62.5);
    uploader().progress(0.1); // a service that starts over must not pull the bar back
    drainEvents();
    EXPECT_DOUBLE_EQ(bar(), 62.5);
    EXPECT_EQ(controller.fileStatsArray()[1].value(plugin::file_info::sizePart).toULongLong(),
              static_cast<quint64>(3 * MiB));
}

TEST_F(UploadControllerTest, LinksAreMatchedByNameAndReportedOnceInOrder) {
    const QString a = sparseFile(QStringLiteral("a.pdf"), 100);
    const QString b = sparseFile(QStringLiteral("b.pdf"), 300);
    ASSERT_TRUE(controller.uploadFiles({a, b}, {QStringLiteral("a")}, {}));
    // Another folder, same name: the same file as far as the controller is concerned.
    uploader().finish(QUrl(QStringLiteral("https://f/a")), QUrl(QStringLiteral("https://icons/a.png")));
    drainEvents();
    EXPECT_TRUE(delegate.linkSets.isEmpty());
    EXPECT_EQ(uploader().started, (QStringList{a, b}));
    uploader().finish(QUrl(QStringLiteral("https://f/b")));
    drainEvents();
    ASSERT_EQ(delegate.linkSets.size(), 1);
    const auto& files = delegate.linkSets.first();
    EXPECT_EQ(files[0].value(plugin::file_info::linkURL).toUrl(), QUrl(QStringLiteral("https://f/a")));
    EXPECT_EQ(files[0].value(plugin::file_info::iconURL).toUrl(),
              QUrl(QStringLiteral("https://icons/a.png")));
    EXPECT_FALSE(files[1].contains(plugin::file_info::iconURL));
    EXPECT_EQ(files[1].value(plugin::file_info::size).toULongLong(), 300u);
    EXPECT_FALSE(host.testUi().interfaces.last().indicator->animating);
}

TEST_F(UploadControllerTest, FailureIsPassedOnWithItsTextAndCancelSilencesTheUploader) {
    const QString a = sparseFile(QStringLiteral("a.pdf"), 100);
    ASSERT_TRUE(controller.uploadFiles({a}, {QStringLiteral("a")}, {}));
    uploader().fail(platform::Error(QStringLiteral("RVErrorDomain"), 411,
                                    QStringLiteral("Unknown problem during share creation.")));
    drainEvents();
    ASSERT_EQ(delegate.cancels.size(), 1);
    EXPECT_EQ(delegate.cancels.first(),
              std::make_pair(1, QStringLiteral("Unknown problem during share creation.")));

    ASSERT_TRUE(controller.uploadFiles({a}, {QStringLiteral("a")}, {}));
    TestUploader& second = uploader();
    controller.cancelUpload();
    EXPECT_FALSE(controller.active());
    EXPECT_EQ(second.cancelCount, 1);
    EXPECT_EQ(delegate.cancels.last(), std::make_pair(2, QString()));
    second.finish(QUrl(QStringLiteral("https://f/late")));
    second.fail(platform::Error(QStringLiteral("x"), 1, QStringLiteral("late")));
    drainEvents();
    EXPECT_TRUE(delegate.linkSets.isEmpty());
    EXPECT_EQ(delegate.cancels.size(), 2);
}

TEST_F(UploadControllerTest, ARunEndsInactiveAndFailsWhenTheNextFileCannotStartOrALinkIsEmpty) {
    const QString a = sparseFile(QStringLiteral("a.pdf"), 100);
    const QString b = sparseFile(QStringLiteral("b.pdf"), 100);
    ASSERT_TRUE(controller.uploadFiles({a, b}, {QStringLiteral("a")}, {}));
    uploader().ready = false;
    uploader().finish(QUrl(QStringLiteral("https://f/a")));
    drainEvents();
    ASSERT_EQ(delegate.cancels.size(), 1);
    EXPECT_EQ(delegate.cancels.last().first, 1);
    EXPECT_FALSE(controller.active());

    ASSERT_TRUE(controller.uploadFiles({a}, {QStringLiteral("a")}, {}));
    uploader().finish(QUrl());
    drainEvents();
    ASSERT_EQ(delegate.cancels.size(), 2);
    EXPECT_TRUE(delegate.cancels.last().second.contains(QStringLiteral("'a.pdf'")))
        << delegate.cancels.last().second.toStdString();
    EXPECT_FALSE(controller.active());

    ASSERT_TRUE(controller.uploadFiles({a}, {QStringLiteral("a")}, {}));
    uploader().fail(platform::Error(QStringLiteral("x"), 1, QStringLiteral("down")));
    drainEvents();
    EXPECT_FALSE(controller.active());
    ASSERT_TRUE(controller.uploadFiles({a}, {QStringLiteral("a")}, {}));
    uploader().finish(QUrl(QStringLiteral("https://f/a")));
    drainEvents();
    EXPECT_EQ(delegate.linkSets.size(), 1);
    EXPECT_FALSE(controller.active());
}

TEST_F(UploadControllerTest, NothingStartsWithoutFilesOrService) {
    EXPECT_FALSE(controller.uploadFiles({}, {}, {}));
    services.setIsLinked(false, upload::ServiceId::Generic);
    EXPECT_FALSE(controller.uploadFiles({sparseFile(QStringLiteral("a"), 1)}, {}, {}));
    EXPECT_FALSE(controller.active());
}

// What the service's description says, not its identifier, makes the run ask for recipients.
TEST_F(UploadControllerTest, AServiceThatNeedsRecipientsGetsThemAndAnIndeterminateBar) {
    upload::ServiceDescription description =
        testDescription(upload::ServiceId::Droplr, QStringLiteral("TestRecipientServiceLinked"));
    description.needsRecipients = true;
    description.reportsProgress = false;
    services.registerService(std::make_unique<TestUploaderClass>(environment, description));
    EXPECT_TRUE(settings.setInteger(upload::serviceNumber(upload::ServiceId::Droplr),
                                    accounts::keys::selectedService));
    services.setIsLinked(true, upload::ServiceId::Droplr);
    auto* recipientService =
        static_cast<TestUploaderClass*>(services.classForService(upload::ServiceId::Droplr));
    const QString a = sparseFile(QStringLiteral("a.pdf"), 100);

    EXPECT_FALSE(controller.uploadFiles({a}, {QStringLiteral("a")}, {}));
    ASSERT_NE(recipientService->lastCreated, nullptr);
    EXPECT_TRUE(recipientService->lastCreated->started.isEmpty());

    EXPECT_TRUE(controller.uploadFiles({a}, {QStringLiteral("a")}, {QStringLiteral("ada@example.org")}));
    EXPECT_EQ(recipientService->lastCreated->recipients, QStringList{QStringLiteral("ada@example.org")});
    EXPECT_TRUE(host.testUi().interfaces.last().indicator->indeterminate);
    EXPECT_TRUE(host.testUi().interfaces.last().indicator->animating);
}

TEST_F(UploadControllerTest, RegistryKeepsOneControllerPerWindowByIdentity) {
    RecordingControllerDelegate other;
    plugin::UploadControllerRegistry registry(context, other);
    auto first = host.newComposeWindow();
    auto second = host.newComposeWindow();
    plugin::UploadController& one = registry.uploadControllerForDelegate(first);
    EXPECT_EQ(&registry.uploadControllerForDelegate(first), &one);
    EXPECT_NE(&registry.uploadControllerForDelegate(second), &one);
    EXPECT_EQ(registry.size(), 2);
    registry.removeUploadControllerForDelegate(first.get());
    EXPECT_EQ(registry.size(), 1);
    EXPECT_EQ(host.testUi().interfaces.size(), 3); // each controller loads its panel once
}

} // namespace
} // namespace qm::test
