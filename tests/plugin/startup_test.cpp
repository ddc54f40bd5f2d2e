#include "accounts/settings_keys.h"
#include "plugin/alert_panel.h"
#include "plugin/quillmoor_bundle.h"
#include "support/test_host.h"
#include "support/test_support.h"
#include "support/test_uploader.h"

#include "accounts/credential_store.h"
#include "platform/secret_store.h"
#include "platform/system_log.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;

// Points the user's data and config folders into a private place for the test's life.
class PrivateXdgFolders {
public:
    PrivateXdgFolders() {
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            saved_.append({name, qgetenv(name)});
            qputenv(name, folder_.filePath(QString::fromLatin1(name)).toUtf8());
        }
    }
    ~PrivateXdgFolders() {
        for (const auto& [name, value] : saved_)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    QString path(const QString& relative) const { return folder_.filePath(relative); }

private:
    QTemporaryDir folder_;
    QList<std::pair<const char*, QByteArray>> saved_;
};

class StartupTest : public ::testing::Test {
protected:
    explicit StartupTest(QVersionNumber version = QVersionNumber(10, 9))
        : host(hostOptions(version)) {}

    static TestHost::Options hostOptions(QVersionNumber version) {
        TestHost::Options options;
        options.systemVersion = version;
        options.composeClassName = plugin::QuillmoorBundle::composeWindowClassName(version);
        return options;
    }

    PrivateXdgFolders xdg;
    QTemporaryDir folder;
    TestHost host;
    platform::SettingsStore settings{folder.filePath(QStringLiteral("settings.plist"))};
    platform::Bundle bundle{QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                            {QStringLiteral("en")}};
    upload::ServiceRegistry services;
    QString work = [this] {
        QDir().mkpath(folder.filePath(QStringLiteral("work")));
        return folder.filePath(QStringLiteral("work"));
    }();
    plugin::QuillmoorBundle plugin{host, settings, bundle, services, work};

    // Box and Dropbox stand-ins that sign in through the browser; Dropbox returns through its own scheme.
    void registerBrowserServices() {
        auto box = std::make_unique<TestUploaderClass>(environment,
                                                       testDescription(upload::ServiceId::Box, "BoxOn"));
        auto dropbox = std::make_unique<TestUploaderClass>(
            environment, testDescription(upload::ServiceId::Dropbox, "DbOn"));
        dropbox->schemes = {QStringLiteral("db-q7m2x9k4p1w8z3r")};
        boxClass = box.get();
        dropboxClass = dropbox.get();
        services.registerService(std::move(box));
        services.registerService(std::move(dropbox));
    }
    // Delivers a URL event the way the host's event dispatch does.
    void openUrl(const QString& url) {
        host.application()->invoke(QStringLiteral("handleGURLAppleEvent:replyEvent:"), {url, QVariant()});
    }
    // A preferences page that counts its refreshes.
    int pageRefreshes = 0;
    void definePreferenceModule() {
        host::Class* module = host.runtime().addClass(QStringLiteral("RVQuillmoorPreferenceModule"));
        auto instance = std::make_shared<host::Object>(*module);
        module->addClassMethod(QStringLiteral("sharedInstance"),
                               [instance](const host::Invocation&) { return host::toVariant(instance); });
        module->addInstanceMethod(QStringLiteral("updateUI"), [this](const host::Invocation&) {
            ++pageRefreshes;
            return QVariant();
        });
    }

    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials{secrets};
    upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
    TestUploaderClass* boxClass = nullptr;
    TestUploaderClass* dropboxClass = nullptr;
};

TEST(ComposeWindowClassTest, FollowsTheHostsVersion) {
    EXPECT_EQ(plugin::QuillmoorBundle::composeWindowClassName(QVersionNumber(10, 8, 5)),
              QStringLiteral("MailDocumentEditor"));
    EXPECT_EQ(plugin::QuillmoorBundle::composeWindowClassName(QVersionNumber(10, 9)),
              QStringLiteral("DocumentEditor"));
    EXPECT_EQ(plugin::QuillmoorBundle::composeWindowClassName(QVersionNumber(11, 0)),
              QStringLiteral("DocumentEditor"));
}

