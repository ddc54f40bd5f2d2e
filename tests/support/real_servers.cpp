#include "support/real_servers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

QString programPath(const QString& name) {
    // Debian's interpreter carries the Debian Python modules; a python3 earlier in PATH may not.
    if (name == QLatin1String("python3") && QFile::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(name);
}

} // namespace

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool acceptsConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const sockaddr_in address = loopback(port);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::unique_ptr<RealServer> RealServer::start(const QString& program, const QStringList& arguments,
                                              QString* error, int timeoutMs) {
    const QString path = programPath(program);
    if (path.isEmpty()) {
        *error = QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)").arg(program);
        return nullptr;
    }
    std::unique_ptr<RealServer> server(new RealServer);
    // Another process may take a free port between the pick and the bind: try a few.
    for (int tries = 0; tries < 3; ++tries) {
        server->port_ = freeLoopbackPort();
        QStringList filled = arguments;
        filled.replaceInStrings(QStringLiteral("{port}"), QString::number(server->port_));
        server->output_.clear();
        server->process_.setProcessChannelMode(QProcess::MergedChannels);
        // A test program that crashes or is killed takes its servers along instead of leaving them running.
        server->process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        server->process_.start(path, filled);
        if (!server->process_.waitForStarted(5000)) {
            *error = QStringLiteral("%1 did not start: %2").arg(program, server->process_.errorString());
            return nullptr;
        }
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && server->process_.state() == QProcess::Running) {
            if (acceptsConnections(server->port_))
                return server;
            server->process_.waitForReadyRead(50);
            server->output_ += server->process_.readAll();
        }
        *error = QStringLiteral("%1 did not listen on port %2: %3")
                     .arg(program)
                     .arg(server->port_)
                     .arg(server->output());
        if (server->process_.state() == QProcess::Running) {
            server->process_.kill();
            server->process_.waitForFinished(5000);
            return nullptr; // it ran but never listened: trying again would only wait again
        }
        server->process_.waitForFinished(1000);
    }
    return nullptr;
}

RealServer::~RealServer() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QString RealServer::output() {
    output_ += process_.readAll();
    return QString::fromLocal8Bit(output_);
}

std::unique_ptr<RealServer> startSftpServer(const QString& folder, const QString& user,
                                            const QString& password, const QString& authorizedKeys,
                                            const QString& hostKey, QString* error) {
    return RealServer::start(QStringLiteral("rclone"),
                             {QStringLiteral("serve"), QStringLiteral("sftp"), folder,
                              QStringLiteral("--addr"), QStringLiteral("127.0.0.1:{port}"),
                              QStringLiteral("--user"), user, QStringLiteral("--pass"), password,
                              QStringLiteral("--authorized-keys"), authorizedKeys, QStringLiteral("--key"),
                              hostKey, QStringLiteral("--config"), folder + QStringLiteral("/../rclone.conf"),
                              // Tests also change the folder directly; a cached listing would hide that.
                              QStringLiteral("--dir-cache-time"), QStringLiteral("0s")},
                             error);
}

std::unique_ptr<RealServer> startWebdavServer(const QString& folder, const QString& user,
                                              const QString& password, QString* error,
                                              const QString& basePath) {
    QStringList arguments{QStringLiteral("serve"), QStringLiteral("webdav"), folder, QStringLiteral("--addr"),
                          QStringLiteral("127.0.0.1:{port}"), QStringLiteral("--user"), user,
                          QStringLiteral("--pass"), password, QStringLiteral("--config"),
                          folder + QStringLiteral("/../rclone.conf"),
                          // Tests also change the folder directly; a cached listing would hide that.
                          QStringLiteral("--dir-cache-time"), QStringLiteral("0s")};
    if (!basePath.isEmpty())
        arguments << QStringLiteral("--baseurl") << basePath;
    return RealServer::start(QStringLiteral("rclone"), arguments, error);
}

std::unique_ptr<RealServer> startFtpServer(const QString& folder, const QString& user,
                                           const QString& password, QString* error) {
    return RealServer::start(QStringLiteral("python3"),
                             {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                              QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QStringLiteral("{port}"),
                              QStringLiteral("-u"), user, QStringLiteral("-P"), password,
                              QStringLiteral("-d"), folder, QStringLiteral("-w")},
                             error);
}

