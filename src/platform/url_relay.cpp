#include "platform/url_relay.h"

#include <QByteArray>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qm::platform {

namespace {

// A URL is short; anything longer is not one of ours and is not buffered without bound.
constexpr qsizetype kMaxLineBytes = 64 * 1024;
constexpr int kListenerReadMilliseconds = 5000;

Error relayError(int code, const QString& text) {
    return Error(QString::fromLatin1(UrlRelay::errorDomain), code, text);
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString runtimeFolder() {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return base + QStringLiteral("/quillmoor");
}

// The folder must be ours and closed to everybody else, or another user could hand us addresses.
Result<void> ensurePrivateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return relayError(UrlRelay::SocketFailed,
                          QStringLiteral("cannot make %1: %2").arg(folder, systemError()));
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0)
        return relayError(
            UrlRelay::SocketFailed,
            QStringLiteral("%1 is not a folder of this user alone; it is not used").arg(folder));
    return {};
}

// The socket's address; false when the path does not fit.
bool socketAddress(const QString& path, sockaddr_un& address) {
    const QByteArray encoded = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(encoded.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    return true;
}

// A connected client socket, or -1 (errno set). Blocking, with `timeoutMs` for every send and receive.
int connectTo(const QString& path, int timeoutMs) {
    sockaddr_un address;
    if (!socketAddress(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

struct UrlRelay::Connection {
    int fd = -1;
    QByteArray line;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> limit;
};

UrlRelay::UrlRelay(std::function<void(const QString&)> receiver)
    : receiver_(std::move(receiver)) {}

UrlRelay::~UrlRelay() {
    while (!connections_.empty())
        close(connections_.back().get());
    if (fd_ >= 0) {
        notifier_.reset();
        ::close(fd_);
        ::unlink(QFile::encodeName(path_).constData());
    }
}

QString UrlRelay::socketPath() {
    return runtimeFolder() + QStringLiteral("/url-relay");
}

bool UrlRelay::isListening() const {
    return fd_ >= 0;
}

Result<void> UrlRelay::listen() {
    if (isListening())
        return {};
    if (auto folder = ensurePrivateFolder(runtimeFolder()); !folder)
        return folder;
    const QString path = socketPath();
    sockaddr_un address;
    if (!socketAddress(path, address))
        return relayError(SocketFailed, QStringLiteral("the socket path %1 is too long").arg(path));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return relayError(SocketFailed, QStringLiteral("cannot make a socket: %1").arg(systemError()));
    const auto bindSocket = [&] {
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    };
    if (!bindSocket()) {
        if (errno != EADDRINUSE) {
            const QString reason = systemError();
            ::close(fd);
            return relayError(SocketFailed, QStringLiteral("cannot listen on %1: %2").arg(path, reason));
        }
        // Taken by a program that still answers, or left behind by one that ended without closing it.
        if (const int probe = connectTo(path, 1000); probe >= 0) {
            ::close(probe);
            ::close(fd);
            return relayError(AlreadyListening,
                              QStringLiteral("another Quillmoor program (a link under way or the desktop "
                                             "program) receives the sign-in addresses already"));
        }
        ::unlink(QFile::encodeName(path).constData());
        if (!bindSocket()) {
            const QString reason = systemError();
            ::close(fd);
            return relayError(SocketFailed, QStringLiteral("cannot listen on %1: %2").arg(path, reason));
        }
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);
    if (::listen(fd, 8) != 0) {
        const QString reason = systemError();
        ::close(fd);
        ::unlink(QFile::encodeName(path).constData());
        return relayError(SocketFailed, QStringLiteral("cannot listen on %1: %2").arg(path, reason));
    }
    fd_ = fd;
    path_ = path;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { accept(); });
    return {};
}

void UrlRelay::accept() {
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        auto connection = std::make_unique<Connection>();
        Connection* raw = connection.get();
        raw->fd = fd;
        raw->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(raw->notifier.get(), &QSocketNotifier::activated, this, [this, raw] { readFrom(raw); });
        // A sender that never finishes its line is dropped.
        raw->limit = std::make_unique<QTimer>();
        raw->limit->setSingleShot(true);
        connect(raw->limit.get(), &QTimer::timeout, this, [this, raw] { close(raw); });
        raw->limit->start(kListenerReadMilliseconds);
        connections_.push_back(std::move(connection));
    }
}

void UrlRelay::readFrom(Connection* connection) {
    char buffer[4096];
    const ssize_t n = ::read(connection->fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n > 0)
        connection->line.append(buffer, n);
    const qsizetype end = connection->line.indexOf('\n');
    if (end < 0) {
        if (n <= 0 || connection->line.size() > kMaxLineBytes)
            close(connection);
        return;
    }
    const QString url = QString::fromUtf8(connection->line.left(end)).trimmed();
    // A two-byte answer on a fresh socket fits its buffer: the write does not wait.
    [[maybe_unused]] const ssize_t written = ::send(connection->fd, "ok\n", 3, MSG_NOSIGNAL);
    close(connection);
    // The receiver may end this relay (the sign-in is over): it runs after this call has returned.
    QPointer<UrlRelay> self(this);
    QTimer::singleShot(0, this, [self, url] {
        if (self && self->receiver_ && !url.isEmpty())
            self->receiver_(url);
    });
}

void UrlRelay::close(Connection* connection) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() != connection)
            continue;
        connection->notifier.reset();
        ::close(connection->fd);
        // Closed from its own notifier's or timer's signal: deleted once that signal has returned.
        it->release();
        connections_.erase(it);
        QTimer::singleShot(0, [connection] { delete connection; });
        return;
    }
}

Result<void> UrlRelay::send(const QString& url, int timeoutMs) {
    const int fd = connectTo(socketPath(), timeoutMs);
    if (fd < 0)
        return relayError(NobodyListens,
                          QStringLiteral("no Quillmoor program is waiting for this address (start "
                                         "`quillmoor link SERVICE` or the Quillmoor mail program first)"));
    const QByteArray line = url.toUtf8() + '\n';
    const auto notTaken = [fd] {
        ::close(fd);
        return relayError(NotTaken, QStringLiteral("the waiting Quillmoor program did not take the address"));
    };
    qsizetype sent = 0;
    while (sent < line.size()) {
        const ssize_t n =
            ::send(fd, line.constData() + sent, static_cast<size_t>(line.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return notTaken();
        sent += n;
    }
    QByteArray answer;
    char c = 0;
    while (answer.size() < 16) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        answer.append(c);
    }
    ::close(fd);
    if (answer != "ok")
        return relayError(NotTaken, QStringLiteral("the waiting Quillmoor program did not take the address"));
    return {};
}

} // namespace qm::platform