TEST_F(StartupTest, InitializingWiresThePlugInOnceAndTheSendGoesThroughIt) {
    QStringList log;
    platform::SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    plugin.initialize();
    plugin.initialize();
    EXPECT_EQ(log.count(QStringLiteral("Loaded Bundle Quillmoor")), 1);

    host::Class* bundleClass = host.runtime().classNamed(QStringLiteral("RVQuillmoorBundle"));
    ASSERT_NE(bundleClass, nullptr);
    EXPECT_EQ(bundleClass->superclass(), host.runtime().classNamed(QStringLiteral("MVMailBundle")));
    EXPECT_EQ(host.registeredBundles, QStringList{QStringLiteral("RVQuillmoorBundle")});
    EXPECT_TRUE(bundleClass->invokeClassMethod(QStringLiteral("hasPreferencesPanel")).toBool());
    EXPECT_EQ(bundleClass->invokeClassMethod(QStringLiteral("preferencesOwnerClassName")).toString(),
              QStringLiteral("RVQuillmoorPreferenceModule"));

    // Defaults from the bundle are registered, and a message over the threshold meets the plug-in.
    EXPECT_TRUE(settings.boolForKey(keys::askBeforeUpload));
    auto window = host.newComposeWindow();
    const QString path = folder.filePath(QStringLiteral("big.bin"));
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(8 * 1048576));
    window->addAttachment({QStringLiteral("big"), path, {}, {}});
    host.pressSend(window);
    ASSERT_EQ(host.testUi().sheets.size(), 1);
    EXPECT_EQ(host.testUi().sheets.first().request.title, QStringLiteral("Quillmoor Attachment Reminder"));
    host.testUi().answerOpenSheet(host::AlertDefaultReturn);
    EXPECT_EQ(window->sent.size(), 1);
    // Interface loading runs through the plug-in's loaders, which hand English to the host's.
    const host::Class* loading = host.runtime().classNamed(QStringLiteral("NSBundle"));
    EXPECT_TRUE(
        loading->respondsToClassMethod(QStringLiteral("quillmoorLoadNibFile:externalNameTable:withZone:")));
    auto owner = std::make_shared<host::InterfaceOwner>(host::InterfaceOwner{bundle.bundlePath(), {}, {}});
    EXPECT_TRUE(host::loadInterfaceNamed(host.runtime(), QStringLiteral("UploadProgressView"), owner));
    EXPECT_TRUE(owner->loaded);
    // Host operations the plug-in does not replace in this build stay the host's.
    EXPECT_FALSE(host.runtime()
                     .classNamed(QStringLiteral("NSPreferences"))
                     ->respondsToClassMethod(QStringLiteral("quillmoorSharedPreferences")));
}

TEST_F(StartupTest, SupportFolderTemplateVersionAndUrlSchemes) {
    registerBrowserServices();
    writeFile(work + QStringLiteral("/old/left.pdf"), "x");
    writeFile(work + QStringLiteral("/stale.zip"), "x");
    EXPECT_TRUE(settings.setObject(QStringLiteral("0"), keys::version));
    plugin.initialize();

    EXPECT_TRUE(QFileInfo(xdg.path(QStringLiteral("XDG_DATA_HOME/quillmoor"))).isDir());
    EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/old/left.pdf")));
    EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/stale.zip")));
    EXPECT_TRUE(QFileInfo(work + QStringLiteral("/old")).isDir());
    EXPECT_TRUE(settings.stringForKey(keys::infoBoxTemplate).contains(QStringLiteral("BOX_LINKLIST")));
    EXPECT_EQ(settings.stringForKey(keys::version), bundle.version());

    const QString entry = xdg.path(QStringLiteral("XDG_DATA_HOME/applications/quillmoor.desktop"));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(entry); }));
    EXPECT_TRUE(
        readFile(entry).contains("MimeType=x-scheme-handler/quillmoor;x-scheme-handler/db-q7m2x9k4p1w8z3r;"));
    // xdg-mime records the default in the user's list of associations.
    const QString associations = xdg.path(QStringLiteral("XDG_CONFIG_HOME/mimeapps.list"));
    // xdg-mime rewrites the file once per scheme; both must end up there.
    EXPECT_TRUE(waitUntil(
        [&] {
            const QByteArray list = readFile(associations);
            return list.contains("x-scheme-handler/db-q7m2x9k4p1w8z3r=quillmoor.desktop") &&
                   list.contains("x-scheme-handler/quillmoor=quillmoor.desktop");
        },
        15000))
        << readFile(associations).toStdString();
}

TEST_F(StartupTest, ClassLookupTriesTheHostPrefixesAndRemembers) {
    host::Class* prefixed = host.runtime().addClass(QStringLiteral("MFMessageHeaders"));
    QStringList log;
    platform::SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    EXPECT_EQ(plugin.classLookup().classFromString(QStringLiteral("MessageHeaders")), prefixed);
    EXPECT_EQ(plugin.classLookup().classFromString(QStringLiteral("Nowhere")), nullptr);
    EXPECT_EQ(log, QStringList{QStringLiteral("WARNING: Could not find a class for Nowhere")});
    // A later class of the plain name does not displace the one found first.
    host.runtime().addClass(QStringLiteral("MessageHeaders"));
    EXPECT_EQ(plugin.classLookup().classFromString(QStringLiteral("MessageHeaders")), prefixed);
}

