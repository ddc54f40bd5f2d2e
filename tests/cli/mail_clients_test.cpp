// Quillmoor as any mail client's way out: real clients (swaks, Python's smtplib, git send-email, neomutt)
// submit to `quillmoor smtpd` or call `quillmoor sendmail`, the relay is aiosmtpd with STARTTLS and AUTH,
// and what arrives is read by Python's email package. All programs run as the user would run them, with
// a keyring of the test's own.
#include "cli_test_support.h"

#include "accounts/credential_store.h"
#include "cli/smtp_submitter.h"
#include "platform/secret_service_store.h"
#include "support/real_servers.h"
#include "support/secret_service_session.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

struct Ran {
    int status = -1;
    QString out, err;
};

Ran runProgram(const QString& program, const QStringList& arguments, const QByteArray& input = {},
               const QString& workingDirectory = {}, int timeoutMs = 20000) {
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    Ran ran;
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        ran.status = process.exitCode();
    else
        process.kill();
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray payload(qsizetype size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + i / 7) & 0xFF);
    return bytes;
}

const QString kRelayUser = QStringLiteral("relay");
const QString kRelayPassword = QStringLiteral("relay pass");

class MailClientsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(keyring.start()) << keyring.errorString().toStdString();
        qputenv("QUILLMOOR_CONFIG_DIR", QFile::encodeName(path("config")));
        qputenv("TMPDIR", QFile::encodeName(path("tmp")));
        QDir().mkpath(path("tmp"));
        const Certificate certificate = makeSelfSignedCertificate(path("tls"));
        qputenv("CURL_CA_BUNDLE", QFile::encodeName(certificate.certificatePath));
        relayOptions = {QStringLiteral("--starttls"),
                        certificate.certificatePath,
                        certificate.keyPath,
                        QStringLiteral("--login"),
                        kRelayUser,
                        kRelayPassword,
                        QStringLiteral("--refuse-recipient"),
                        QStringLiteral("nobody@example.org")};
        const QString problem = relay.start(path("received"), relayOptions);
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        platform::SecretServiceStore secrets;
        ASSERT_TRUE(accounts::CredentialStore(secrets).setPassword(
            kRelayPassword, QString::fromLatin1(qm::cli::SmtpSubmitter::credentialLabel),
            kRelayUser + QStringLiteral("@127.0.0.1")));
        config("QuillmoorSMTPURL",
               QStringLiteral("smtp://%1@127.0.0.1:%2").arg(kRelayUser).arg(relay.port()));
        // Attachments over 10 KB move, each on its own; the question is asked and answered unattended.
        config("QuillmoorMinFileSize", QStringLiteral("0.01"));
        config("QuillmoorFileSizeMode", QStringLiteral("1"));
        config("QuillmoorAskBeforeUpload", QStringLiteral("YES"));
        uploads = path("uploads");
        QDir().mkpath(uploads);
        const Ran linked = quillmoor({"link", "generic", "--login", "quill", "--password-stdin", "--server",
                                      QUrl::fromLocalFile(uploads + u'/').toString(), "--public-url",
                                      QUrl::fromLocalFile(uploads).toString()},
                                     "secret\n");
        ASSERT_EQ(linked.status, 0) << linked.err.toStdString();
        token = quillmoor({"smtpd", "--print-credentials"})
                    .out.section(QStringLiteral("Password: "), 1)
                    .trimmed();
        user = quillmoor({"smtpd", "--print-credentials"})
                   .out.section(QStringLiteral("User: "), 1)
                   .section(u'\n', 0, 0);
        ASSERT_FALSE(token.isEmpty());
    }
    void TearDown() override {
        stopSmtpd();
        for (const char* name : {"QUILLMOOR_CONFIG_DIR", "TMPDIR", "CURL_CA_BUNDLE"})
            qunsetenv(name);
    }

    QString path(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }
    static QString program() { return QCoreApplication::applicationDirPath() + QStringLiteral("/quillmoor"); }
    Ran quillmoor(const QStringList& arguments, const QByteArray& input = {}) {
        return runProgram(program(), arguments, input);
    }
    void config(const char* key, const QString& value) {
        const Ran set = quillmoor({"config", "set", QString::fromLatin1(key), value});
        ASSERT_EQ(set.status, 0) << set.err.toStdString();
    }
    // Starts `quillmoor smtpd` on a free port and waits until it listens.
    void startSmtpd() {
        smtpdPort = freeLoopbackPort();
        smtpd.start(program(), {"smtpd", "--listen", QStringLiteral("127.0.0.1:%1").arg(smtpdPort)});
        ASSERT_TRUE(waitUntil(
            [&] { return acceptsConnections(smtpdPort) || smtpd.state() == QProcess::NotRunning; }, 10000));
        ASSERT_EQ(smtpd.state(), QProcess::Running) << smtpd.readAllStandardError().toStdString();
    }
    void stopSmtpd() {
        if (smtpd.state() == QProcess::NotRunning)
            return;
        smtpd.terminate();
        smtpd.waitForFinished(5000);
    }
    static QString script(const char* name) {
        return QFileInfo(QStringLiteral(QUILLMOOR_SMTP_SERVER)).dir().filePath(QString::fromLatin1(name));
    }
    Ran python(const char* script, const QStringList& arguments, int timeoutMs = 20000) {
        return runProgram(QStringLiteral(QUILLMOOR_DEBIAN_PYTHON),
                          QStringList{MailClientsTest::script(script)} + arguments, {}, {}, timeoutMs);
    }
    Ran smtplib(const QStringList& arguments) {
        return python("smtp_client.py", QStringList{QString::number(smtpdPort), user, token} + arguments);
    }
    // The message the relay received as Python's email package reads it.
    QJsonObject arrived(int number) {
        const Ran checked = python("mime_check.py", {relay.messagePath(number)});
        return QJsonDocument::fromJson(checked.out.toUtf8()).object();
    }
    // Every attachment of `expected` arrives byte for byte or as a link that reaches the same bytes.
    static void expectFiles(const QJsonObject& message, const QMap<QString, QByteArray>& expected) {
        QStringList found;
        for (const QJsonValue& attachment : message.value(QStringLiteral("attachments")).toArray())
            found.append(attachment[QStringLiteral("name")].toString() + u'=' +
                         attachment[QStringLiteral("sha256")].toString());
        for (const QJsonValue& link : message.value(QStringLiteral("links")).toArray())
            // A name the service already holds gets a number: large-1.bin.
            found.append(QFileInfo(link[QStringLiteral("url")].toString())
                             .fileName()
                             .remove(QRegularExpression(QStringLiteral("-[0-9]+(?=\\.)"))) +
                         u'=' + link[QStringLiteral("sha256")].toString());
        QStringList wanted;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            wanted.append(it.key() + u'=' + sha256(it.value()));
        found.sort();
        wanted.sort();
        EXPECT_EQ(found, wanted);
    }
    QString writeMessage(const char* name, const QByteArray& bytes) {
        writeFile(path(name), bytes);
        return path(name);
    }

    QTemporaryDir folder;
    SecretServiceSession keyring;
    SmtpSink relay;
    QStringList relayOptions;
    QString uploads, user, token;
    QProcess smtpd;
    int smtpdPort = 0;
};

