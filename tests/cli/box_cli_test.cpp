#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "fake_box.h"
#include "platform/url_relay.h"
#include "services/box/box_uploader.h"
#include "support/secret_service_session.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

// `quillmoor link box` and `send` against the Box fake, with a "browser" script that follows the sign-in
// page and returns through `quillmoor open-url`, as the desktop does for the claimed scheme.
class BoxCliTest : public ::testing::Test {
protected:
    BoxCliTest() {
        const QByteArray url = box.url().toString().toUtf8();
        const QString quillmoor = QCoreApplication::applicationDirPath() + QStringLiteral("/quillmoor");
        const QString browser = runner.path(QStringLiteral("browser.sh"));
        writeFile(
            browser,
            "#!/bin/sh\n'" + quillmoor.toUtf8() +
                "' open-url 'quillmoor://box-redirect?state=x&code=stolen'\n" // as a hostile page could
                "location=$(curl -s -o /dev/null -D - \"$1\" | sed -n 's/^[Ll]ocation: *//p' | tr -d '\\r')\n"
                "exec '" +
                quillmoor.toUtf8() + "' open-url \"$location\"\n");
        QFile::setPermissions(browser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const auto& [name, value] :
             {std::pair<const char*, QByteArray>{"QUILLMOOR_BOX_URL", url},
              {"QUILLMOOR_BOX_AUTH_URL", url},
              {"QUILLMOOR_BOX_UPLOAD_URL", url},
              {"QUILLMOOR_BOX_KEY", QByteArray::fromStdString(box.options().clientId)},
              {"QUILLMOOR_BOX_SECRET", QByteArray::fromStdString(box.options().clientSecret)},
              {"XDG_RUNTIME_DIR", runtime.path().toUtf8()},
              {"BROWSER", browser.toUtf8()}}) {
            saved_.append({name, qgetenv(name)});
            qputenv(name, value);
        }
        runner.services.registerService(
            std::make_unique<upload::BoxUploaderClass>(runner.serviceEnvironment, runner.bundle));
    }
    ~BoxCliTest() override {
        for (const auto& [name, value] : saved_)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    FakeBox box;
    QTemporaryDir runtime;
    CliRunner runner;
    QList<std::pair<const char*, QByteArray>> saved_;
};

TEST_F(BoxCliTest, LinkThroughTheBrowserThenSendStoresTheAttachmentsAndSendsTheirLinks) {
    // Another program waits for redirects, as the desktop host does. The forged redirect, which comes
    // first, would fail the link if it were taken.
    QStringList elsewhere;
    platform::UrlRelay other([&](const QString& url) { elsewhere.append(url); });
    ASSERT_TRUE(other.listen());
    ASSERT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("box")}), 0) << runner.err().toStdString();
    EXPECT_TRUE(waitUntil([&] { return elsewhere.size() == 2; }));
    EXPECT_TRUE(runner.err().contains(QStringLiteral("Open this address in a web browser: ") +
                                      box.url().toString() + QStringLiteral("/api/oauth2/authorize?")));
    EXPECT_TRUE(runner.services.isLinkedForService(upload::ServiceId::Box));
    EXPECT_EQ(runner.settings.integerForKey(accounts::keys::selectedService), 6);
    const std::string folder = runner.settings.stringForKey(accounts::keys::boxFolderId).toStdString();
    EXPECT_EQ(box.folders()[folder], "Quillmoor");

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    const auto files = box.filesIn(folder);
    ASSERT_FALSE(files.empty());
    for (const auto& file : files)
        EXPECT_EQ(file.sharedAccess, "open");
    EXPECT_TRUE(message.html.contains(QStringLiteral("https://app.box.com/s/")));
    EXPECT_TRUE(runner.leftovers().isEmpty()) << runner.leftovers().join(u' ').toStdString();

    EXPECT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("box")}), 0);
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::Box));
}

// Ctrl-C while the real program waits for the browser: it ends at once, stores nothing, and its relay
// socket goes with it.
TEST_F(BoxCliTest, CtrlCWhileWaitingForTheBrowserEndsTheLinkWithNothingStored) {
    SecretServiceSession keyring;
    ASSERT_TRUE(keyring.start()) << keyring.errorString().toStdString();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLMOOR_CONFIG_DIR"), runner.path(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), runner.path(QStringLiteral("data")));
    environment.insert(QStringLiteral("BROWSER"), QStringLiteral("true")); // opens nothing: no answer comes
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quillmoor"),
                {QStringLiteral("link"), QStringLiteral("box")});
    QByteArray said;
    const auto saidOrEnded = [&](const char* text) {
        return waitUntil([&] {
            said += child.readAllStandardError();
            return said.contains(text) || child.state() == QProcess::NotRunning;
        });
    };
    ASSERT_TRUE(saidOrEnded("Waiting for the sign-in in the browser")) << said.toStdString();
    ASSERT_EQ(child.state(), QProcess::Running) << said.toStdString();
    const auto listeners = [] {
        return QDir(platform::UrlRelay::folder())
            .entryList({QStringLiteral("url-relay*")}, QDir::System | QDir::Files)
            .size();
    };
    ASSERT_EQ(listeners(), 1);

    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(child.processId()), SIGINT);
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_LT(clock.elapsed(), 2000);
    said += child.readAllStandardError();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(child.exitCode(), 0);
    EXPECT_TRUE(said.contains("interrupted; nothing was stored.")) << said.toStdString();

    const auto items = keyring.secretTool({QStringLiteral("search"), QStringLiteral("--all"),
                                           QStringLiteral("account"), QStringLiteral("Quillmoor (Box)")});
    EXPECT_FALSE(items.output.contains("[/")) << items.output.toStdString();
    const platform::SettingsStore settings(runner.path(QStringLiteral("config/settings.plist")));
    EXPECT_FALSE(settings.objectForKey(accounts::keys::selectedService));
    EXPECT_FALSE(settings.objectForKey(accounts::keys::boxFolderId));
    EXPECT_EQ(listeners(), 0);
    EXPECT_EQ(runner.run({QStringLiteral("open-url"), QStringLiteral("quillmoor://box-redirect?code=abc")}),
              1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("no Quillmoor program is waiting")));
}

} // namespace
} // namespace qm::test::cli
