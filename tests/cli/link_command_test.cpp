#include "accounts/settings_keys.h"
#include "cli/link_command.h"
#include "cli_test_support.h"
#include "services/generic/generic_uploader.h"
#include "support/test_support.h"

#include <QDir>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

namespace keys = accounts::keys;

// `quillmoor link` with the real generic service on local folders.
class LinkCommandTest : public ::testing::Test {
protected:
    LinkCommandTest() {
        runner.services.registerService(
            std::make_unique<upload::GenericUploaderClass>(runner.serviceEnvironment, runner.bundle));
        QDir().mkpath(cloud());
    }
    QString cloud() const { return runner.path(QStringLiteral("cloud")); }
    QString cloudURL() const { return QUrl::fromLocalFile(cloud()).toString(); }

    CliRunner runner;
};

TEST_F(LinkCommandTest, ASuccessfulLinkWritesTheFieldsKeepsThePasswordAndSelectsTheService) {
    runner.setInput("s3cret-ü\n");
    const int status =
        runner.run({QStringLiteral("link"), QStringLiteral("GENERIC"), QStringLiteral("--login"),
                    QStringLiteral("ada"), QStringLiteral("--password-stdin"), QStringLiteral("--server"),
                    cloudURL(), QStringLiteral("--public-url"), cloudURL()});
    EXPECT_EQ(status, 0) << runner.err().toStdString();
    EXPECT_TRUE(runner.services.isLinkedForService(upload::ServiceId::Generic));
    EXPECT_EQ(runner.settings.integerForKey(keys::selectedService), 9);
    EXPECT_EQ(runner.settings.stringForKey(keys::genericLogin), QStringLiteral("ada"));
    EXPECT_EQ(runner.settings.stringForKey(keys::genericServer), cloudURL());
    EXPECT_EQ(runner.credentials.passwordFromKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                                          QStringLiteral("ada")),
              QStringLiteral("s3cret-ü"));
    EXPECT_FALSE(QFileInfo::exists(cloud() + QStringLiteral("/dummy.bin"))) << "the test file is removed";

    EXPECT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("9")}), 0);
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::Generic));
    EXPECT_FALSE(runner.credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                                                    QStringLiteral("ada")));
}

TEST_F(LinkCommandTest, AServerTextWithoutSchemeIsRefusedBeforeAnythingIsStored) {
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--server"),
                          QStringLiteral("files.example.org/uploads")}),
              1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral(
        "Invalid Server Address: The provided server address does not have the required format.")));
    EXPECT_FALSE(runner.settings.objectForKey(keys::genericServer));
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::Generic));
}

TEST_F(LinkCommandTest, APublicAddressThatDoesNotServeTheFolderFailsTheLinkAndDropsThePassword) {
    runner.setInput("pw\n");
    const QString elsewhere = QUrl::fromLocalFile(runner.path(QStringLiteral("elsewhere"))).toString();
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("Generic"), QStringLiteral("--login"),
                          QStringLiteral("ada"), QStringLiteral("--password-stdin"),
                          QStringLiteral("--server"), cloudURL(), QStringLiteral("--public-url"), elsewhere}),
              1);
    EXPECT_TRUE(runner.err().startsWith(QStringLiteral("Linking Error: Remote File could not be found at '")))
        << runner.err().toStdString();
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::Generic));
    EXPECT_FALSE(runner.settings.objectForKey(keys::selectedService));
    EXPECT_FALSE(runner.credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                                                    QStringLiteral("ada")));
    EXPECT_TRUE(QFileInfo::exists(cloud() + QStringLiteral("/dummy.bin")))
        << "the test file stays for the user to see";
}

TEST_F(LinkCommandTest, APasswordThatCannotBeStoredFailsTheLinkAndLeavesTheServiceUnlinked) {
    runner.setInput("s3cret\n");
    runner.secrets.locked = true;
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--login"),
                          QStringLiteral("ada"), QStringLiteral("--password-stdin"),
                          QStringLiteral("--server"), cloudURL()}),
              1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("the password could not be stored")))
        << runner.err().toStdString();
    EXPECT_FALSE(runner.out().contains(QStringLiteral("is linked")));
    EXPECT_FALSE(runner.services.isLinkedForService(upload::ServiceId::Generic));
    EXPECT_FALSE(runner.settings.objectForKey(keys::selectedService));
}

// A password written into the server address is kept in the credential store, never in the settings file.
TEST_F(LinkCommandTest, APasswordInTheServerAddressMovesToTheCredentialStore) {
    QUrl withSecret(cloudURL());
    withSecret.setUserName(QStringLiteral("ada"));
    withSecret.setPassword(QStringLiteral("s3cret"));
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--server"),
                          withSecret.toString()}),
              0)
        << runner.err().toStdString();
    EXPECT_EQ(runner.settings.stringForKey(keys::genericServer), cloudURL());
    EXPECT_EQ(runner.settings.stringForKey(keys::genericLogin), QStringLiteral("ada"));
    EXPECT_EQ(runner.credentials.passwordFromKeychainItem(QStringLiteral("Quillmoor (Generic)"),
                                                          QStringLiteral("ada")),
              QStringLiteral("s3cret"));
    EXPECT_FALSE(readFile(runner.path(QStringLiteral("config/settings.plist"))).contains("s3cret"));

    // Refused, with nothing stored: two passwords, or two different account names.
    runner.setInput("other\n");
    const QString server = runner.settings.stringForKey(keys::genericServer);
    EXPECT_EQ(
        runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--password-stdin"),
                    QStringLiteral("--server"), withSecret.toString()}),
        2);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("--password-stdin"))) << runner.err().toStdString();
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--login"),
                          QStringLiteral("bob"), QStringLiteral("--server"), withSecret.toString()}),
              2);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("--login"))) << runner.err().toStdString();
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--public-url"),
                          withSecret.toString()}),
              2);
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--folder"),
                          QStringLiteral("x")}),
              2);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("Generic takes no --folder")))
        << runner.err().toStdString();
    EXPECT_EQ(runner.settings.stringForKey(keys::genericLogin), QStringLiteral("ada"));
    EXPECT_EQ(runner.settings.stringForKey(keys::genericServer), server);
}

TEST_F(LinkCommandTest, ServicesAreNamedByNumberOrNameAndUnbuiltOnesAreRefused) {
    using qm::cli::LinkCommand;
    using upload::ServiceId;
    EXPECT_EQ(LinkCommand::serviceFromText(QStringLiteral("9")), ServiceId::Generic);
    EXPECT_EQ(LinkCommand::serviceFromText(QStringLiteral("owncloud")), ServiceId::OwnCloud);
    EXPECT_EQ(LinkCommand::serviceFromText(QStringLiteral("hightail")), ServiceId::YouSendIt);
    EXPECT_EQ(LinkCommand::serviceFromText(QStringLiteral("10")), std::nullopt);
    EXPECT_EQ(LinkCommand::serviceFromText(QStringLiteral("nowhere")), std::nullopt);

    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("nowhere")}), 2);
    EXPECT_EQ(runner.run({QStringLiteral("link"), QStringLiteral("dropbox")}), 1);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("Dropbox cannot be linked")));
    EXPECT_EQ(runner.run({QStringLiteral("unlink"), QStringLiteral("generic"), QStringLiteral("--login"),
                          QStringLiteral("x")}),
              2);
}

} // namespace
} // namespace qm::test::cli