QByteArray mixedMessage(const QByteArray& small, const QByteArray& large, const QByteArray& eol = "\r\n") {
    QByteArray message =
        "From: Sam <sam@example.net>\nTo: ada@example.com\nSubject: figures\n"
        "Message-ID: <kept.1@example.net>\nDate: Mon, 02 Dec 2024 10:00:00 +0000\n"
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
        "Content-Type: text/plain\n\nthe figures\n--b\nContent-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename=small.bin\nContent-Transfer-Encoding: base64\n\n" +
        small.toBase64() +
        "\n--b\nContent-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename=large.bin\nContent-Transfer-Encoding: base64\n\n" +
        large.toBase64() + "\n--b--\n";
    return message.replace("\n", eol);
}

TEST_F(MailClientsTest, SwaksAndSmtplibSubmitWithAuthTheirHeadersStayAndLargeFilesBecomeLinks) {
    startSmtpd();
    const QByteArray small = payload(2000, 1), large = payload(60000, 2);
    writeFile(path("small.bin"), small);
    writeFile(path("large.bin"), large);
    const Ran swaks = runProgram(QStringLiteral("swaks"),
                                 {"--server", QStringLiteral("127.0.0.1:%1").arg(smtpdPort), "--auth",
                                  "LOGIN", "--auth-user", user, "--auth-password", token, "--from",
                                  "sam@example.net", "--to", "ada@example.com", "--attach",
                                  "@" + path("small.bin"), "--attach", "@" + path("large.bin")});
    ASSERT_EQ(swaks.status, 0) << swaks.out.toStdString();
    ASSERT_EQ(relay.received(), 1);
    expectFiles(arrived(1), {{"small.bin", small}, {"large.bin", large}});
    EXPECT_EQ(arrived(1)[QStringLiteral("attachments")].toArray().size(), 1) << "large.bin left as a link";

    const Ran sent = smtplib({"send", writeMessage("mixed.eml", mixedMessage(small, large)),
                              "sam@example.net", "ada@example.com", "bob@example.com"});
    ASSERT_EQ(sent.status, 0) << sent.out.toStdString();
    const QJsonObject message = arrived(2);
    EXPECT_EQ(message[QStringLiteral("headers")][QStringLiteral("Message-ID")].toString(),
              QStringLiteral("<kept.1@example.net>"));
    EXPECT_EQ(message[QStringLiteral("headers")][QStringLiteral("Date")].toString(),
              QStringLiteral("Mon, 02 Dec 2024 10:00:00 +0000"));
    EXPECT_EQ(message[QStringLiteral("defects")].toInt(), 0);
    expectFiles(message, {{"small.bin", small}, {"large.bin", large}});
    EXPECT_EQ(relay.envelope(2), (QStringList{"sam@example.net", "ada@example.com", "bob@example.com"}));

    // A wrong password is refused and nothing goes out.
    const Ran wrong =
        runProgram(QStringLiteral("swaks"),
                   {"--server", QStringLiteral("127.0.0.1:%1").arg(smtpdPort), "--auth", "PLAIN",
                    "--auth-user", user, "--auth-password", "guess", "--to", "ada@example.com"});
    EXPECT_NE(wrong.status, 0);
    EXPECT_TRUE(wrong.out.contains(QStringLiteral("535 5.7.8"))) << wrong.out.toStdString();
    EXPECT_EQ(relay.received(), 2);
}

