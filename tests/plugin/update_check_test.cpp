#include "accounts/settings_keys.h"
#include "platform/property_list.h"
#include "platform/system_log.h"
#include "plugin/update_check.h"
#include "support/test_host.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;

class UpdateCheckTest : public ::testing::Test {
protected:
    UpdateCheckTest() {
        for (const char* folder : {"opt", "applications", "library/Mail"})
            QDir().mkpath(root.filePath(QString::fromLatin1(folder)));
    }

    plugin::UpdateCheck check(plugin::PluginContext& context) {
        return plugin::UpdateCheck(context, {root.filePath(QStringLiteral("opt")),
                                             {root.filePath(QStringLiteral("applications"))},
                                             root.filePath(QStringLiteral("library"))});
    }
    plugin::UpdateCheck check() { return check(context); }

    void writeEntry(const QString& relative, const QByteArray& contents) {
        writeFile(root.filePath(relative), contents);
    }

    QStringList actionFiles() const {
        return QDir(root.filePath(QStringLiteral("library/Mail/MPT")))
            .entryList({QStringLiteral("*.mtperform")}, QDir::Files);
    }

    QTemporaryDir root;
    TestHost host;
    platform::SettingsStore settings{root.filePath(QStringLiteral("settings.plist"))};
    upload::ServiceRegistry services;
    platform::Bundle bundle{QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                            {QStringLiteral("en")}};
    plugin::PluginContext context{host, settings, bundle, services};
};

TEST_F(UpdateCheckTest, TheToolIsFoundByItsEntryOrInsideTheManager) {
    EXPECT_TRUE(check().locateTool().isNull());

    // A manager in the applications folder without the tool inside does not count.
    QDir().mkpath(root.filePath(QStringLiteral("opt/Mail Plugin Manager.app/Contents/Resources")));
    EXPECT_TRUE(check().locateTool().isNull());
    QDir().mkpath(
        root.filePath(QStringLiteral("opt/Mail Plugin Manager.app/Contents/Resources/MailPluginTool.app")));
    EXPECT_TRUE(check().locateTool().endsWith(QStringLiteral("Contents/Resources/MailPluginTool.app")));
    QDir(root.filePath(QStringLiteral("opt"))).removeRecursively();

    // A manager installed elsewhere is found by its entry's folder.
    QDir().mkpath(root.filePath(QStringLiteral("elsewhere/Contents/Resources/MailPluginTool.app")));
    writeEntry(QStringLiteral("applications/com.rovendal.MailPluginManager.desktop"),
               "[Desktop Entry]\nName=Mail Plugin Manager\nPath=" +
                   root.filePath(QStringLiteral("elsewhere")).toUtf8() + "\n");
    EXPECT_EQ(check().locateTool(),
              root.filePath(QStringLiteral("elsewhere/Contents/Resources/MailPluginTool.app")));

    writeEntry(QStringLiteral("applications/com.rovendal.MailPluginTool.desktop"),
               "[Desktop Entry]\nName=MailPluginTool\n");
    EXPECT_EQ(check().locateTool(),
              root.filePath(QStringLiteral("applications/com.rovendal.MailPluginTool.desktop")));
}

TEST_F(UpdateCheckTest, WithTheToolAnActionFileAsksForTheUpdate) {
    writeEntry(QStringLiteral("applications/com.rovendal.MailPluginTool.desktop"), "[Desktop Entry]\n");
    check().checkForUpdate();
    EXPECT_TRUE(settings.setBool(true, QString::fromLatin1(keys::downloadBetaUpdates)));
    check().checkForUpdate();

    const QStringList files = actionFiles();
    ASSERT_EQ(files.size(), 2); // a new name each time
    QStringList betas;
    for (const QString& name : files) {
        const auto action =
            platform::plist::readFile(root.filePath(QStringLiteral("library/Mail/MPT/") + name));
        ASSERT_TRUE(action);
        const QVariantMap map = action->toMap();
        EXPECT_EQ(map.value(QStringLiteral("action")).toString(), QStringLiteral("-update"));
        EXPECT_EQ(map.value(QStringLiteral("plugin-path")).toString(), bundle.bundlePath());
        betas.append(
            map.value(QStringLiteral("-sparkle-value")).toMap().value(QStringLiteral("beta")).toString());
    }
    betas.sort();
    EXPECT_EQ(betas, (QStringList{QStringLiteral("0"), QStringLiteral("1")}));
    EXPECT_TRUE(host.testUi().modalAlerts.isEmpty());
}

