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

#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test::cli {
namespace {

using Behaviour = AutoUploaderClass::Behaviour;
using qm::cli::ExitNotSent;
using qm::cli::ExitSent;
using qm::cli::ExitUsage;

// `quillmoor send [--answer ANSWER] --out sent.eml FIXTURE` in `runner`.
int send(CliRunner& runner, const QString& answer,
         const QString& fixture = QStringLiteral("html_attachments.eml")) {
    QStringList arguments{"send"};
    if (!answer.isEmpty())
        arguments << "--answer" << answer;
    return runner.run(arguments << "--out" << runner.path("sent.eml") << fixturePath(fixture));
}
ParsedMessage sent(const CliRunner& runner) {
    return parseMessageFile(runner.path("sent.eml"));
}
bool nothingSent(const CliRunner& runner) {
    return !QFileInfo::exists(runner.path("sent.eml"));
}

// A sendmail that records its arguments and message next to itself, after `script`.
QString fakeSendmail(CliRunner& runner, const QByteArray& script) {
    const QString program = runner.path("sendmail");
    writeFile(program, "#!/bin/sh\n" + script);
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return runner.sendmailProgram = program;
}

class SendCommandTest : public ::testing::Test {
protected:
    CliRunner cli;
};

TEST_F(SendCommandTest, BelowTheThresholdTheMessageIsSentAtOnce) {
    EXPECT_EQ(send(cli, {}), ExitSent) << cli.err().toStdString();
    EXPECT_FALSE(cli.err().contains("Reminder"));
    const ParsedMessage message = sent(cli);
    EXPECT_EQ(message.attachmentNames(), (QStringList{"report.pdf", "data.bin"}));
    ASSERT_TRUE(message.attachmentNamed("data.bin"));
    EXPECT_EQ(message.attachmentNamed("data.bin")->bytes, fixtureBinary());
}

TEST_F(SendCommandTest, EveryAnswerToTheSheetHasItsOutcome) {
    const struct {
        const char* answer;
        bool linked;
        int status;
        const char* said;
    } cases[] = {
        {"send", false, ExitSent, "-> Send Attachments (--answer send)"},
        {"configure", false, ExitNotSent, "preferences are not available in the command-line host"},
        {"upload", false, ExitUsage, "no \"Upload Attachments\" button"},
        {"cancel", true, ExitNotSent, "cancelled. Nothing was sent."},
        {"", true, ExitUsage, "needs an answer"}, // no answer and no terminal
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        CliRunner runner;
        AutoUploaderClass* service = c.linked ? &runner.linkService(Behaviour::Link) : nullptr;
        runner.setThreshold(0.0001);
        EXPECT_EQ(send(runner, c.answer, "alternative_attachments.eml"), c.status);
        EXPECT_TRUE(runner.err().contains("Quillmoor Attachment Reminder"));
        EXPECT_TRUE(runner.err().contains(c.said)) << runner.err().toStdString();
        EXPECT_EQ(runner.err().contains("As you have not yet configured any cloud services"), !c.linked);
        if (service) {
            EXPECT_TRUE(service->uploaded.isEmpty());
        }
        if (c.status == ExitSent) {
            EXPECT_EQ(sent(runner).attachmentNames(), (QStringList{"photo.png", "data.bin"}));
        } else {
            EXPECT_TRUE(nothingSent(runner));
        }
    }
}

TEST_F(SendCommandTest, APersonAnswersAtTheTerminal) {
    cli.setThreshold(0.0001);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "1\n", 2), 2);
    ::close(fds[1]);
    cli.promptFd = fds[0];
    EXPECT_EQ(send(cli, {}), ExitSent) << cli.err().toStdString();
    ::close(fds[0]);
    EXPECT_TRUE(cli.err().contains("Choose 1-2: "));
    EXPECT_EQ(sent(cli).attachments.size(), 2);
}