TEST_F(MailClientsTest, SignedEncryptedAndUnparsableMessagesArriveByteIdentical) {
    startSmtpd();
    QByteArray large = payload(60000, 3).toBase64();
    for (qsizetype at = 76; at < large.size(); at += 78)
        large.insert(at, "\r\n");
    const QList<QByteArray> messages{
        "From: sam@example.net\r\nTo: ada@example.com\r\nSubject: signed\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; micalg=pgp-sha256; "
        "boundary=s\r\n\r\n"
        "--s\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; "
        "filename=big.bin\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
            large +
            "\r\n--s\r\nContent-Type: application/pgp-signature\r\n\r\n"
            "-----BEGIN PGP SIGNATURE-----\r\nAAAA\r\n-----END PGP SIGNATURE-----\r\n--s--\r\n",
        "From: sam@example.net\r\nTo: ada@example.com\r\nSubject: smime\r\nMIME-Version: 1.0\r\n"
        "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
            large + "\r\n",
        "From: sam@example.net\r\nTo: ada@example.com\r\nSubject: broken\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed\r\n\r\nno boundary\r\n" +
            large + "\r\n"};
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const Ran sent = smtplib(
            {"send", writeMessage("protected.eml", messages[i]), "sam@example.net", "ada@example.com"});
        ASSERT_EQ(sent.status, 0) << sent.out.toStdString();
        EXPECT_EQ(readFile(relay.messagePath(static_cast<int>(i) + 1)), messages[i]) << i;
    }
    EXPECT_TRUE(QDir(uploads).isEmpty());
}

