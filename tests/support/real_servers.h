#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

namespace qm::test {

// A real server program for tests, listening on 127.0.0.1 at a free port. It is stopped by its own
// process id when this goes away. In CI a server that cannot start fails the test; nothing is skipped.
class RealServer {
public:
    ~RealServer();
    RealServer(const RealServer&) = delete;
    RealServer& operator=(const RealServer&) = delete;

    // Runs `program` with `arguments`, in which "{port}" stands for a free loopback port, and waits
    // (bounded) until that port accepts connections. Null, with the reason in `error`, otherwise.
    static std::unique_ptr<RealServer> start(const QString& program, const QStringList& arguments,
                                             QString* error, int timeoutMs = 15000);

    int port() const { return port_; }
    // What it printed so far, for failure messages.
    QString output();

private:
    RealServer() = default;

    QProcess process_;
    int port_ = 0;
    QByteArray output_;
};

// A port nothing listens on right now: the kernel's pick for a socket bound to port 0.
int freeLoopbackPort();
bool acceptsConnections(int port);

// `rclone serve sftp` over `folder`: password log-in for `user`, and key log-in for the keys in
// `authorizedKeys`. `hostKey` is the server's private host key (see makeSshKey).
std::unique_ptr<RealServer> startSftpServer(const QString& folder, const QString& user,
                                            const QString& password, const QString& authorizedKeys,
                                            const QString& hostKey, QString* error);
// `rclone serve webdav` over `folder` with Basic log-in, below the URL path `basePath` when one is given.
std::unique_ptr<RealServer> startWebdavServer(const QString& folder, const QString& user,
                                              const QString& password, QString* error,
                                              const QString& basePath = {});
// pyftpdlib over `folder`, writable for `user`.
std::unique_ptr<RealServer> startFtpServer(const QString& folder, const QString& user,
                                           const QString& password, QString* error);

// `python3 -m http.server` over `folder`: anonymous GET and HEAD, as a public web address would be.
std::unique_ptr<RealServer> startStaticHttpServer(const QString& folder, QString* error);

// The servers the file-transfer layer reaches, each serving its own folder under one temporary root with
// one account. The SFTP server also takes the key pair clientKey() (pass phrase keyPassphrase).
class FileServers {
public:
    static constexpr char user[] = "quill";
    static constexpr char password[] = "moor-pass";
    static constexpr char keyPassphrase[] = "key phrase";

    // Starts all the servers; false with the reason when one cannot start.
    bool start(QString* error);

    // The folder a scheme ("sftp", "http", "ftp", "file") serves.
    QString folder(const QString& scheme) const;
    // `path` (absolute) on that scheme's server: what the server text of the uploader names.
    QUrl url(const QString& scheme, const QString& path = QStringLiteral("/")) const;
    // `path` of a scheme's folder as a public web address serves it (anonymous HTTP over all folders).
    QUrl publicURL(const QString& scheme, const QString& path) const;
    // The SFTP server's entry for a known_hosts file, as a user who accepted its key has it.
    QByteArray knownHostsLine() const;
    QString clientKey() const { return root_.filePath(QStringLiteral("client_key")); }
    QString hostKey() const { return root_.filePath(QStringLiteral("host_key")); }

    std::unique_ptr<RealServer> sftp;
    std::unique_ptr<RealServer> webdav;
    std::unique_ptr<RealServer> ftp;
    std::unique_ptr<RealServer> publicHttp;

private:
    QTemporaryDir root_;
};

// The FileServers every test of the program shares, started on the first call and stopped when the tests
// end. Null, with the reason in `error`, when they could not start.
FileServers* sharedFileServers(QString* error);

// An ed25519 key pair at `path` and `path`.pub with `passphrase` (may be empty), made by ssh-keygen.
bool makeSshKey(const QString& path, const QString& passphrase, QString* error);

} // namespace qm::test