TEST_F(UpdateCheckTest, TheInboxIsMadeOnlyBelowAnExistingMailFolder) {
    QStringList log;
    platform::SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    QDir(root.filePath(QStringLiteral("library/Mail"))).removeRecursively();
    EXPECT_TRUE(check().writeActionFile().isNull());
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Unable to create the action file, since the required folder doesn't exist and I can't create it")));

    QDir().mkpath(root.filePath(QStringLiteral("library/Mail")));
    EXPECT_FALSE(check().writeActionFile().isNull());
}

TEST_F(UpdateCheckTest, AMissingToolIsReportedUntilTheUserSaysNoMore) {
    QStringList log;
    platform::SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    host.testUi().scriptModalResponses(
        {{host::AlertDefaultReturn, false}, {host::AlertAlternateReturn, true}});

    check().checkForUpdate();
    EXPECT_TRUE(host.testUi().modalAlerts.isEmpty()); // shown from the event loop, not inside the timer
    waitUntil([&] { return !host.testUi().modalAlerts.isEmpty(); });
    ASSERT_EQ(host.testUi().modalAlerts.size(), 1);
    const host::AlertRequest& alert = host.testUi().modalAlerts.first();
    EXPECT_EQ(alert.title,
              QStringLiteral(
                  "The Plugin \u2018Quillmoor\u2019 is trying to update, however the \u2018Mail Plugin "
                  "Manager\u2019 app is missing.\n\nIt is required by 'Quillmoor' to look for updates.\n"));
    EXPECT_EQ(alert.informativeText, QStringLiteral("Click \u2018Download\u2019 to download the latest "
                                                    "version, then put it into your Applications folder."));
    EXPECT_EQ(alert.defaultButton, QStringLiteral("Download"));
    EXPECT_EQ(alert.alternateButton, QStringLiteral("Cancel"));
    EXPECT_TRUE(alert.showsSuppressionButton);
    EXPECT_EQ(host.testUi().openedUrls,
              QList<QUrl>{QUrl(QStringLiteral("https://www.rovendal.com/mail-plugin-manager"))});
    EXPECT_FALSE(settings.boolForKey(QString::fromLatin1(keys::suppressMissingManagerAlert)));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "ERROR in MPTLaunchCommandForBundle() Macro: MailPluginTool application wasn't found anywhere")));

    check().checkForUpdate(); // "Cancel" with the box ticked
    waitUntil([&] { return host.testUi().modalAlerts.size() == 2; });
    EXPECT_TRUE(settings.boolForKey(QString::fromLatin1(keys::suppressMissingManagerAlert)));
    EXPECT_EQ(host.testUi().openedUrls.size(), 1);

    check().checkForUpdate();
    drainEvents();
    EXPECT_EQ(host.testUi().modalAlerts.size(), 2);
    EXPECT_EQ(
        log.count(QStringLiteral(
            "ERROR in MPTLaunchCommandForBundle() Macro: MailPluginTool application wasn't found anywhere")),
        3);
    EXPECT_TRUE(actionFiles().isEmpty());
}

TEST_F(UpdateCheckTest, ABundleWithoutAPathIsRefused) {
    QStringList log;
    platform::SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    const platform::Bundle none{QString()};
    plugin::PluginContext noBundle{host, settings, none, services};
    check(noBundle).checkForUpdate();
    EXPECT_EQ(log, QStringList{QStringLiteral(
                       "ERROR in MPTLaunchCommandForBundle() Macro: Cannot pass a nil bundle")});
}

} // namespace
} // namespace qm::test