std::unique_ptr<RealServer> startStaticHttpServer(const QString& folder, QString* error) {
    return RealServer::start(QStringLiteral("python3"),
                             {QStringLiteral("-m"), QStringLiteral("http.server"), QStringLiteral("{port}"),
                              QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                              QStringLiteral("--directory"), folder},
                             error);
}

bool makeSshKey(const QString& path, const QString& passphrase, QString* error) {
    const QString program = programPath(QStringLiteral("ssh-keygen"));
    if (program.isEmpty()) {
        *error = QStringLiteral("ssh-keygen is not installed (scripts/install-deps.sh installs it)");
        return false;
    }
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".pub"));
    QProcess keygen;
    keygen.setProcessChannelMode(QProcess::MergedChannels);
    keygen.start(program, {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                           QStringLiteral("-N"), passphrase, QStringLiteral("-C"),
                           QStringLiteral("quillmoor-test"), QStringLiteral("-f"), path});
    if (!keygen.waitForFinished(15000) || keygen.exitStatus() != QProcess::NormalExit ||
        keygen.exitCode() != 0) {
        *error = QStringLiteral("ssh-keygen failed: %1").arg(QString::fromLocal8Bit(keygen.readAll()));
        if (keygen.state() != QProcess::NotRunning) {
            keygen.kill();
            keygen.waitForFinished(2000);
        }
        return false;
    }
    return true;
}

bool FileServers::start(QString* error) {
    if (!root_.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    for (const char* scheme : {"sftp", "http", "ftp", "file"})
        QDir().mkpath(folder(QString::fromLatin1(scheme)));
    if (!makeSshKey(hostKey(), QString(), error) ||
        !makeSshKey(clientKey(), QString::fromLatin1(keyPassphrase), error))
        return false;
    const QString user = QString::fromLatin1(FileServers::user);
    const QString password = QString::fromLatin1(FileServers::password);
    sftp = startSftpServer(folder(QStringLiteral("sftp")), user, password,
                           clientKey() + QStringLiteral(".pub"), hostKey(), error);
    if (sftp)
        webdav = startWebdavServer(folder(QStringLiteral("http")), user, password, error);
    if (webdav)
        ftp = startFtpServer(folder(QStringLiteral("ftp")), user, password, error);
    if (ftp)
        publicHttp = startStaticHttpServer(root_.path(), error);
    return sftp && webdav && ftp && publicHttp;
}

QByteArray FileServers::knownHostsLine() const {
    QFile file(hostKey() + QStringLiteral(".pub"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> fields = file.readAll().split(' ');
    return "[127.0.0.1]:" + QByteArray::number(sftp ? sftp->port() : 0) + ' ' + fields.value(0) + ' ' +
           fields.value(1).trimmed() + '\n';
}

QUrl FileServers::publicURL(const QString& scheme, const QString& path) const {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(publicHttp ? publicHttp->port() : 0);
    url.setPath(QStringLiteral("/served-") + scheme + path, QUrl::DecodedMode);
    return url;
}

namespace {

std::unique_ptr<FileServers> shared;
QString sharedError;
bool sharedStarted = false;

// Stops the shared servers while the application object still lives.
class SharedServersEnvironment final : public ::testing::Environment {
public:
    void TearDown() override { shared.reset(); }
};

[[maybe_unused]] ::testing::Environment* const sharedEnvironment =
    ::testing::AddGlobalTestEnvironment(new SharedServersEnvironment);

} // namespace

FileServers* sharedFileServers(QString* error) {
    if (!sharedStarted) {
        sharedStarted = true;
        shared = std::make_unique<FileServers>();
        if (!shared->start(&sharedError)) {
            shared.reset();
            sharedError = QStringLiteral("file servers: ") + sharedError;
        }
    }
    *error = sharedError;
    return shared.get();
}

QString FileServers::folder(const QString& scheme) const {
    return root_.filePath(QStringLiteral("served-") + scheme);
}

QUrl FileServers::url(const QString& scheme, const QString& path) const {
    QUrl url;
    url.setScheme(scheme);
    if (scheme == QLatin1String("file")) {
        url.setPath(folder(scheme) + path, QUrl::DecodedMode);
        return url;
    }
    url.setHost(QStringLiteral("127.0.0.1"));
    const RealServer* server = scheme == QLatin1String("sftp")  ? sftp.get()
                               : scheme == QLatin1String("ftp") ? ftp.get()
                                                                : webdav.get();
    url.setPort(server ? server->port() : 0);
    url.setPath(path, QUrl::DecodedMode);
    return url;
}

} // namespace qm::test
