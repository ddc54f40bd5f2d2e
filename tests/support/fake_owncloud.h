#pragma once

// An ownCloud server in the test process: WebDAV under <prefix>/remote.php/webdav and the OCS share
// endpoint, behind Basic authentication. A socket server of its own, because WebDAV needs MKCOL, which
// the usual embedded HTTP servers refuse before any handler sees it.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qm::test {

class FakeOwnCloud {
public:
    struct Request {
        QByteArray method;
        QString path; // decoded, without the query
        QByteArray target;
        QMap<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;
    };
    enum class ShareMode { Normal, TwoURLs, Failure };

    FakeOwnCloud(QString prefix = {}, QByteArray user = "alice", QByteArray password = "s3cret")
        : prefix_(std::move(prefix))
        , user_(std::move(user))
        , password_(std::move(password)) {
        folders_.insert(QStringLiteral("/"));
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeOwnCloud() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }

    int port() const { return port_; }
    QString url(const QString& path = {}) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
    }
    QString user() const { return QString::fromLatin1(user_); }
    QString password() const { return QString::fromLatin1(password_); }

    void setShareMode(ShareMode mode) {
        std::lock_guard lock(mutex_);
        shareMode_ = mode;
    }
    void addFolder(const QString& path) {
        std::lock_guard lock(mutex_);
        folders_.insert(path);
    }
    void addFile(const QString& path, const QByteArray& body) {
        std::lock_guard lock(mutex_);
        files_[path] = body;
    }
    bool hasFolder(const QString& path) {
        std::lock_guard lock(mutex_);
        return folders_.contains(path);
    }
    bool hasFile(const QString& path) {
        std::lock_guard lock(mutex_);
        return files_.contains(path);
    }
    QByteArray file(const QString& path) {
        std::lock_guard lock(mutex_);
        return files_.value(path);
    }
    QList<Request> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    QStringList log() {
        std::lock_guard lock(mutex_);
        QStringList lines;
        for (const Request& request : requests_)
            lines.append(QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path);
        return lines;
    }
    QString shareURL(int id) const { return url(QStringLiteral("/index.php/s/share%1?x=1").arg(id)); }

private:
    static QString parentOf(const QString& path) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        return slash <= 0 ? QStringLiteral("/") : path.left(slash);
    }

    void serve() {
        while (!stop_) {
            pollfd fd{listener_, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0)
                continue;
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                handle(connection);
                ::close(connection);
            }
        }
    }

    static bool readMore(int connection, QByteArray& buffer) {
        char chunk[65536];
        pollfd fd{connection, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0)
            return false;
        const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, got);
        return true;
    }

    static void sendAll(int connection, const QByteArray& bytes) {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(connection, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
    }

    void handle(int connection) {
        QByteArray buffer;
        qsizetype end;
        while ((end = buffer.indexOf("\r\n\r\n")) < 0)
            if (!readMore(connection, buffer))
                return;
        Request request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
        }
        buffer.remove(0, end + 4);
        if (request.headers.value("expect").toLower() == "100-continue")
            sendAll(connection, "HTTP/1.1 100 Continue\r\n\r\n");
        if (request.headers.value("transfer-encoding").toLower().contains("chunked")) {
            for (;;) {
                qsizetype lineEnd;
                while ((lineEnd = buffer.indexOf("\r\n")) < 0)
                    if (!readMore(connection, buffer))
                        return;
                const qsizetype size =
                    buffer.left(lineEnd).split(';').value(0).trimmed().toLongLong(nullptr, 16);
                while (buffer.size() < lineEnd + 2 + size + 2)
                    if (!readMore(connection, buffer))
                        return;
                request.body.append(buffer.mid(lineEnd + 2, size));
                buffer.remove(0, lineEnd + 2 + size + 2);
                if (size == 0)
                    break;
            }
        } else {
            const qsizetype length = request.headers.value("content-length").toLongLong();
            while (buffer.size() < length)
                if (!readMore(connection, buffer))
                    return;
            request.body = buffer.left(length);
        }
        const QByteArray rawPath = request.target.split('?').value(0);
        request.path = QUrl::fromPercentEncoding(rawPath);

        int status = 200;
        QByteArray body;
        QByteArray type = "text/plain";
        {
            std::lock_guard lock(mutex_);
            requests_.append(request);
            respond(request, status, body, type);
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) +
                          " Fake\r\nConnection: close\r\nContent-Type: " + type +
                          "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (status == 401)
            head += "WWW-Authenticate: Basic realm=\"ownCloud\"\r\n";
        sendAll(connection, head + "\r\n" + (request.method == "HEAD" ? QByteArray() : body));
        ::shutdown(connection, SHUT_WR);
    }

    void respond(const Request& request, int& status, QByteArray& body, QByteArray& type) {
        if (request.headers.value("authorization") != "Basic " + (user_ + ':' + password_).toBase64()) {
            status = 401;
            return;
        }
        const QString dav = prefix_ + QStringLiteral("/remote.php/webdav");
        const QString shares = prefix_ + QStringLiteral("/ocs/v1.php/apps/files_sharing/api/v1/shares");
        if (request.path == shares && request.method == "POST") {
            const QUrlQuery form(QString::fromUtf8(request.body));
            const QString path =
                QLatin1Char('/') + form.queryItemValue(QStringLiteral("path"), QUrl::FullyDecoded);
            type = "application/xml; charset=utf-8";
            if (shareMode_ == ShareMode::Failure || !files_.contains(path)) {
                body =
                    "<?xml version=\"1.0\"?>\n<ocs><meta><status>failure</status><statuscode>404</statuscode>"
                    "<message>Wrong path, file/folder doesn't exist</message></meta><data/></ocs>\n";
                return;
            }
            ++shareCount_;
            QByteArray link = shareURL(shareCount_).toUtf8().replace("&", "&amp;");
            body = "<?xml version=\"1.0\"?>\n<ocs><meta><status>ok</status><statuscode>100</statuscode>"
                   "<message/></meta><data><id>" +
                   QByteArray::number(shareCount_) + "</id><url>" + link + "</url><token>share" +
                   QByteArray::number(shareCount_) + "</token>";
            if (shareMode_ == ShareMode::TwoURLs)
                body += "<url>" + link + "</url>";
            body += "</data></ocs>\n";
            return;
        }
        if (request.path != dav && !request.path.startsWith(dav + QLatin1Char('/'))) {
            status = 404;
            return;
        }
        QString path = request.path.mid(dav.size());
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        if (path.isEmpty())
            path = QStringLiteral("/");
        if (request.method == "GET" || request.method == "HEAD") {
            if (files_.contains(path))
                body = files_.value(path);
            else if (!folders_.contains(path))
                status = 404;
        } else if (request.method == "MKCOL") {
            if (folders_.contains(path) || files_.contains(path))
                status = 405;
            else if (!folders_.contains(parentOf(path)))
                status = 409;
            else {
                folders_.insert(path);
                status = 201;
            }
        } else if (request.method == "PUT") {
            if (!folders_.contains(parentOf(path)) || folders_.contains(path))
                status = 409;
            else {
                status = files_.contains(path) ? 204 : 201;
                files_[path] = request.body;
            }
        } else if (request.method == "DELETE") {
            if (files_.remove(path) == 0 && !folders_.remove(path))
                status = 404;
            else
                status = 204;
        } else {
            status = 405;
        }
    }

    QString prefix_;
    QByteArray user_, password_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    QSet<QString> folders_;
    QMap<QString, QByteArray> files_;
    QList<Request> requests_;
    ShareMode shareMode_ = ShareMode::Normal;
    int shareCount_ = 0;
};

} // namespace qm::test
