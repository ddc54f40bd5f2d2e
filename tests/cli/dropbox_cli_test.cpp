#include "accounts/settings_keys.h"
#include "cli_test_support.h"
#include "fake_dropbox.h"
#include "services/dropbox/dropbox_uploader.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

// `quillmoor link dropbox` and `send` against the Dropbox fake; the "browser" returns through
// `quillmoor open-url` with the db- address, which the URL handler gives the sign-in under way.
TEST(DropboxCliTest, LinkThroughTheBrowserThenSendThenUnlink) {
    FakeDropbox dropbox;
    QTemporaryDir runtime;
    CliRunner runner;
    const QByteArray url = dropbox.url().toString().toUtf8();
    const QString browser = runner.path(QStringLiteral("browser.sh"));
    writeFile(browser,
              "#!/bin/sh\n"
              "location=$(curl -s -o /dev/null -D - \"$1\" | sed -n 's/^[Ll]ocation: *//p' | tr -d '\\r')\n"
              "exec '" +
                  (QCoreApplication::applicationDirPath() + QStringLiteral("/quillmoor")).toUtf8() +
                  "' open-url \"$location\"\n");
    QFile::setPermissions(browser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QList<std::pair<const char*, QByteArray>> saved;
    for (const auto& [name, value] :
         {std::pair<const char*, QByteArray>{"QUILLMOOR_DROPBOX_URL", url},
          {"QUILLMOOR_DROPBOX_AUTH_URL", url},
          {"QUILLMOOR_DROPBOX_UPLOAD_URL", url},
          {"QUILLMOOR_DROPBOX_KEY", QByteArray::fromStdString(dropbox.options().appKey)},
          {"XDG_RUNTIME_DIR", runtime.path().toUtf8()},
          {"BROWSER", browser.toUtf8()}}) {
        saved.append({name, qgetenv(name)});
        qputenv(name, value);
    }
    runner.services.registerService(
        std::make_unique<upload::DropboxUploaderClass>(runner.serviceEnvironment));

    ASSERT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("dropbox")}), 0)
        << runner.err().toStdString();
    EXPECT_TRUE(runner.settings.boolForKey(accounts::keys::dropboxLinked));
    EXPECT_EQ(runner.settings.integerForKey(accounts::keys::selectedService), 0);

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();
    const ParsedMessage message = parseMessageFile(sent);
    EXPECT_TRUE(message.attachments.isEmpty());
    EXPECT_TRUE(message.html.contains(QStringLiteral("https://www.dropbox.com/s/")));
    EXPECT_FALSE(dropbox.files().empty());

    EXPECT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("dropbox")}), 0);
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::Dropbox));
    for (const auto& [name, value] : saved)
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
}

} // namespace
} // namespace qm::test::cli
