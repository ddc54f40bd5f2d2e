#include "cli_test_support.h"

#include "accounts/settings_keys.h"
#include "cli/exit_status.h"
#include "support/test_support.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace qm::test::cli {
namespace {

using Behaviour = AutoUploaderClass::Behaviour;

class SendCommandTest : public ::testing::Test {
protected:
    int send(const QStringList& options, const QString& fixture) {
        return cli.run(QStringList{QStringLiteral("send")} + options + QStringList{fixturePath(fixture)});
    }
    QString out() const { return cli.path(QStringLiteral("sent.eml")); }
    QStringList toOut() const { return {QStringLiteral("--out"), out()}; }
    ParsedMessage sent() const { return parseMessageFile(out()); }

    CliRunner cli;
};

TEST_F(SendCommandTest, BelowTheThresholdTheMessageIsSentAtOnce) {
    EXPECT_EQ(send(toOut(), QStringLiteral("html_attachments.eml")), qm::cli::ExitSent) << cli.err().toStdString();
    EXPECT_FALSE(cli.err().contains(QStringLiteral("Reminder")));
    const ParsedMessage message = sent();
    ASSERT_TRUE(message.valid);
    EXPECT_EQ(message.attachmentNames(), (QStringList{QStringLiteral("report.pdf"), QStringLiteral("data.bin")}));
    ASSERT_TRUE(message.attachmentNamed(QStringLiteral("data.bin")));
    EXPECT_EQ(message.attachmentNamed(QStringLiteral("data.bin"))->bytes, fixtureBinary());
}

TEST_F(SendCommandTest, WithoutAServiceTheReminderAppearsAndSendSendsTheAttachments) {
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("send")} + toOut(), QStringLiteral("alternative_attachments.eml")),
              qm::cli::ExitSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("Quillmoor Attachment Reminder")));
    EXPECT_TRUE(cli.err().contains(QStringLiteral("As you have not yet configured any cloud services")));
    EXPECT_TRUE(cli.err().contains(QStringLiteral("-> Send Attachments (--answer send)")));
    EXPECT_EQ(sent().attachmentNames(), (QStringList{QStringLiteral("photo.png"), QStringLiteral("data.bin")}));
}

TEST_F(SendCommandTest, ConfigureIsNotAvailableHere) {
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("configure")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitNotSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("preferences are not available in the command-line host")));
    EXPECT_FALSE(QFileInfo::exists(out()));
}

TEST_F(SendCommandTest, ASheetWithoutAnswerStopsBeforeAnythingHappens) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(toOut(), QStringLiteral("html_attachments.eml")), qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("Quillmoor Attachment Reminder")));
    EXPECT_TRUE(cli.err().contains(QStringLiteral("needs an answer")));
    EXPECT_TRUE(service.uploaded.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out()));
}

TEST_F(SendCommandTest, AnAnswerTheSheetDoesNotOfferIsAUsageError) {
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("no \"Upload Attachments\" button")));
}

TEST_F(SendCommandTest, APersonAnswersAtTheTerminal) {
    cli.setThreshold(0.0001);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "1\n", 2), 2);
    ::close(fds[1]);
    cli.promptFd = fds[0];
    EXPECT_EQ(send(toOut(), QStringLiteral("html_attachments.eml")), qm::cli::ExitSent) << cli.err().toStdString();
    ::close(fds[0]);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("Choose 1-2: ")));
    EXPECT_EQ(sent().attachments.size(), 2);
}

TEST_F(SendCommandTest, UploadReplacesTheAttachmentsWithTheDownloadBox) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitSent)
        << cli.err().toStdString();
    EXPECT_EQ(service.uploaded, (QStringList{QStringLiteral("report.pdf"), QStringLiteral("data.bin")}));
    EXPECT_TRUE(cli.err().contains(QStringLiteral("Uploading: 100%")));
    const ParsedMessage message = sent();
    ASSERT_TRUE(message.valid);
    EXPECT_TRUE(message.attachments.isEmpty());
    EXPECT_EQ(message.structure.first(), QStringLiteral("multipart/alternative"));
    EXPECT_TRUE(message.html.contains(QStringLiteral("QuillmoorAttachmentInfo")));
    EXPECT_TRUE(message.html.contains(QStringLiteral("https://files.example.net/s/report.pdf")));
    EXPECT_TRUE(message.text.contains(QStringLiteral("https://files.example.net/s/data.bin")));
    EXPECT_FALSE(message.html.contains(QStringLiteral("<object")));
    EXPECT_FALSE(message.html.contains(QStringLiteral("<!--")));
}

