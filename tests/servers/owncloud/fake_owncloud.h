#pragma once

// An ownCloud server: WebDAV under <prefix>/remote.php/webdav (GET, HEAD, PUT, MKCOL, DELETE, PROPFIND,
// MOVE, COPY, OPTIONS) and the OCS share endpoint, every request behind Basic authentication. It answers
// as the server does: 401 with a Basic challenge for wrong credentials, 404 for a missing name, 409 for a
// missing parent folder, 405 for MKCOL on a name that exists, 412 for a MOVE or COPY without overwrite
// (or a PUT with "If-None-Match: *") onto a name that exists, 207 multistatus for PROPFIND, and OCS
// answers whose HTTP status is 200 with the outcome in <meta>.
//
// On the kit's streaming server: uploads pass through with flat memory (kept in memory, or in a store
// folder as file-1, file-2 ...), and the kit's faults and the request log are the server's.

#include "support/stream_server.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <mutex>

namespace qm::test {

class FakeOwnCloud {
public:
    enum class ShareMode {
        Normal,
        TwoURLs, // a share answer with two <url> elements
        Failure, // the OCS failure answer of a path the server does not know
    };

    // `prefix`: the path the server is installed under ("" or "/owncloud"). With `storeDir`, file
    // contents are kept in files there rather than in memory. `port` 0 takes a free one.
    explicit FakeOwnCloud(QString prefix = {}, QByteArray user = "alice", QByteArray password = "s3cret",
                          QString storeDir = {}, int port = 0);

    StreamServer& server() { return server_; }
    RequestLog& log() { return server_.log(); }
    // The log as "METHOD /decoded/path" lines.
    QStringList calls();
    // The server's address followed by `path` as it is given (escaped or not).
    QString url(const QString& path = {}) const { return server_.url().toString() + path; }
    QString user() const { return QString::fromLatin1(user_); }
    QString password() const;
    // The account's password changes on the server: requests with the old one answer 401.
    void setPassword(QByteArray password);

    void setShareMode(ShareMode mode);
    QString shareURL(int id) const { return url(QStringLiteral("/index.php/s/share%1?x=1").arg(id)); }

    // Paths below the WebDAV root, beginning with "/".
    void addFolder(const QString& path);
    void addFile(const QString& path, const QByteArray& content);
    bool hasFolder(const QString& path);
    bool hasFile(const QString& path);
    QByteArray file(const QString& path);
    QStringList files();

private:
    struct File {
        QByteArray content; // without a store folder
        QString storedAt;   // with one
        qint64 size = 0;
        QByteArray type;
        int tag = 0;
    };

    StreamAnswer respond(const StreamRequest& request, BodyReader& body);
    StreamAnswer dav(const StreamRequest& request, const QString& path, BodyReader& body);
    StreamAnswer put(const StreamRequest& request, const QString& path, BodyReader& body);
    StreamAnswer propfind(const StreamRequest& request, const QString& path, BodyReader& body);
    StreamAnswer transfer(const StreamRequest& request, const QString& path, bool keepSource);
    StreamAnswer share(const StreamRequest& request, BodyReader& body);
    QByteArray contentOf(const File& file) const;
    void removeTree(const QString& path);
    QString davRoot() const { return prefix_ + QStringLiteral("/remote.php/webdav"); }

    QString prefix_;
    QByteArray user_, password_;
    QString storeDir_;
    mutable std::mutex mutex_;
    QSet<QString> folders_;
    QMap<QString, File> files_;
    ShareMode shareMode_ = ShareMode::Normal;
    int shareCount_ = 0;
    int storedCount_ = 0;
    int tagCount_ = 0;
    StreamServer server_; // last: it calls into the members above until it is gone
};

} // namespace qm::test
