#include "platform/url_relay.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
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
// Every listener's socket is named "url-relay.PID.RANDOM"; the prefix alone also finds the one socket of
// earlier versions.
constexpr char kSocketPrefix[] = "url-relay";
// Names tried before giving up when each is taken (a clash needs the same process id and 64 random bits).
constexpr int kNameAttempts = 8;

Error relayError(int code, const QString& text) {
    return Error(QString::fromLatin1(UrlRelay::errorDomain), code, text);
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
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

// Writes the line and reads the answer on a connected socket; true when the listener answered "ok".
bool deliver(int fd, const QByteArray& line) {
    qsizetype sent = 0;
    while (sent < line.size()) {
        const ssize_t n =
            ::send(fd, line.constData() + sent, static_cast<size_t>(line.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
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
    return answer == "ok";
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

QString UrlRelay::folder() {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return base + QStringLiteral("/quillmoor");
}

bool UrlRelay::isListening() const {
    return fd_ >= 0;
}

Result<void> UrlRelay::listen() {
    if (isListening())
        return {};
    const QString where = folder();
    if (auto made = ensurePrivateFolder(where); !made)
        return made;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return relayError(SocketFailed, QStringLiteral("cannot make a socket: %1").arg(systemError()));
    const auto fail = [fd](const QString& text) {
        ::close(fd);
        return relayError(SocketFailed, text);
    };
    // Bound and listening under a name senders do not look at, then linked to its own name: a sender
    // never meets a socket that refuses connections because it does not listen yet, and takes for left
    // behind only the sockets of programs that are gone.
    const QByteArray pending =
        QFile::encodeName(QStringLiteral("%1/.pending-.%2.%3")
                              .arg(where)
                              .arg(::getpid())
                              .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0')));
    sockaddr_un address;
    if (!socketAddress(QFile::decodeName(pending), address))
        return fail(QStringLiteral("the socket folder %1 has too long a path").arg(where));
    ::unlink(pending.constData());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(QStringLiteral("cannot listen in %1: %2").arg(where, systemError()));
    ::chmod(pending.constData(), 0600);
    if (::listen(fd, 8) != 0) {
        const QString reason = systemError();
        ::unlink(pending.constData());
        return fail(QStringLiteral("cannot listen in %1: %2").arg(where, reason));
    }
    QString path;
    for (int attempt = 0; attempt < kNameAttempts && path.isEmpty(); ++attempt) {
        const QString candidate =
            QStringLiteral("%1/%2.%3.%4")
                .arg(where, QLatin1String(kSocketPrefix))
                .arg(::getpid())
                .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        if (::link(pending.constData(), QFile::encodeName(candidate).constData()) == 0)
            path = candidate;
        else if (errno != EEXIST)
            break;
    }
    const QString reason = systemError();
    ::unlink(pending.constData());
    if (path.isEmpty())
        return fail(QStringLiteral("cannot listen in %1: %2").arg(where, reason));
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
    const QDir where(folder());
    const QStringList names =
        where.entryList({QLatin1String(kSocketPrefix) + u'*'}, QDir::System | QDir::Files, QDir::Name);
    const QByteArray line = url.toUtf8() + '\n';
    int live = 0;
    int taken = 0;
    for (const QString& name : names) {
        const QString path = where.filePath(name);
        const int fd = connectTo(path, timeoutMs);
        if (fd < 0) {
            // Refused: nobody listens on it any more, the program that made it is gone.
            if (errno == ECONNREFUSED)
                ::unlink(QFile::encodeName(path).constData());
            else if (errno != ENOENT)
                ++live; // there, but too busy to take a connection in time
            continue;
        }
        ++live;
        if (deliver(fd, line))
            ++taken;
        ::close(fd);
    }
    if (live == 0)
        return relayError(NobodyListens,
                          QStringLiteral("no Quillmoor program is waiting for this address (start "
                                         "`quillmoor link SERVICE` or the Quillmoor mail program first)"));
    if (taken == 0)
        return relayError(NotTaken, QStringLiteral("the waiting Quillmoor program did not take the address"));
    return {};
}

} // namespace qm::platform