TEST_F(MailClientsTest, FailuresAreAnsweredSoTheClientKeepsTheMessageAndNothingIsRelayed) {
    startSmtpd();
    const QString message = writeMessage("mixed.eml", mixedMessage(payload(100, 4), payload(60000, 5)));
    // The relay refuses a recipient: its own refusal comes back and the upload is taken back.
    Ran sent = smtplib({"send", message, "sam@example.net", "nobody@example.org"});
    EXPECT_TRUE(sent.out.startsWith(QStringLiteral("550"))) << sent.out.toStdString();
    EXPECT_TRUE(sent.out.contains(QStringLiteral("User unknown")));
    EXPECT_TRUE(waitUntil([&] { return QDir(uploads).isEmpty(); }, 5000));
    // The client goes away in the middle of the message.
    EXPECT_EQ(smtplib({"drop", message, "sam@example.net", "ada@example.com"}).status, 0);
    // The upload fails: where the service's folder was there is a file.
    QDir().rename(uploads, path("away"));
    writeFile(uploads, "in the way");
    sent = smtplib({"send", message, "sam@example.net", "ada@example.com"});
    QFile::remove(uploads);
    QDir().rename(path("away"), uploads);
    EXPECT_TRUE(sent.out.startsWith(QStringLiteral("451"))) << sent.out.toStdString();
    // The relay is down.
    stopSmtpd();
    config("QuillmoorSMTPURL", QStringLiteral("smtp://127.0.0.1:%1").arg(freeLoopbackPort()));
    startSmtpd();
    sent = smtplib({"send", message, "sam@example.net", "ada@example.com"});
    EXPECT_TRUE(sent.out.startsWith(QStringLiteral("451 4.3.0"))) << sent.out.toStdString();
    EXPECT_EQ(relay.received(), 0);
    EXPECT_TRUE(waitUntil(
        [&] {
            return QDir(path("tmp")).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size() == 1;
        },
        5000))
        << "only the service's spool folder is left";
}

TEST_F(MailClientsTest, TwentyClientsAtOnceOnTheSocketSystemdPasses) {
    smtpdPort = freeLoopbackPort();
    smtpd.start(QStringLiteral(QUILLMOOR_DEBIAN_PYTHON),
                {script("socket_activation.py"), QString::number(smtpdPort), program(), "smtpd"});
    QByteArray said;
    ASSERT_TRUE(
        waitUntil([&] { return (said += smtpd.readAllStandardError()).contains("relaying"); }, 10000));
    EXPECT_TRUE(said.contains(QStringLiteral("listening on 127.0.0.1:%1").arg(smtpdPort).toUtf8()))
        << said.toStdString();
    const QString message = writeMessage("many.eml", "From: sam@example.net\r\nTo: ada@example.com\r\n"
                                                     "Subject: number NUMBER\r\n\r\nhello NUMBER\r\n");
    const Ran sent = smtplib({"many", "20", message, "sam@example.net", "ada@example.com"});
    EXPECT_EQ(sent.status, 0) << sent.out.toStdString();
    EXPECT_EQ(relay.received(), 20);
}

TEST_F(MailClientsTest, GitSendEmailThroughSmtpdAndThroughTheSendmailLink) {
    startSmtpd();
    const QString repository = path("repository");
    QDir().mkpath(repository);
    const auto git = [&](const QStringList& arguments) {
        return runProgram(QStringLiteral("git"), arguments, {}, repository);
    };
    git({"init", "-q"});
    writeFile(repository + QStringLiteral("/notes.txt"), "first\n");
    git({"add", "notes.txt"});
    git({"-c", "user.name=Sam", "-c", "user.email=sam@example.net", "commit", "-qm", "Add notes"});
    const QString patch = git({"format-patch", "-1", "-o", path("patches")}).out.trimmed();
    ASSERT_FALSE(patch.isEmpty());
    QFile::link(program(), path("sendmail"));
    const QStringList common{
        "send-email",       "--quiet", "--confirm=never", "--to=ada@example.com", "--from=sam@example.net",
        "--suppress-cc=all"};
    Ran sent = git(common + QStringList{"--smtp-server=127.0.0.1",
                                        QStringLiteral("--smtp-server-port=%1").arg(smtpdPort),
                                        "--smtp-user=" + user, "--smtp-pass=" + token, patch});
    ASSERT_EQ(sent.status, 0) << sent.err.toStdString();
    sent = git(common + QStringList{"--smtp-server=" + path("sendmail"), patch});
    ASSERT_EQ(sent.status, 0) << sent.err.toStdString();
    ASSERT_EQ(relay.received(), 2);
    for (int number : {1, 2}) {
        EXPECT_EQ(arrived(number)[QStringLiteral("headers")][QStringLiteral("Subject")].toString(),
                  QStringLiteral("[PATCH] Add notes"));
        EXPECT_TRUE(readFile(relay.messagePath(number)).contains("+first"));
    }
}