TEST_F(SendCommandTest, UploadReplacesTheAttachmentsWithTheDownloadBoxWithOrWithoutAutomaticSending) {
    for (const bool autoSend : {true, false}) {
        SCOPED_TRACE(autoSend);
        CliRunner runner;
        auto& service = runner.linkService(Behaviour::Link);
        runner.setThreshold(0.0001);
        EXPECT_TRUE(runner.settings.setBool(autoSend, QString::fromLatin1(accounts::keys::autoSendEmail)));
        EXPECT_EQ(send(runner, "upload"), ExitSent) << runner.err().toStdString();
        EXPECT_EQ(service.uploaded, (QStringList{"report.pdf", "data.bin"}));
        EXPECT_TRUE(runner.err().contains("Uploading: 100%"));
        const ParsedMessage message = sent(runner);
        ASSERT_TRUE(message.valid);
        EXPECT_TRUE(message.attachments.isEmpty());
        EXPECT_EQ(message.structure.first(), "multipart/alternative");
        EXPECT_TRUE(message.html.contains("QuillmoorAttachmentInfo"));
        EXPECT_TRUE(message.html.contains("https://files.example.net/s/report.pdf"));
        EXPECT_TRUE(message.text.contains("https://files.example.net/s/data.bin"));
        EXPECT_FALSE(message.html.contains("<object"));
        EXPECT_FALSE(message.html.contains("<!--"));
    }
}

TEST_F(SendCommandTest, AFailedUploadSendsNothingAndSaysWhy) {
    cli.linkService(Behaviour::Fail);
    cli.setThreshold(0.0001);
    EXPECT_EQ(send(cli, "upload"), ExitNotSent);
    EXPECT_TRUE(cli.err().contains("Quillmoor Error\nThe test server refused report.pdf."));
    EXPECT_TRUE(cli.err().contains("not uploaded. Nothing was sent."));
    EXPECT_TRUE(nothingSent(cli));
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
    EXPECT_EQ(send(cli, "upload"), ExitNotSent);
    EXPECT_EQ(service.cancelled, 1);
    EXPECT_TRUE(cli.err().contains("cancelled. Nothing was sent."));
    EXPECT_TRUE(nothingSent(cli));
}

TEST_F(SendCommandTest, MessageFromStandardInputAndToStandardOutput) {
    const int input =
        ::open(QFile::encodeName(fixturePath("alternative_attachments.eml")).constData(), O_RDONLY);
    const QString outputPath = cli.path("stdout.eml");
    const int output = ::open(QFile::encodeName(outputPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);
    cli.inputFd = input;
    cli.messageOutputFd = output;
    EXPECT_EQ(cli.run({"send", "-"}), ExitSent) << cli.err().toStdString();
    ::close(input);
    ::close(output);
    EXPECT_TRUE(cli.err().isEmpty()) << cli.err().toStdString();
    const ParsedMessage message = parseMessageFile(outputPath);
    EXPECT_EQ(message.headers.value("subject"), "Photos and data");
    ASSERT_TRUE(message.attachmentNamed("photo.png"));
    EXPECT_EQ(message.attachmentNamed("photo.png")->bytes, fixturePng());
}

TEST_F(SendCommandTest, UnreadableMessagesAndBadUsageExitWithTwo) {
    for (const auto& [fixture, said] :
         {std::pair{"malformed_no_boundary.eml", "malformed message: a multipart has no boundary parameter"},
          std::pair{"malformed_not_a_message.eml", "not a message"},
          std::pair{"absent.eml", "no such file"}}) {
        EXPECT_EQ(send(cli, {}, fixture), ExitUsage) << fixture;
        EXPECT_TRUE(cli.err().contains(said)) << cli.err().toStdString();
    }
    EXPECT_TRUE(nothingSent(cli));
    EXPECT_EQ(cli.run({"send", "--bogus", "x.eml"}), ExitUsage);
    EXPECT_TRUE(cli.err().contains("usage: quillmoor send"));
    // The message file is never the output.
    const QString copy = cli.path("message.eml");
    ASSERT_TRUE(QFile::copy(fixturePath("plain_text.eml"), copy));
    const QByteArray before = readFile(copy);
    EXPECT_EQ(cli.run({"send", "--out", copy, copy}), ExitUsage);
    EXPECT_EQ(readFile(copy), before);
}

TEST_F(SendCommandTest, SendmailGetsTheMessageWithBccAndItsOptionsAndItsFailureMeansNotSent) {
    const QString program = fakeSendmail(cli, "printf '%s\\n' \"$@\" > \"$0.args\"\ncat > \"$0.message\"\n");
    EXPECT_EQ(cli.run({"send", "--sendmail", fixturePath("html_attachments.eml")}), ExitSent)
        << cli.err().toStdString();
    EXPECT_EQ(readFile(program + ".args"), QByteArray("-t\n-i\n"));
    const ParsedMessage message = parseMessageFile(program + ".message");
    EXPECT_EQ(message.headers.value("bcc"), "archive@example.org") << "sendmail -t removes it";
    ASSERT_TRUE(message.attachmentNamed("report.pdf"));
    EXPECT_EQ(message.attachmentNamed("report.pdf")->bytes, fixturePdf());

    fakeSendmail(cli, "cat > /dev/null\necho 'sendmail: queue unavailable' >&2\nexit 75\n");
    EXPECT_EQ(cli.run({"send", "--sendmail", fixturePath("html_attachments.eml")}), ExitNotSent);
    EXPECT_TRUE(cli.err().contains("exited with status 75"));
    cli.sendmailProgram = cli.path("missing-sendmail");
    EXPECT_EQ(cli.run({"send", "--sendmail", fixturePath("html_attachments.eml")}), ExitNotSent);
    EXPECT_TRUE(cli.err().contains("cannot run"));
}

TEST_F(SendCommandTest, SignedAndEncryptedMessagesLeaveAsTheyCame) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    for (const auto& [fixture, said] :
         {std::pair{"pgp_signed.eml", "the message is signed: it is sent as it is"},
          std::pair{"smime_encrypted.eml", "the message is encrypted: it is sent as it is"}}) {
        EXPECT_EQ(send(cli, "upload", fixture), ExitSent) << cli.err().toStdString();
        EXPECT_TRUE(cli.err().contains(said));
        EXPECT_EQ(readFile(cli.path("sent.eml")), readFile(fixturePath(fixture)));
    }
    EXPECT_TRUE(service.uploaded.isEmpty());
}