TEST_F(StartupTest, WelcomeAsksUntilSuppressedAndOpensThePreferences) {
    plugin.initialize();
    host.testUi().scriptModalResponses(
        {{host::AlertDefaultReturn, false}, {host::AlertAlternateReturn, true}});
    plugin.delegate().showWelcome();
    ASSERT_EQ(host.testUi().modalAlerts.size(), 1);
    EXPECT_EQ(host.testUi().modalAlerts.first().title, QStringLiteral("Welcome to Quillmoor"));
    EXPECT_TRUE(host.testUi().modalAlerts.first().showsSuppressionButton);
    EXPECT_EQ(host.preferencesShown, 1);

    plugin.delegate().showWelcome(); // "Not now", box ticked
    EXPECT_TRUE(settings.boolForKey(QStringLiteral("Welcome to Quillmoor")));
    plugin.delegate().showWelcome();
    EXPECT_EQ(host.testUi().modalAlerts.size(), 2);
    EXPECT_EQ(plugin::runAlertPanelWithCheckbox(plugin.context(), QStringLiteral("Welcome to Quillmoor"),
                                                QStringLiteral("x")),
              plugin::AlertSuppressed);

    EXPECT_TRUE(settings.setInteger(9, keys::selectedService));
    EXPECT_TRUE(settings.removeObjectForKey(QStringLiteral("Welcome to Quillmoor")));
    // A chosen service: no welcome, but once per process the notice of a plug-in not installed.
    plugin.delegate().showWelcome();
    ASSERT_EQ(host.testUi().modalAlerts.size(), 3);
    EXPECT_EQ(host.testUi().modalAlerts.last().title, QStringLiteral("More Plugins from Rovendal"));
    EXPECT_TRUE(host.testUi().modalAlerts.last().showsSuppressionButton);
    plugin.delegate().showWelcome();
    EXPECT_EQ(host.testUi().modalAlerts.size(), 3);
}

class LegacyStartupTest : public StartupTest {
protected:
    LegacyStartupTest()
        : StartupTest(QVersionNumber(10, 8, 5)) {}
};

TEST_F(LegacyStartupTest, AnOlderHostGetsThePlugInInItsOwnComposeClass) {
    plugin.initialize();
    EXPECT_TRUE(host.runtime()
                    .classNamed(QStringLiteral("MailDocumentEditor"))
                    ->instancesRespondTo(QStringLiteral("quillmoorSend:")));
    auto window = host.newComposeWindow();
    host.pressSend(window);
    EXPECT_EQ(window->sent.size(), 1);
}

} // namespace
} // namespace qm::test

namespace qm::test {
namespace {

TEST_F(StartupTest, ABoxRedirectGoesWholeToTheBoxSignInUnderWayWhateverTheSchemesCase) {
    registerBrowserServices();
    plugin.initialize();
    auto box = boxClass->create();
    box->authenticate();
    auto& signingIn = static_cast<TestUploader&>(*box);
    {
        const plugin::LinkingUploader::Scope linking(plugin.linkingUploader(), box.get(),
                                                     upload::ServiceId::Box);
        openUrl(QStringLiteral("QuillMoor://box-redirect?state=x&code=a%2Fb%3Dc&flag"));
        openUrl(QStringLiteral("quillmoor://box-redirect?state=denied"));
    }
    // Whole, so that the sign-in can check the state before it takes the code.
    EXPECT_EQ(signingIn.signInAnswers,
              (QStringList{QStringLiteral("QuillMoor://box-redirect?state=x&code=a%2Fb%3Dc&flag"),
                           QStringLiteral("quillmoor://box-redirect?state=denied")}));
    // Once the attempt is over, or while another service links, a Box redirect changes nothing.
    openUrl(QStringLiteral("quillmoor://box-redirect?code=late"));
    auto dropbox = dropboxClass->create();
    {
        const plugin::LinkingUploader::Scope linking(plugin.linkingUploader(), dropbox.get(),
                                                     upload::ServiceId::Dropbox);
        openUrl(QStringLiteral("quillmoor://box-redirect?code=other"));
    }
    EXPECT_EQ(signingIn.signInAnswers.size(), 2);
    EXPECT_TRUE(static_cast<TestUploader&>(*dropbox).signInAnswers.isEmpty());
    EXPECT_TRUE(host.hostHandledUrls.isEmpty());
}

TEST_F(StartupTest, OtherQuillmoorAddressesAndTheDropboxSchemeRefreshThePageAndOthersReachTheHost) {
    registerBrowserServices();
    definePreferenceModule();
    plugin.initialize();
    openUrl(QStringLiteral("quillmoor://linked"));
    EXPECT_EQ(pageRefreshes, 1);
    EXPECT_EQ(host.activations, 1);

    auto dropbox = dropboxClass->create();
    dropbox->authenticate();
    {
        const plugin::LinkingUploader::Scope linking(plugin.linkingUploader(), dropbox.get(),
                                                     upload::ServiceId::Dropbox);
        openUrl(QStringLiteral("DB-Q7M2X9K4P1W8Z3R://2/token?code=xyz&state=s"));
    }
    EXPECT_EQ(pageRefreshes, 2);
    EXPECT_EQ(static_cast<TestUploader&>(*dropbox).signInAnswers,
              QStringList{QStringLiteral("DB-Q7M2X9K4P1W8Z3R://2/token?code=xyz&state=s")});

    openUrl(QStringLiteral("mailto:ada@example.org"));
    openUrl(QStringLiteral("db-otherkey://1/connect"));
    EXPECT_EQ(host.hostHandledUrls, (QStringList{QStringLiteral("mailto:ada@example.org"),
                                                 QStringLiteral("db-otherkey://1/connect")}));
    EXPECT_EQ(pageRefreshes, 2);
}

} // namespace
} // namespace qm::test
