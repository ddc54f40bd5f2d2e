#include "cli_test_support.h"
#include "services/generic/generic_uploader.h"
#include "support/real_servers.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

// A whole message through `quillmoor`: linked to a real server, sent, rewritten, with the attachments
// stored on that server and published under a folder address.
class RealServerSendTest : public ::testing::TestWithParam<QString> {
protected:
    void SetUp() override {
        QString error;
        servers = sharedFileServers(&error);
        ASSERT_NE(servers, nullptr) << error.toStdString();
        upload::FileTransfer::Options options;
        options.knownHostsFile = runner.path(QStringLiteral("known_hosts"));
        runner.services.registerService(std::make_unique<upload::GenericUploaderClass>(
            runner.serviceEnvironment, runner.bundle, options));
    }
    CliRunner runner;
    FileServers* servers = nullptr;
};

TEST_P(RealServerSendTest, TheAttachmentsLandOnTheServerAndTheMessageLeavesWithTheirLinks) {
    const QString scheme = GetParam();
    const QString folderName =
        QStringLiteral("mail-%1-%2").arg(scheme).arg(QCoreApplication::applicationPid());
    const QString served = servers->folder(scheme) + u'/' + folderName;
    // The public address reaches the same folder the server writes to, as a web server on it would.
    const QString publicAddress = QUrl::fromLocalFile(served).toString();

    runner.setInput(QByteArray(FileServers::password) + '\n');
    ASSERT_EQ(
        runner.run({QStringLiteral("link"), QStringLiteral("generic"), QStringLiteral("--login"),
                    QString::fromLatin1(FileServers::user), QStringLiteral("--password-stdin"),
                    QStringLiteral("--server"), servers->url(scheme, u'/' + folderName + u'/').toString(),
                    QStringLiteral("--public-url"), publicAddress, QStringLiteral("--accept-host-key")}),
        0)
        << runner.err().toStdString();

    const QString sent = runner.path(QStringLiteral("sent.eml"));
    ASSERT_EQ(runner.sendUploadingEverything(QStringLiteral("html_attachments.eml"), sent), 0)
        << runner.err().toStdString();

    const ParsedMessage message = parseMessageFile(sent);
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    EXPECT_EQ(readFile(served + QStringLiteral("/report.pdf")), fixturePdf());
    const QStringList stored = QDir(served).entryList(QDir::Files);
    EXPECT_FALSE(stored.contains(QStringLiteral("dummy.bin")));
    for (const QString& name : stored)
        EXPECT_TRUE(message.html.contains(QUrl(publicAddress + u'/' + name).toString(QUrl::FullyEncoded)))
            << name.toStdString() << "\n"
            << message.html.toStdString();
}

// An SSH server met for the first time: its key is shown and recorded only with consent.
TEST_F(RealServerSendTest, LinkRecordsAnUnknownHostKeyOnlyWhenAccepted) {
    const QStringList arguments{QStringLiteral("link"),
                                QStringLiteral("generic"),
                                QStringLiteral("--login"),
                                QString::fromLatin1(FileServers::user),
                                QStringLiteral("--password-stdin"),
                                QStringLiteral("--server"),
                                servers->url(QStringLiteral("sftp"), QStringLiteral("/hostkey/")).toString()};
    runner.setInput(QByteArray(FileServers::password) + '\n');
    EXPECT_NE(runner.run(arguments), 0);
    EXPECT_TRUE(runner.err().contains(QStringLiteral("SHA256:"))) << runner.err().toStdString();
    EXPECT_FALSE(QFile::exists(runner.path(QStringLiteral("known_hosts"))));

    runner.setInput(QByteArray(FileServers::password) + '\n');
    ASSERT_EQ(runner.run(arguments + QStringList{QStringLiteral("--accept-host-key")}), 0)
        << runner.err().toStdString();
    EXPECT_EQ(readFile(runner.path(QStringLiteral("known_hosts"))), servers->knownHostsLine());
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerSendTest,
                         ::testing::Values(QStringLiteral("sftp"), QStringLiteral("http"),
                                           QStringLiteral("ftp")),
                         [](const ::testing::TestParamInfo<QString>& info) {
                             return info.param.toStdString();
                         });

} // namespace
} // namespace qm::test::cli