TEST_F(SendCommandTest, PerFileOnlyTheLargeAttachmentMovesAndTheSmallOneIsKept) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0005, /*perFile=*/true);   // about 524 bytes: data.bin (1024) moves, report.pdf stays
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitSent)
        << cli.err().toStdString();
    EXPECT_EQ(service.uploaded, QStringList{QStringLiteral("data.bin")});
    const ParsedMessage message = sent();
    EXPECT_EQ(message.attachmentNames(), QStringList{QStringLiteral("report.pdf")});
    EXPECT_EQ(message.attachments.first().bytes, fixturePdf());
    EXPECT_TRUE(message.html.contains(QStringLiteral("https://files.example.net/s/data.bin")));
    EXPECT_FALSE(message.html.contains(QStringLiteral("object")));
}

TEST_F(SendCommandTest, TheBoxGoesBeforeTheQuotedMessageOfAReply) {
    cli.linkService(Behaviour::Link);
    cli.setThreshold(0.00001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("reply_quoted.eml")),
              qm::cli::ExitSent);
    const ParsedMessage message = sent();
    const qsizetype box = message.html.indexOf(QStringLiteral("QuillmoorAttachmentInfo"));
    ASSERT_GE(box, 0);
    EXPECT_LT(message.html.indexOf(QStringLiteral("Thanks, my notes")), box);
    EXPECT_LT(box, message.html.indexOf(QStringLiteral("Jane Doe wrote:")));
}

TEST_F(SendCommandTest, PlainTextMessageGetsAPlainTextBox) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("non_ascii_names.eml")),
              qm::cli::ExitSent)
        << cli.err().toStdString();
    EXPECT_EQ(service.uploaded.size(), 3);
    const ParsedMessage message = sent();
    EXPECT_EQ(message.structure, QStringList{QStringLiteral("text/plain")});
    EXPECT_TRUE(message.text.startsWith(QStringLiteral("Anbei die Dateien mit Umlauten im Namen.\n")));
    EXPECT_TRUE(message.text.contains(QStringLiteral("  - Übersicht März.pdf (")));
    EXPECT_TRUE(message.text.contains(QStringLiteral("https://files.example.net/s/")));
    EXPECT_FALSE(message.text.contains(u'<'));
}

TEST_F(SendCommandTest, WithoutAutomaticSendingTheHostPressesSendOnceTheLinksAreIn) {
    cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    cli.settings.setBool(false, QString::fromLatin1(accounts::keys::autoSendEmail));
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitSent)
        << cli.err().toStdString();
    EXPECT_TRUE(sent().html.contains(QStringLiteral("https://files.example.net/s/data.bin")));
}

TEST_F(SendCommandTest, AFailedUploadSendsNothingAndSaysWhy) {
    cli.linkService(Behaviour::Fail);
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitNotSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("Quillmoor Error\nThe test server refused report.pdf.")));
    EXPECT_TRUE(cli.err().contains(QStringLiteral("not uploaded. Nothing was sent.")));
    EXPECT_FALSE(QFileInfo::exists(out()));
}

TEST_F(SendCommandTest, CancelSendsNothing) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("cancel")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitNotSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("cancelled. Nothing was sent.")));
    EXPECT_TRUE(service.uploaded.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out()));
}

TEST_F(SendCommandTest, CtrlCDuringTheUploadCancelsIt) {
    auto& service = cli.linkService(Behaviour::Hang);
    cli.setThreshold(0.0001);
    QTimer interrupt;
    interrupt.setInterval(5);
    QObject::connect(&interrupt, &QTimer::timeout, [&] {
        if (!service.uploaded.isEmpty()) {
            interrupt.stop();
            ::raise(SIGINT);
        }
    });
    interrupt.start();
    EXPECT_EQ(send(QStringList{QStringLiteral("--answer"), QStringLiteral("upload")} + toOut(), QStringLiteral("html_attachments.eml")),
              qm::cli::ExitNotSent);
    EXPECT_EQ(service.cancelled, 1);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("cancelled. Nothing was sent.")));
    EXPECT_FALSE(QFileInfo::exists(out()));
}

TEST_F(SendCommandTest, MessageFromStandardInputAndToStandardOutput) {
    const int input = ::open(QFile::encodeName(fixturePath(QStringLiteral("alternative_attachments.eml"))).constData(), O_RDONLY);
    const QString outputPath = cli.path(QStringLiteral("stdout.eml"));
    const int output = ::open(QFile::encodeName(outputPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);
    cli.inputFd = input;
    cli.messageOutputFd = output;
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("-")}), qm::cli::ExitSent) << cli.err().toStdString();
    ::close(input);
    ::close(output);
    EXPECT_TRUE(cli.err().isEmpty()) << cli.err().toStdString();
    const ParsedMessage message = parseMessageFile(outputPath);
    EXPECT_EQ(message.headers.value(QStringLiteral("subject")), QStringLiteral("Photos and data"));
    ASSERT_TRUE(message.attachmentNamed(QStringLiteral("photo.png")));
    EXPECT_EQ(message.attachmentNamed(QStringLiteral("photo.png"))->bytes, fixturePng());
}

