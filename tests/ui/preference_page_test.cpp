#include "accounts/settings_keys.h"
#include "services/built_in_services.h"
#include "support/test_host.h"
#include "support/test_support.h"
#include "ui/preference_module.h"
#include "ui/qt_ui_services.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::ui {
namespace {

using namespace qm::test;

namespace keys = accounts::keys;
using upload::ServiceId;

// The page in a preferences window of the test host, on the built-in services, with passwords in memory.
class PreferencePageTest : public ::testing::Test {
protected:
    PreferencePageTest()
        : settings(folder.filePath(QStringLiteral("settings.plist")))
        , credentials(secrets)
        , bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                 {QStringLiteral("en")})
        , environment{settings, credentials, bundle.name()}
        , context{host, settings, bundle, services} {
        upload::registerBuiltInServices(services, environment, bundle);
        window.resize(640, 480);
        module = std::make_unique<PreferenceModule>(context, &credentials, &holder);
        module->preferencesWindow = windowObject(host.runtime(), &window);
    }

    void select(ServiceId id) {
        (void)settings.setInteger(upload::serviceNumber(id), QString::fromLatin1(keys::selectedService));
        module->view()->setParent(&window);
        window.show();
        module->updateUI();
    }
    QLineEdit* field(QDialog* sheet, const char* name) {
        return sheet->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    // Presses Link on the page, fills the sheet and presses its Link button.
    QDialog* linkGeneric(const QString& server, const QString& login) {
        select(ServiceId::Generic);
        module->didPressLink();
        QDialog* sheet = module->currentAuthPanel();
        EXPECT_TRUE(sheet && sheet->isVisible());
        field(sheet, "server")->setText(server);
        field(sheet, "accountField")->setText(login);
        field(sheet, "passwordField")->setText(QStringLiteral("secret"));
        sheet->findChild<QPushButton*>(QStringLiteral("linkButton"))->click();
        return sheet;
    }
    QStringList alertTitles() {
        QStringList titles;
        for (const host::AlertRequest& alert : host.testUi().modalAlerts)
            titles.append(alert.title);
        return titles;
    }

    QTemporaryDir folder;
    platform::SettingsStore settings;
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials;
    platform::Bundle bundle;
    upload::ServiceEnvironment environment;
    upload::ServiceRegistry services;
    TestHost host;
    plugin::PluginContext context;
    LocalAuthUploaderHolder holder;
    QWidget window;
    std::unique_ptr<PreferenceModule> module;
};

TEST_F(PreferencePageTest, EveryRegisteredServiceIsInThePopUpWithItsIcon) {
    select(ServiceId::Generic);
    QComboBox* popUp = module->serviceButton();
    ASSERT_EQ(popUp->count(), upload::kServiceCount);
    for (const ServiceId id : upload::kAllServices)
        EXPECT_EQ(popUp->itemData(upload::serviceNumber(id), PreferenceModule::iconNameRole).toString(),
                  upload::serviceName(id) + QStringLiteral("_off_small"));
    EXPECT_EQ(module->linkButton()->text(), QStringLiteral("Link"));
}

TEST_F(PreferencePageTest, EmptyAccountNameDoesNothingAndKeepsTheSheet) {
    QDialog* sheet = linkGeneric(QStringLiteral("file:///nowhere"), QString());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(module->authUploader(), nullptr);
    EXPECT_TRUE(host.testUi().modalAlerts.isEmpty());
}

TEST_F(PreferencePageTest, BareHostNameIsRefusedAsInvalidServerAddress) {
    QDialog* sheet = linkGeneric(QStringLiteral("files.example.org"), QStringLiteral("ann"));
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("Invalid Server Address")});
    EXPECT_EQ(host.testUi().modalAlerts.first().informativeText,
              QStringLiteral("The provided server address does not have the required format."));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(module->authUploader(), nullptr);
}

