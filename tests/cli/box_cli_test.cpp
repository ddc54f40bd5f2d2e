#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "fake_box.h"
#include "platform/url_relay.h"
#include "services/box/box_uploader.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QFile>
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

} // namespace
} // namespace qm::test::cli