TEST_F(SendCommandTest, AttachmentsBetweenBodyPartsGoUpAndInlineTextStays) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.00001); // about 10 bytes: even these small files go up
    EXPECT_EQ(send(cli, "upload", "apple_pdf_between_html.eml"), ExitSent) << cli.err().toStdString();
    EXPECT_EQ(service.uploaded, QStringList{"draft.pdf"});
    EXPECT_TRUE(sent(cli).attachments.isEmpty());
    service.uploaded.clear();
    EXPECT_EQ(send(cli, "upload", "inline_text_between.eml"), ExitSent) << cli.err().toStdString();
    EXPECT_EQ(service.uploaded, QStringList{"photo.png"});
    EXPECT_TRUE(sent(cli).text.contains("Taken at the harbour at dawn."));
}

TEST_F(SendCommandTest, ACutOffMessageAndAStandardInputErrorSayWhatIsWrong) {
    EXPECT_EQ(send(cli, {}, "truncated_attachment.eml"), ExitUsage);
    EXPECT_TRUE(cli.err().contains("cut off")) << cli.err().toStdString();
    EXPECT_TRUE(nothingSent(cli));
    const int input =
        ::open(QFile::encodeName(fixturePath("malformed_no_boundary.eml")).constData(), O_RDONLY);
    cli.inputFd = input;
    EXPECT_EQ(cli.run({"send", "--out", cli.path("sent.eml"), "-"}), ExitUsage);
    ::close(input);
    EXPECT_TRUE(cli.err().startsWith("quillmoor: standard input: malformed message"))
        << cli.err().toStdString();
}

TEST_F(SendCommandTest, WhatCannotBeDeliveredIsNotUploadedOrIsTakenBack) {
    auto& service = cli.linkService(Behaviour::Link);
    cli.setThreshold(0.0001);
    cli.sendmailProgram = cli.path("missing-sendmail");
    EXPECT_EQ(cli.run({"send", "--answer", "upload", "--sendmail", fixturePath("html_attachments.eml")}),
              ExitNotSent);
    EXPECT_TRUE(cli.err().contains("there is no such program")) << cli.err().toStdString();
    writeFile(cli.path("file"), "not a folder");
    EXPECT_EQ(cli.run({"send", "--answer", "upload", "--out", cli.path("file/sent.eml"),
                       fixturePath("html_attachments.eml")}),
              ExitNotSent);
    EXPECT_TRUE(cli.err().contains("does not exist")) << cli.err().toStdString();
    EXPECT_TRUE(service.uploaded.isEmpty()) << "checked before anything was uploaded";

    fakeSendmail(cli, "cat > /dev/null\nexit 75\n");
    EXPECT_EQ(cli.run({"send", "--answer", "upload", "--sendmail", fixturePath("html_attachments.eml")}),
              ExitNotSent);
    EXPECT_EQ(service.removed, (QList<QUrl>{QUrl("https://files.example.net/s/report.pdf"),
                                            QUrl("https://files.example.net/s/data.bin")}));
    EXPECT_TRUE(cli.err().contains("removed from the service again: 2"));
    service.removalFails = true;
    EXPECT_EQ(cli.run({"send", "--answer", "upload", "--sendmail", fixturePath("html_attachments.eml")}),
              ExitNotSent);
    EXPECT_TRUE(cli.err().contains("could not be removed, remove it yourself: "
                                   "https://files.example.net/s/report.pdf: The test server keeps it."));
}