TEST_F(SendCommandTest, UnreadableMessagesAndBadUsageExitWithTwo) {
    EXPECT_EQ(send(toOut(), QStringLiteral("malformed_no_boundary.eml")), qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("malformed message: a multipart has no boundary parameter")));
    EXPECT_EQ(send(toOut(), QStringLiteral("malformed_not_a_message.eml")), qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("not a message")));
    EXPECT_EQ(send(toOut(), QStringLiteral("absent.eml")), qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("no such file")));
    EXPECT_FALSE(QFileInfo::exists(out()));
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--bogus"), QStringLiteral("x.eml")}), qm::cli::ExitUsage);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("usage: quillmoor send")));
}

TEST_F(SendCommandTest, TheMessageFileIsNeverTheOutput) {
    const QString copy = cli.path(QStringLiteral("message.eml"));
    ASSERT_TRUE(QFile::copy(fixturePath(QStringLiteral("plain_text.eml")), copy));
    const QByteArray before = readFile(copy);
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--out"), copy, copy}), qm::cli::ExitUsage);
    EXPECT_EQ(readFile(copy), before);
}

TEST_F(SendCommandTest, SendmailGetsTheMessageWithBccAndItsOptions) {
    const QString program = cli.path(QStringLiteral("sendmail"));
    writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\ncat > \"$0.message\"\n");
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    cli.sendmailProgram = program;
    EXPECT_EQ(send({QStringLiteral("--sendmail")}, QStringLiteral("html_attachments.eml")), qm::cli::ExitSent) << cli.err().toStdString();
    EXPECT_EQ(readFile(program + QStringLiteral(".args")), QByteArray("-t\n-i\n"));
    const ParsedMessage message = parseMessageFile(program + QStringLiteral(".message"));
    EXPECT_EQ(message.headers.value(QStringLiteral("bcc")), QStringLiteral("archive@example.org")) << "sendmail -t removes it";
    ASSERT_TRUE(message.attachmentNamed(QStringLiteral("report.pdf")));
    EXPECT_EQ(message.attachmentNamed(QStringLiteral("report.pdf"))->bytes, fixturePdf());
}

TEST_F(SendCommandTest, AFailingSendmailMeansNotSent) {
    const QString program = cli.path(QStringLiteral("sendmail"));
    writeFile(program, "#!/bin/sh\ncat > /dev/null\necho 'sendmail: queue unavailable' >&2\nexit 75\n");
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    cli.sendmailProgram = program;
    EXPECT_EQ(send({QStringLiteral("--sendmail")}, QStringLiteral("html_attachments.eml")), qm::cli::ExitNotSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("exited with status 75")));
    cli.sendmailProgram = cli.path(QStringLiteral("missing-sendmail"));
    EXPECT_EQ(send({QStringLiteral("--sendmail")}, QStringLiteral("html_attachments.eml")), qm::cli::ExitNotSent);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("cannot run")));
}

qint64 peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A message with one attachment of `bytes` pseudo-random bytes, written as it is generated.
QByteArray writeLargeMessage(const QString& path, qint64 bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("From: a@example.org\nTo: b@example.org\nSubject: big\nMIME-Version: 1.0\n"
               "Content-Type: multipart/mixed; boundary=big\n\n--big\nContent-Type: text/plain\n\nThe file.\n"
               "--big\nContent-Type: application/octet-stream; name=big.bin\nContent-Disposition: attachment; filename=big.bin\n"
               "Content-Transfer-Encoding: base64\n\n");
    QRandomGenerator random(42);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk(57 * 1024, Qt::Uninitialized);
    for (qint64 done = 0; done < bytes; done += chunk.size()) {
        random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        hash.addData(chunk);
        const QByteArray encoded = chunk.toBase64();
        for (qsizetype line = 0; line < encoded.size(); line += 76)
            file.write(encoded.mid(line, 76) + '\n');
    }
    file.write("--big--\n");
    return hash.result();
}

TEST_F(SendCommandTest, MemoryStaysFlatWhateverTheSizeOfTheAttachment) {
    constexpr qint64 size = 48 * 57 * 1024 * 19;   // about 51 MiB
    const QString input = cli.path(QStringLiteral("big.eml"));
    const QByteArray digest = writeLargeMessage(input, size);
    const qint64 before = peakResidentKiB();
    EXPECT_EQ(cli.run({QStringLiteral("send"), QStringLiteral("--answer"), QStringLiteral("send"), QStringLiteral("--out"), out(), input}),
              qm::cli::ExitSent)
        << cli.err().toStdString();
    const qint64 grown = peakResidentKiB() - before;
    EXPECT_LT(grown, 16 * 1024) << "KiB more at the peak for a " << size / 1048576 << " MiB attachment";

    const ParsedMessage message = sent();
    ASSERT_EQ(message.attachments.size(), 1);
    EXPECT_EQ(message.attachments.first().bytes.size(), size);
    EXPECT_EQ(QCryptographicHash::hash(message.attachments.first().bytes, QCryptographicHash::Sha256), digest);
}

} // namespace
} // namespace qm::test::cli