TEST_F(MailClientsTest, NeomuttInBatchModeThroughQuillmoorSendmail) {
    const QByteArray small = payload(3000, 6), large = payload(70000, 7);
    writeFile(path("small.bin"), small);
    writeFile(path("large.bin"), large);
    writeFile(path("muttrc"), "set sendmail=\"" + QFile::encodeName(program()) +
                                  " sendmail\"\nset from=sam@example.net\n"
                                  "set use_from=yes\nset record=\"\"\nset copy=no\n");
    const Ran sent = runProgram(QStringLiteral("neomutt"),
                                {"-n", "-F", path("muttrc"), "-s", "from neomutt", "-a", path("small.bin"),
                                 path("large.bin"), "--", "ada@example.com"},
                                "the body\n");
    ASSERT_EQ(sent.status, 0) << sent.err.toStdString();
    ASSERT_EQ(relay.received(), 1);
    const QJsonObject message = arrived(1);
    EXPECT_EQ(message[QStringLiteral("headers")][QStringLiteral("Subject")].toString(),
              QStringLiteral("from neomutt"));
    expectFiles(message, {{"small.bin", small}, {"large.bin", large}});
}

TEST_F(MailClientsTest, SendmailExitStatusesTellTheClientWhetherToKeepTheMessage) {
    const QByteArray message = "From: sam@example.net\nTo: ada@example.com\nSubject: s\n\nhello\n";
    EXPECT_EQ(quillmoor({"sendmail", "nobody@example.org"}, message).status, 67); // EX_NOUSER
    EXPECT_EQ(quillmoor({"sendmail", "-bp"}).status, 64);                         // EX_USAGE
    config("QuillmoorSMTPURL", QStringLiteral("smtp://127.0.0.1:%1").arg(freeLoopbackPort()));
    EXPECT_EQ(quillmoor({"sendmail", "-t"}, message).status, 75); // EX_TEMPFAIL
    EXPECT_EQ(relay.received(), 0);
    // Without an SMTP URL the next sendmail must not be Quillmoor again, however it is reached.
    EXPECT_EQ(quillmoor({"config", "unset", "QuillmoorSMTPURL"}).status, 0);
    writeFile(path("wrapper"), "#!/bin/sh\nexec " + QFile::encodeName(program()) + " sendmail \"$@\"\n");
    QFile::setPermissions(path("wrapper"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    config("QuillmoorSendmailPath", path("wrapper"));
    const Ran looped = quillmoor({"sendmail", "-t"}, message);
    EXPECT_EQ(looped.status, 78) << looped.err.toStdString(); // EX_CONFIG
    EXPECT_TRUE(looped.err.contains(QStringLiteral("leads back to Quillmoor")));
}

// 256 MiB in the suite, to stay quick on a shared disk; QUILLMOOR_BIG_MESSAGE_MIB=2048 runs the full
// two gibibytes. Memory must not grow with the size either way.
TEST_F(MailClientsTest, AVeryLargeMessageStreamsThroughWithFlatMemory) {
    QString error;
    const auto counter = RealServer::start(QStringLiteral(QUILLMOOR_DEBIAN_PYTHON),
                                           {script("counting_sink.py"), "{port}", path("counted")}, &error);
    ASSERT_NE(counter, nullptr) << error.toStdString();
    config("QuillmoorSMTPURL", QStringLiteral("smtp://127.0.0.1:%1").arg(counter->port()));
    startSmtpd();
    const Ran sent = python("smtp_client.py",
                            {QString::number(smtpdPort), user, token, "big",
                             qEnvironmentVariable("QUILLMOOR_BIG_MESSAGE_MIB", QStringLiteral("256")),
                             "sam@example.net", "ada@example.com"},
                            120000);
    ASSERT_TRUE(sent.out.startsWith(QStringLiteral("250 ")))
        << sent.out.toStdString() << sent.err.toStdString();
    const QString digest = sent.out.section(u' ', 1).trimmed();
    EXPECT_EQ(QString::fromUtf8(readFile(path("counted/1.count"))).section(u' ', 1).trimmed(), digest);
    const QString status =
        QString::fromUtf8(readFile(QStringLiteral("/proc/%1/status").arg(smtpd.processId())));
    const qint64 peakKiB = status.section(QStringLiteral("VmHWM:"), 1)
                               .section(QStringLiteral("kB"), 0, 0)
                               .trimmed()
                               .toLongLong();
    EXPECT_GT(peakKiB, 0);
    EXPECT_LT(peakKiB, 150 * 1024) << "peak resident memory of quillmoor smtpd";
}

} // namespace
} // namespace qm::test::cli
