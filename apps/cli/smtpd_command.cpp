#include "cli/smtpd_command.h"

#include "cli/handover.h"
#include "cli/next_transport.h"
#include "cli/smtp_submitter.h"
#include "cli/smtpd_server.h"
#include "cli/termination_cleanup.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <pwd.h>
#include <sysexits.h>
#include <unistd.h>

namespace qm::cli {

namespace {

constexpr int kTokenBytes = 24;
constexpr int kListenFdsStart = 3; // SD_LISTEN_FDS_START

// The listening socket systemd passed, or -1 (sd_listen_fds(3), without libsystemd).
int socketFromSystemd() {
    const bool forUs = qEnvironmentVariableIntValue("LISTEN_PID") == static_cast<int>(::getpid());
    const int count = qEnvironmentVariableIntValue("LISTEN_FDS");
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");
    return forUs && count >= 1 ? kListenFdsStart : -1;
}

} // namespace

SmtpdCommand::SmtpdCommand(Environment& environment)
    : env_(environment) {}

void SmtpdCommand::report(const QString& text) {
    env_.err.write((QStringLiteral("quillmoor smtpd: ") + text + u'\n').toUtf8());
}

QString SmtpdCommand::userName() {
    if (const passwd* entry = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(::getuid());
}

int SmtpdCommand::printCredentials() {
    if (!env_.credentials) {
        report(QStringLiteral("there is no credential store"));
        return EX_CONFIG;
    }
    const QString label = QString::fromLatin1(credentialLabel);
    QString token = env_.credentials->passwordFromKeychainItem(label, userName());
    if (token.isEmpty()) {
        // One starting with '-' would read as an option where clients take it on their command line
        // (swaks, git send-email): one in 64 did.
        do {
            QByteArray random(kTokenBytes, Qt::Uninitialized);
            QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), kTokenBytes / 4);
            token = QString::fromLatin1(
                random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        } while (token.startsWith(u'-'));
        if (!env_.credentials->setPassword(token, label, userName())) {
            report(
                QStringLiteral("the token could not be stored (is the Secret Service running and the keyring "
                               "unlocked?)"));
            return EX_TEMPFAIL;
        }
    }
    env_.out.write(QStringLiteral("Server: 127.0.0.1 port %1, no encryption (local connections only)\n"
                                  "User: %2\nPassword: %3\n")
                       .arg(defaultPort)
                       .arg(userName(), token)
                       .toUtf8());
    return EX_OK;
}

int SmtpdCommand::run(const QStringList& arguments) {
    QHostAddress address(QHostAddress::LocalHost);
    quint16 port = defaultPort;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"--print-credentials")
            return printCredentials();
        QString listen;
        if (argument.startsWith(QLatin1String("--listen=")))
            listen = argument.mid(9);
        else if (argument == u"--listen" && i + 1 < arguments.size())
            listen = arguments[++i];
        else {
            report(QStringLiteral("unknown argument %1").arg(argument));
            return EX_USAGE;
        }
        const qsizetype colon = listen.lastIndexOf(u':');
        bool numeric = false;
        const uint wanted = listen.mid(colon + 1).toUInt(&numeric);
        const QHostAddress host(colon > 0 ? listen.left(colon).remove(u'[').remove(u']') : QString());
        // Messages are taken without TLS: only from this machine.
        if (colon <= 0 || !numeric || wanted > 65535 || !host.isLoopback()) {
            report(QStringLiteral(
                       "--listen takes a loopback address and port such as 127.0.0.1:1587, not \"%1\"")
                       .arg(listen));
            return EX_USAGE;
        }
        address = host;
        port = static_cast<quint16>(wanted);
    }

    auto relay = NextTransport::fromSettings(env_.settings, /*smtpOnly=*/true);
    if (!relay) {
        report(relay.error().localizedDescription);
        return EX_CONFIG;
    }
    const QString token =
        env_.credentials
            ? env_.credentials->passwordFromKeychainItem(QString::fromLatin1(credentialLabel), userName())
            : QString();
    if (token.isEmpty()) {
        report(
            QStringLiteral("no credentials for clients yet: run quillmoor smtpd --print-credentials once"));
        return EX_CONFIG;
    }
    // Read once here: a look-up in the keyring per message would wait on the main thread.
    relay->smtp = SmtpSubmitter::withStoredPassword(relay->smtp, env_.credentials);

    QTemporaryDir spool(QDir::temp().filePath(QStringLiteral("quillmoor-smtpd-XXXXXX")));
    if (!spool.isValid()) {
        report(QStringLiteral("cannot make a spool folder: %1").arg(spool.errorString()));
        return EX_TEMPFAIL;
    }
    QFile::setPermissions(spool.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const TerminationCleanup cleanup(spool.path());

    SmtpdServer::Options options;
    options.relay = *relay;
    options.answer = Handover::unattendedAnswer(env_.settings);
    options.credentials = {userName(), token};
    options.spoolFolder = spool.path();
    SmtpdServer server(env_, options);
    const int passed = socketFromSystemd();
    const auto listening = passed >= 0 ? server.adopt(passed) : server.listen(address, port);
    if (!listening) {
        report(listening.error().localizedDescription);
        return EX_OSERR;
    }
    report(QStringLiteral("listening on %1, relaying to %2").arg(server.address(), relay->describe()));
    return QCoreApplication::exec() == 0 ? EX_OK : EX_SOFTWARE;
}

} // namespace qm::cli