TEST_F(SendCommandTest, EverySignalThatEndsTheRunCleansUpAsCtrlCDoes) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        CliRunner runner;
        auto& service = runner.linkService(Behaviour::Hang);
        runner.setThreshold(0.0001);
        QTimer stop;
        stop.setInterval(5);
        QObject::connect(&stop, &QTimer::timeout, [&] {
            if (!service.uploaded.isEmpty()) {
                stop.stop();
                ::raise(signal);
            }
        });
        stop.start();
        EXPECT_EQ(send(runner, "upload"), ExitNotSent);
        EXPECT_EQ(service.cancelled, 1);
        EXPECT_TRUE(runner.leftovers().isEmpty()) << runner.leftovers().join(' ').toStdString();
    }
}

// A message with one attachment of `bytes` pseudo-random bytes, written as it is generated; their digest.
QByteArray writeLargeMessage(const QString& path, qint64 bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("From: a@example.org\nTo: b@example.org\nSubject: big\nMIME-Version: 1.0\n"
               "Content-Type: multipart/mixed; boundary=big\n\n--big\nContent-Type: text/plain\n\nThe file.\n"
               "--big\nContent-Type: application/octet-stream; name=big.bin\nContent-Disposition: "
               "attachment; filename=big.bin\n"
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

qint64 peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(SendCommandTest, MemoryStaysFlatWhateverTheSizeOfTheAttachment) {
    constexpr qint64 size = 48 * 57 * 1024 * 19; // about 51 MiB
    const QString input = cli.path("big.eml");
    const QByteArray digest = writeLargeMessage(input, size);
    const qint64 before = peakResidentKiB();
    EXPECT_EQ(cli.run({"send", "--answer", "send", "--out", cli.path("sent.eml"), input}), ExitSent)
        << cli.err().toStdString();
    EXPECT_LT(peakResidentKiB() - before, 16 * 1024)
        << "KiB more at the peak for a " << size / 1048576 << " MiB attachment";
    const ParsedMessage message = sent(cli);
    ASSERT_EQ(message.attachments.size(), 1);
    EXPECT_EQ(message.attachments.first().bytes.size(), size);
    EXPECT_EQ(QCryptographicHash::hash(message.attachments.first().bytes, QCryptographicHash::Sha256),
              digest);
}

// The real program, killed while its message is still being written to a pipe nobody reads.
TEST(SendProcessTest, ASignalWhileTheMessageLeavesRemovesTheWorkingCopies) {
    QTemporaryDir folder;
    const QString input = folder.filePath("big.eml");
    writeLargeMessage(input, 1 << 20);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGPIPE}) {
        SCOPED_TRACE(signal);
        const QString temp = folder.filePath(QStringLiteral("tmp-%1").arg(signal));
        ASSERT_TRUE(QDir().mkpath(temp));
        QStringList variables = QProcessEnvironment::systemEnvironment().toStringList();
        variables << "TMPDIR=" + temp << "QUILLMOOR_CONFIG_DIR=" + folder.filePath("config")
                  << "XDG_DATA_HOME=" + folder.filePath("data");
        std::vector<QByteArray> storage;
        for (const QString& variable : variables)
            storage.push_back(variable.toLocal8Bit());
        std::vector<char*> environment;
        for (QByteArray& variable : storage)
            environment.push_back(variable.data());
        environment.push_back(nullptr);
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationDirPath() + "/quillmoor");
        const QByteArray message = QFile::encodeName(input);
        char* const arguments[] = {const_cast<char*>(program.constData()), const_cast<char*>("send"),
                                   const_cast<char*>(message.constData()), nullptr};
        int output[2];
        ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0); // the child holds no read end of its own
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        pid_t child = -1;
        ASSERT_EQ(posix_spawn(&child, program.constData(), &actions, nullptr, arguments, environment.data()),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(output[1]);
        pollfd ready{output[0], POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 30000), 1) << "the message began to leave";
        // The reader going away is what raises SIGPIPE.
        signal == SIGPIPE ? ::close(output[0]) : ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (signal != SIGPIPE)
            ::close(output[0]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(QDir(temp).isEmpty())
            << QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
    }
}

} // namespace
} // namespace qm::test::cli
