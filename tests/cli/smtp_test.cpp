#include "cli_test_support.h"

#include "cli/exit_status.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test::cli {
namespace {

using Behaviour = AutoUploaderClass::Behaviour;

// A port on 127.0.0.1 that was free a moment ago: bound to port 0, read back, released.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// The real SMTP server (aiosmtpd, from Debian) in a process of its own, storing what it receives.
class SmtpSink {
public:
    ~SmtpSink() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Starts the server and waits (bounded) until it accepts connections; an explanation on failure.
    QString start(const QString& folder) {
        folder_ = folder;
        port_ = freePort();
        const QString python = QStringLiteral(QUILLMOOR_DEBIAN_PYTHON);
        if (python.isEmpty() || !QFileInfo(python).isExecutable())
            return QStringLiteral("Debian's python3 was not found; scripts/install-deps.sh installs it with python3-aiosmtpd");
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(python, {QStringLiteral(QUILLMOOR_SMTP_SERVER), QString::number(port_), folder});
        if (!process_.waitForStarted(5000))
            return QStringLiteral("the SMTP server did not start: ") + process_.errorString();
        QByteArray said;
        const bool ready = waitUntil([&] {
            said += process_.readAll();
            return said.contains("READY") || process_.state() == QProcess::NotRunning;
        }, 15000);
        if (!ready || !said.contains("READY"))
            return QStringLiteral("the SMTP server did not become ready: ") + QString::fromUtf8(said);
        return {};
    }

    QString url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(port_); }
    QString messagePath(int number) const { return QDir(folder_).filePath(QStringLiteral("%1.eml").arg(number)); }
    QStringList envelope(int number) const {
        return QString::fromUtf8(readFile(QDir(folder_).filePath(QStringLiteral("%1.envelope").arg(number))))
            .split(u'\n', Qt::SkipEmptyParts);
    }
    int received() const { return static_cast<int>(QDir(folder_).entryList({QStringLiteral("*.eml")}, QDir::Files).size()); }

private:
    QProcess process_;
    QString folder_;
    int port_ = 0;
};

class SmtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString problem = sink.start(cli.path(QStringLiteral("received")));
        // Never a skip: without the server this test has not shown anything.
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    }

    CliRunner cli;
    SmtpSink sink;
};

TEST_F(SmtpTest, TheReceivedMessageHasTheKeptAttachmentsByteForByteAndNoHiddenOnes) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0005, /*perFile=*/true);   // data.bin moves to the cloud, report.pdf stays
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--answer"), QStringLiteral("upload"), QStringLiteral("--smtp"),
                       sink.url(), fixturePath(QStringLiteral("html_attachments.eml"))}),
              qm::cli::ExitSent)
        << cli.err().toStdString();
    EXPECT_EQ(service.uploaded, QStringList{QStringLiteral("data.bin")});
    EXPECT_TRUE(cli.err().contains(QStringLiteral("submitted to ") + sink.url()));
    ASSERT_EQ(sink.received(), 1);

    const ParsedMessage message = parseMessageFile(sink.messagePath(1));
    ASSERT_TRUE(message.valid);
    EXPECT_EQ(message.headers.value(QStringLiteral("subject")), QStringLiteral("Quarterly report"));
    EXPECT_FALSE(message.headers.contains(QStringLiteral("bcc")));
    EXPECT_EQ(message.attachmentNames(), QStringList{QStringLiteral("report.pdf")});
    EXPECT_EQ(message.attachments.first().bytes, fixturePdf());
    EXPECT_EQ(message.attachments.first().mimeType, QStringLiteral("application/pdf"));
    EXPECT_TRUE(message.html.contains(QStringLiteral("https://files.example.net/s/data.bin")));
    EXPECT_FALSE(message.html.contains(QStringLiteral("object")));
    EXPECT_FALSE(message.html.contains(QStringLiteral("<!--")));
    EXPECT_TRUE(message.text.contains(QStringLiteral("here is the report and the raw data.")));

    // Bcc travels in the envelope only.
    EXPECT_EQ(sink.envelope(1), (QStringList{QStringLiteral("jane@example.org"), QStringLiteral("ada@example.com"),
                                             QStringLiteral("bob@example.com"), QStringLiteral("carol@example.com"),
                                             QStringLiteral("archive@example.org")}));
}

TEST_F(SmtpTest, ALargerMessageStreamsThroughAndArrivesWhole) {
    const QString input = cli.path(QStringLiteral("large.eml"));
    QByteArray payload(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    writeFile(input, "From: Sam <sam@example.net>\nTo: ada@example.com\nSubject: large\nMIME-Version: 1.0\n"
                     "Content-Type: multipart/mixed; boundary=x\n\n--x\nContent-Type: text/plain\n\n.leading dot\n..two\n"
                     "--x\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=large.bin\n"
                     "Content-Transfer-Encoding: base64\n\n" + payload.toBase64() + "\n--x--\n");
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--smtp"), sink.url(), input}), qm::cli::ExitSent)
        << cli.err().toStdString();
    ASSERT_EQ(sink.received(), 1);
    const ParsedMessage message = parseMessageFile(sink.messagePath(1));
    ASSERT_EQ(message.attachments.size(), 1);
    EXPECT_EQ(message.attachments.first().bytes, payload);
    EXPECT_EQ(message.text, QStringLiteral(".leading dot\n..two")) << "dot-stuffing is undone by the server";
}

TEST_F(SmtpTest, NoServerOnThePortMeansNotSentWithTheReason) {
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--smtp"), QStringLiteral("smtp://127.0.0.1:%1").arg(freePort()),
                       fixturePath(QStringLiteral("plain_text.eml"))}),
              qm::cli::ExitNotSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("SMTP submission to smtp://127.0.0.1:"))) << cli.err().toStdString();
    EXPECT_TRUE(cli.err().contains(QStringLiteral("the message was not sent.")));
    EXPECT_EQ(sink.received(), 0);
}

TEST_F(SmtpTest, AMessageWithoutRecipientsIsRefusedBeforeAnythingHappens) {
    const QString input = cli.path(QStringLiteral("norecipient.eml"));
    writeFile(input, "From: a@example.org\nSubject: nobody\nContent-Type: text/plain\n\nhello\n");
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--smtp"), sink.url(), input}), qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("no recipient")));
    EXPECT_EQ(sink.received(), 0);
}

} // namespace
} // namespace qm::test::cli