TEST_F(PreferencePageTest, UnlinkingOwnCloudRemovesItsPasswordAndShowsNoSheet) {
    const QString label = services.keychainIdentifierForService(ServiceId::OwnCloud);
    (void)settings.setObject(QStringLiteral("ann"), QString::fromLatin1(keys::ownCloudEmail));
    (void)settings.setBool(true, QString::fromLatin1(keys::ownCloudLinked));
    ASSERT_TRUE(credentials.setPassword(QStringLiteral("pw"), label, QStringLiteral("ann")));
    select(ServiceId::OwnCloud);
    ASSERT_EQ(module->linkButton()->text(), QStringLiteral("Unlink"));
    module->didPressLink();
    EXPECT_EQ(module->currentAuthPanel(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return !module->keyringBusy(); }));
    EXPECT_FALSE(settings.boolForKey(QString::fromLatin1(keys::ownCloudLinked)));
    EXPECT_FALSE(credentials.checkForExistanceOfKeychainItem(label, QStringLiteral("ann")));
    EXPECT_EQ(module->linkButton()->text(), QStringLiteral("Link"));
}

TEST_F(PreferencePageTest, FailedLinkShakesAndKeepsTheSheet) {
    // Nothing listens on port 1 of the loopback address.
    QDialog* sheet = linkGeneric(QStringLiteral("ftp://127.0.0.1:1/files"), QStringLiteral("ann"));
    EXPECT_TRUE(module->authenticating());
    EXPECT_FALSE(field(sheet, "server")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return alertTitles().contains(QStringLiteral("Linking Error")); }, 20000));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_NE(sheet->findChild<QPropertyAnimation*>(), nullptr); // shaking
    EXPECT_TRUE(field(sheet, "server")->isEnabled());
    EXPECT_FALSE(services.isLinkedForService(ServiceId::Generic));
    EXPECT_TRUE(module->password(ServiceId::Generic).isEmpty());
    EXPECT_EQ(holder.authUploader(), nullptr);
}

TEST_F(PreferencePageTest, SuccessfulLinkClosesTheSheetAndShowsTheLinkedIcon) {
    QDir(folder.path()).mkdir(QStringLiteral("store"));
    QDialog* sheet = linkGeneric(QUrl::fromLocalFile(folder.filePath(QStringLiteral("store"))).toString(),
                                 QStringLiteral("ann"));
    ASSERT_TRUE(waitUntil([&] { return !sheet->isVisible() && !module->keyringBusy(); }, 20000));
    EXPECT_TRUE(alertTitles().isEmpty()) << alertTitles().join(u',').toStdString();
    EXPECT_TRUE(services.isLinkedForService(ServiceId::Generic));
    EXPECT_EQ(module->serviceButton()
                  ->itemData(upload::serviceNumber(ServiceId::Generic), PreferenceModule::iconNameRole)
                  .toString(),
              QStringLiteral("Generic_small"));
    EXPECT_EQ(credentials.passwordFromKeychainItem(services.keychainIdentifierForService(ServiceId::Generic),
                                                   QStringLiteral("ann")),
              QStringLiteral("secret"));
    EXPECT_EQ(settings.stringForKey(QString::fromLatin1(keys::genericLogin)), QStringLiteral("ann"));
}

TEST_F(PreferencePageTest, TemplateNeedsTheLinkListPlaceholder) {
    select(ServiceId::Generic);
    module->editInfoBoxTemplate();
    ASSERT_TRUE(module->infoBoxPanel()->isVisible());
    module->htmlEditorView()->setText(QStringLiteral("<div>no list</div>"));
    module->approveInfoBoxSheet();
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("Quillmoor Error")});
    EXPECT_TRUE(module->infoBoxPanel()->isVisible());

    module->resetInfoBoxSheet();
    EXPECT_TRUE(module->htmlEditorView()->text().contains(QStringLiteral("BOX_LINKLIST")));
    module->htmlEditorView()->setText(QStringLiteral("<div>BOX_LINKLIST_IMAGE</div>"));
    module->approveInfoBoxSheet();
    EXPECT_FALSE(module->infoBoxPanel()->isVisible());
    EXPECT_EQ(settings.stringForKey(QString::fromLatin1(keys::infoBoxTemplate)),
              QStringLiteral("<div>BOX_LINKLIST_IMAGE</div>"));
    // Kept for a person to look at.
    window.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/preferences_page.png"));
}

} // namespace
} // namespace qm::ui
