#include "accounts/settings_keys.h"
#include "desktop/desktop_application.h"
#include "plugin/preferences_opener.h"
#include "services/built_in_services.h"
#include "support/test_support.h"
#include "support/test_uploader.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::desktop {
namespace {

using namespace qm::test;
namespace keys = accounts::keys;

// The desktop host with the plug-in loaded, a Generic service that is linked, a threshold every
// attachment passes, and sent messages written to a file.
class ComposeWindowTest : public ::testing::Test {
protected:
    explicit ComposeWindowTest(bool testService = false)
        : settings(folder.filePath(QStringLiteral("settings.plist")))
        , credentials(secrets)
        , bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                 {QStringLiteral("en")})
        , environment{settings, credentials, bundle.name()} {
        if (testService) {
            auto serviceClass = std::make_unique<TestUploaderClass>(
                environment,
                testDescription(upload::ServiceId::Generic, QString::fromLatin1(keys::genericLinked)));
            testClass = serviceClass.get();
            services.registerService(std::move(serviceClass));
        } else {
            upload::registerBuiltInServices(services, environment, bundle);
        }
        QDir(folder.path()).mkpath(QStringLiteral("store"));
        QDir(folder.path()).mkpath(QStringLiteral("work"));
        (void)settings.setInteger(9, QString::fromLatin1(keys::selectedService));
        (void)settings.setBool(true, QString::fromLatin1(keys::genericLinked));
        (void)settings.setObject(QStringLiteral("ann"), QString::fromLatin1(keys::genericLogin));
        (void)settings.setObject(QUrl::fromLocalFile(folder.filePath(QStringLiteral("store"))).toString(),
                                 QString::fromLatin1(keys::genericServer));
        (void)settings.setFloat(0.001, QString::fromLatin1(keys::minFileSize));
        (void)settings.setBool(true, QString::fromLatin1(keys::askBeforeUpload));
        (void)settings.setBool(true, QString::fromLatin1(keys::autoSendEmail));
        DeliverySettings delivery;
        delivery.destination.kind = cli::Destination::Kind::File;
        delivery.destination.file = folder.filePath(QStringLiteral("sent.eml"));
        app = std::make_unique<DesktopApplication>(
            DesktopApplication::Parts{settings, services, bundle, &credentials, delivery,
                                      folder.filePath(QStringLiteral("work")), nullptr});
        EXPECT_TRUE(app->start());
        window = app->newComposeWindow();
        window->from()->setText(QStringLiteral("Ann <ann@example.org>"));
        window->to()->setText(QStringLiteral("Bob <bob@example.org>"));
        window->subject()->setText(QStringLiteral("Plans"));
        window->body()->setHtml(QStringLiteral("<p>The plans are attached.</p>"));
        attachment = folder.filePath(QStringLiteral("plans.bin"));
        writeFile(attachment, QByteArray(64 * 1024, 'p'));
        window->addAttachment(attachment);
        window->resize(700, 560);
        window->show();
    }

    QMessageBox* openAlert() const {
        for (QMessageBox* box : window->findChildren<QMessageBox*>())
            if (box->isVisible())
                return box;
        return nullptr;
    }
    QWidget* progressSheet() const {
        for (QWidget* widget : window->findChildren<QWidget*>(QStringLiteral("progressPanel")))
            if (widget->isVisible())
                return widget;
        return nullptr;
    }

    QTemporaryDir folder;
    platform::SettingsStore settings;
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials;
    platform::Bundle bundle;
    upload::ServiceEnvironment environment;
    upload::ServiceRegistry services;
    TestUploaderClass* testClass = nullptr;
    std::unique_ptr<DesktopApplication> app;
    QPointer<ComposeWindow> window;
    QString attachment;
};

TEST_F(ComposeWindowTest, SendAsksUploadsWithTheProgressSheetAndSendsTheBox) {
    QStringList delivered;
    QObject::connect(window, &ComposeWindow::delivered,
                     [&](const QString& report) { delivered.append(report); });
    window->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/compose_window.png"));
    window->send();
    ASSERT_TRUE(waitUntil([&] { return openAlert() != nullptr; }));
    EXPECT_EQ(openAlert()->windowModality(), Qt::WindowModal);
    openAlert()->defaultButton()->click(); // upload
    bool progressShown = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            progressShown = progressShown || progressSheet();
            return !delivered.isEmpty();
        },
        20000));
    EXPECT_TRUE(progressShown);
    const QByteArray sent = readFile(folder.filePath(QStringLiteral("sent.eml")));
    EXPECT_TRUE(sent.contains("plans.bin"));
    EXPECT_FALSE(sent.contains("Content-Disposition: attachment")); // the file went to the service instead
    EXPECT_TRUE(QFileInfo::exists(folder.filePath(QStringLiteral("store/plans.bin"))));
    EXPECT_TRUE(sent.contains("To: Bob <bob@example.org>"));
}

TEST_F(ComposeWindowTest, ThePageIsAttachedToThePreferencesWindowOnceAndOpensThere) {
    ui::PreferencesWindow& preferences = app->host().preferences();
    const auto items = [&] {
        int count = 0;
        for (QAction* item : preferences.toolbar()->actions())
            count += item->objectName() == u"Quillmoor";
        return count;
    };
    EXPECT_TRUE(preferences.modules().contains(QStringLiteral("Quillmoor")));
    EXPECT_EQ(items(), 1);
    app->host()
        .runtime()
        .classNamed(QStringLiteral("NSPreferences"))
        ->invokeClassMethod(QStringLiteral("sharedPreferences"));
    EXPECT_EQ(items(), 1);
    plugin::showPluginPreferences(app->plugin().context());
    EXPECT_TRUE(preferences.isVisible());
    EXPECT_TRUE(app->preferenceModule().view()->isVisible());
    EXPECT_EQ(app->preferenceModule().linkButton()->text(), QStringLiteral("Unlink")); // Generic is linked
}

class ComposeCancelTest : public ComposeWindowTest {
protected:
    ComposeCancelTest()
        : ComposeWindowTest(true) {}
};

TEST_F(ComposeCancelTest, CancelInTheProgressSheetEndsTheRunAndSendsNothing) {
    window->send();
    ASSERT_TRUE(waitUntil([&] { return openAlert() != nullptr; }));
    openAlert()->defaultButton()->click();
    ASSERT_TRUE(waitUntil([&] { return progressSheet() != nullptr; }));
    ASSERT_TRUE(testClass->lastCreated);
    EXPECT_EQ(testClass->lastCreated->started.size(), 1);
    progressSheet()->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return progressSheet() == nullptr; }));
    drainEvents();
    EXPECT_EQ(openAlert(), nullptr); // a cancel by the user shows nothing
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("sent.eml"))));
    EXPECT_TRUE(window->isVisible());
}

} // namespace
} // namespace qm::desktop
