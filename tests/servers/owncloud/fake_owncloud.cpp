#include "servers/owncloud/fake_owncloud.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>

namespace qm::test {

namespace {

constexpr char kSharesPath[] = "/ocs/v1.php/apps/files_sharing/api/v1/shares";
constexpr char kLastModified[] = "Mon, 07 Dec 2026 04:00:00 GMT";
constexpr size_t kFormLimit = 64 * 1024;
constexpr size_t kBufferSize = 256 * 1024;

QString parentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

bool isBelow(const QString& path, const QString& folder) {
    return folder == QLatin1String("/") ? path != folder : path.startsWith(folder + QLatin1Char('/'));
}

StreamAnswer text(int status, const std::string& body, const std::string& type = "text/plain") {
    StreamAnswer answer{status, {}, body};
    answer.set("Content-Type", type);
    return answer;
}

// A WebDAV error body, as the server explains its refusals.
StreamAnswer davError(int status, const std::string& message) {
    return text(status,
                "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:error xmlns:d=\"DAV:\" "
                "xmlns:o=\"http://owncloud.org/ns\"><o:message>" +
                    message + "</o:message></d:error>\n",
                "application/xml; charset=utf-8");
}

// An OCS answer: the HTTP status is 200 whatever the outcome, which <meta> carries.
StreamAnswer ocs(int statusCode, const std::string& message, const std::string& data = {}, int http = 200) {
    const bool ok = statusCode == 100;
    return text(http,
                "<?xml version=\"1.0\"?>\n<ocs><meta><status>" + std::string(ok ? "ok" : "failure") +
                    "</status><statuscode>" + std::to_string(statusCode) + "</statuscode><message>" +
                    message + "</message></meta><data>" + data + "</data></ocs>\n",
                "application/xml; charset=utf-8");
}

std::string escapedHref(const QString& path) {
    return QUrl::toPercentEncoding(path, "/").toStdString();
}

} // namespace

FakeOwnCloud::FakeOwnCloud(QString prefix, QByteArray user, QByteArray password, QString storeDir, int port)
    : prefix_(std::move(prefix))
    , user_(std::move(user))
    , password_(std::move(password))
    , storeDir_(std::move(storeDir))
    , server_([this](const StreamRequest& request, BodyReader& body) { return respond(request, body); },
              port) {
    folders_.insert(QStringLiteral("/"));
    if (!storeDir_.isEmpty())
        QDir().mkpath(storeDir_);
}

QStringList FakeOwnCloud::calls() {
    QStringList lines;
    for (const LoggedRequest& request : server_.log().all())
        lines.append(QString::fromStdString(request.method + ' ' + request.path));
    return lines;
}

QString FakeOwnCloud::password() const {
    std::lock_guard lock(mutex_);
    return QString::fromLatin1(password_);
}

void FakeOwnCloud::setPassword(QByteArray password) {
    std::lock_guard lock(mutex_);
    password_ = std::move(password);
}

void FakeOwnCloud::setShareMode(ShareMode mode) {
    std::lock_guard lock(mutex_);
    shareMode_ = mode;
}

void FakeOwnCloud::addFolder(const QString& path) {
    std::lock_guard lock(mutex_);
    folders_.insert(path);
}

void FakeOwnCloud::addFile(const QString& path, const QByteArray& content) {
    std::lock_guard lock(mutex_);
    files_[path] = File{content, {}, content.size(), "application/octet-stream", ++tagCount_};
}

bool FakeOwnCloud::hasFolder(const QString& path) {
    std::lock_guard lock(mutex_);
    return folders_.contains(path);
}

bool FakeOwnCloud::hasFile(const QString& path) {
    std::lock_guard lock(mutex_);
    return files_.contains(path);
}

QByteArray FakeOwnCloud::file(const QString& path) {
    std::lock_guard lock(mutex_);
    const auto found = files_.constFind(path);
    return found == files_.cend() ? QByteArray() : contentOf(*found);
}

QStringList FakeOwnCloud::files() {
    std::lock_guard lock(mutex_);
    return files_.keys();
}

QByteArray FakeOwnCloud::contentOf(const File& file) const {
    if (file.storedAt.isEmpty())
        return file.content;
    QFile stored(file.storedAt);
    return stored.open(QIODevice::ReadOnly) ? stored.readAll() : QByteArray();
}

void FakeOwnCloud::removeTree(const QString& path) {
    for (auto it = files_.begin(); it != files_.end();) {
        if (it.key() == path || isBelow(it.key(), path)) {
            if (!it->storedAt.isEmpty())
                QFile::remove(it->storedAt);
            it = files_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = folders_.begin(); it != folders_.end();)
        it = *it == path || isBelow(*it, path) ? folders_.erase(it) : std::next(it);
}

StreamAnswer FakeOwnCloud::respond(const StreamRequest& request, BodyReader& body) {
    const QString path = QString::fromStdString(request.path);
    const QString root = davRoot();
    const bool isDav = path == root || path.startsWith(root + QLatin1Char('/'));
    const bool isShares = path == prefix_ + QLatin1String(kSharesPath);
    if (!isDav && !isShares)
        return text(404, "not found");
    {
        std::lock_guard lock(mutex_);
        if (request.header("Authorization") !=
            "Basic " + (user_ + ':' + password_).toBase64().toStdString()) {
            StreamAnswer refused = isShares ? ocs(997, "Unauthorised", {}, 401)
                                            : davError(401, "Username or password was incorrect");
            return refused.set("WWW-Authenticate", "Basic realm=\"ownCloud\", charset=\"UTF-8\"");
        }
    }
    if (isShares)
        return request.method == "POST" ? share(request, body) : text(405, "method not allowed");

    QString davPath = path.mid(root.size());
    while (davPath.size() > 1 && davPath.endsWith(QLatin1Char('/')))
        davPath.chop(1);
    if (davPath.isEmpty())
        davPath = QStringLiteral("/");
    if (davPath.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return davError(400, "Invalid path");
    return dav(request, davPath, body);
}

StreamAnswer FakeOwnCloud::dav(const StreamRequest& request, const QString& path, BodyReader& body) {
    const std::string& method = request.method;
    if (method == "PUT")
        return put(request, path, body);
    if (method == "PROPFIND")
        return propfind(request, path, body);
    if (method == "MOVE" || method == "COPY")
        return transfer(request, path, method == "COPY");
    if (method == "OPTIONS")
        return text(200, "")
            .set("DAV", "1, 3")
            .set("Allow", "OPTIONS, GET, HEAD, DELETE, PROPFIND, PUT, MKCOL, MOVE, COPY");

    std::lock_guard lock(mutex_);
    if (method == "GET" || method == "HEAD") {
        if (folders_.contains(path))
            return text(200, "This is the WebDAV interface. It can only be accessed by WebDAV clients.");
        const auto found = files_.constFind(path);
        if (found == files_.cend())
            return davError(404, "File not found");
        StreamAnswer answer{200, {}, contentOf(*found).toStdString()};
        return answer.set("Content-Type", found->type.toStdString())
            .set("ETag", "\"" + std::to_string(found->tag) + "\"")
            .set("Last-Modified", kLastModified);
    }
    if (method == "MKCOL") {
        char probe[1];
        if (body.read(probe, sizeof probe) > 0)
            return davError(415, "MKCOL with a body is not supported");
        if (folders_.contains(path) || files_.contains(path))
            return davError(405, "The resource you tried to create already exists");
        if (!folders_.contains(parentOf(path)))
            return davError(409, "Parent node does not exist");
        folders_.insert(path);
        return text(201, "");
    }
    if (method == "DELETE") {
        if (path == QLatin1String("/"))
            return davError(403, "The root cannot be deleted");
        if (!files_.contains(path) && !folders_.contains(path))
            return davError(404, "File not found");
        removeTree(path);
        return text(204, "");
    }
    return davError(405, "Method not allowed");
}

StreamAnswer FakeOwnCloud::put(const StreamRequest& request, const QString& path, BodyReader& body) {
    QString partPath;
    {
        std::lock_guard lock(mutex_);
        if (folders_.contains(path))
            return davError(405, "A folder cannot be overwritten by a file");
        if (!folders_.contains(parentOf(path)))
            return davError(409, "Parent node does not exist");
        if (request.header("If-None-Match") == "*" && files_.contains(path))
            return davError(412, "An If-None-Match header was specified, but the file exists");
        if (!storeDir_.isEmpty())
            partPath = QDir(storeDir_).filePath(QStringLiteral(".upload-%1").arg(++storedCount_));
    }
    // The bytes go to their own place first, as the server's part files do: a cut upload leaves nothing.
    QByteArray content;
    QFile part(partPath);
    if (!partPath.isEmpty() && !part.open(QIODevice::WriteOnly))
        return davError(507, "Insufficient storage");
    std::vector<char> buffer(kBufferSize);
    bool written = true;
    while (const size_t n = body.read(buffer.data(), buffer.size())) {
        if (partPath.isEmpty())
            content.append(buffer.data(), qsizetype(n));
        else
            written = written && part.write(buffer.data(), qint64(n)) == qint64(n);
    }
    part.close();
    if (body.failed() || !written) {
        if (!partPath.isEmpty())
            QFile::remove(partPath);
        return written ? StreamAnswer{} : davError(507, "Insufficient storage");
    }

    std::lock_guard lock(mutex_);
    if (!folders_.contains(parentOf(path))) {
        QFile::remove(partPath);
        return davError(409, "Parent node does not exist");
    }
    const auto existing = files_.constFind(path);
    const bool replaced = existing != files_.cend();
    if (replaced && !existing->storedAt.isEmpty())
        QFile::remove(existing->storedAt);
    File stored{content,
                {},
                qint64(body.received()),
                QByteArray::fromStdString(request.header("Content-Type")),
                ++tagCount_};
    if (!partPath.isEmpty()) {
        stored.storedAt = QDir(storeDir_).filePath(QStringLiteral("file-%1").arg(stored.tag));
        QFile::rename(partPath, stored.storedAt);
    }
    files_[path] = stored;
    return text(replaced ? 204 : 201, "").set("ETag", "\"" + std::to_string(stored.tag) + "\"");
}

StreamAnswer FakeOwnCloud::propfind(const StreamRequest& request, const QString& path, BodyReader& body) {
    std::string query;
    char buffer[16 * 1024];
    while (const size_t n = body.read(buffer, sizeof buffer)) {
        query.append(buffer, n);
        if (query.size() > kFormLimit)
            return davError(413, "Request body too large");
    }
    if (!query.empty()) {
        QXmlStreamReader reader(QByteArray::fromStdString(query));
        while (!reader.atEnd() && !reader.isStartElement())
            reader.readNext();
        const bool isPropfind =
            reader.name() == QLatin1String("propfind") && reader.namespaceUri() == QLatin1String("DAV:");
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError() || !isPropfind)
            return davError(400, "The request body is not a propfind document");
    }
    const std::string depth = request.header("Depth");
    if (!depth.empty() && depth != "0" && depth != "1" && depth != "infinity")
        return davError(400, "Invalid Depth header");

    std::lock_guard lock(mutex_);
    if (!folders_.contains(path) && !files_.contains(path))
        return davError(404, "File not found");
    QStringList nodes{path};
    if (depth != "0" && folders_.contains(path)) {
        const auto take = [&](const QString& candidate) {
            if (isBelow(candidate, path) && (depth != "1" || parentOf(candidate) == path))
                nodes.append(candidate);
        };
        for (const QString& folder : folders_)
            take(folder);
        for (auto it = files_.cbegin(); it != files_.cend(); ++it)
            take(it.key());
        std::sort(nodes.begin() + 1, nodes.end());
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:multistatus xmlns:d=\"DAV:\">";
    for (const QString& node : nodes) {
        const bool folder = folders_.contains(node);
        xml += "<d:response><d:href>" + escapedHref(davRoot() + node) + (folder && node != "/" ? "/" : "") +
               "</d:href><d:propstat><d:prop><d:getlastmodified>" + kLastModified + "</d:getlastmodified>";
        if (folder) {
            xml += "<d:resourcetype><d:collection/></d:resourcetype>";
        } else {
            const File& file = files_[node];
            xml += "<d:resourcetype/><d:getcontentlength>" + std::to_string(file.size) +
                   "</d:getcontentlength><d:getcontenttype>" + file.type.toStdString() +
                   "</d:getcontenttype><d:getetag>&quot;" + std::to_string(file.tag) + "&quot;</d:getetag>";
        }
        xml += "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>";
    }
    return text(207, xml + "</d:multistatus>\n", "application/xml; charset=utf-8");
}

StreamAnswer FakeOwnCloud::transfer(const StreamRequest& request, const QString& path, bool keepSource) {
    const QUrl destination(QString::fromStdString(request.header("Destination")));
    if (!destination.isValid() || destination.path().isEmpty())
        return davError(400, "The destination header was not found");
    if (destination.port() != server_.port())
        return davError(502, "The destination is on another server");
    const QString root = davRoot();
    QString target = destination.path(QUrl::FullyDecoded);
    if (!target.startsWith(root + QLatin1Char('/')))
        return davError(409, "The destination is outside the WebDAV folder");
    target = target.mid(root.size());
    while (target.size() > 1 && target.endsWith(QLatin1Char('/')))
        target.chop(1);
    const bool overwrite = request.header("Overwrite") != "F";

    std::lock_guard lock(mutex_);
    const bool isFolder = folders_.contains(path);
    if (!isFolder && !files_.contains(path))
        return davError(404, "File not found");
    if (target == path || isBelow(target, path))
        return davError(403, "Source and destination overlap");
    if (!folders_.contains(parentOf(target)))
        return davError(409, "The destination's parent does not exist");
    const bool exists = folders_.contains(target) || files_.contains(target);
    if (exists && !overwrite)
        return davError(412, "The destination exists and Overwrite is F");
    if (exists)
        removeTree(target);
    const auto moved = [&](const QString& name) { return target + name.mid(path.size()); };
    for (const QString& folder : QSet<QString>(folders_))
        if (folder == path || isBelow(folder, path))
            folders_.insert(moved(folder));
    for (const QString& name : files_.keys()) {
        if (name != path && !isBelow(name, path))
            continue;
        File copy = files_.value(name);
        copy.tag = ++tagCount_;
        if (!copy.storedAt.isEmpty() && keepSource) {
            const QString copied = QDir(storeDir_).filePath(QStringLiteral("file-%1").arg(copy.tag));
            QFile::copy(copy.storedAt, copied);
            copy.storedAt = copied;
        }
        files_[moved(name)] = copy;
        if (!keepSource)
            files_.remove(name);
    }
    if (!keepSource)
        for (auto it = folders_.begin(); it != folders_.end();)
            it = *it == path || isBelow(*it, path) ? folders_.erase(it) : std::next(it);
    return text(exists ? 204 : 201, "");
}

StreamAnswer FakeOwnCloud::share(const StreamRequest& request, BodyReader& body) {
    std::string form;
    char buffer[16 * 1024];
    while (const size_t n = body.read(buffer, sizeof buffer)) {
        form.append(buffer, n);
        if (form.size() > kFormLimit)
            return text(413, "request body too large");
    }
    httplib::Params parameters;
    if (request.header("Content-Type").starts_with("application/x-www-form-urlencoded"))
        httplib::detail::parse_query_text(form, parameters);
    const auto parameter = [&](const std::string& name) {
        const auto found = parameters.find(name);
        return found == parameters.end() ? std::string() : found->second;
    };
    QString path = QString::fromStdString(parameter("path"));
    if (path.isEmpty())
        return ocs(404, "Please specify a file or folder path");
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    if (parameter("shareType") != "3")
        return ocs(400, "Unknown share type");

    std::lock_guard lock(mutex_);
    if (shareMode_ == ShareMode::Failure || (!files_.contains(path) && !folders_.contains(path)))
        return ocs(404, "Wrong path, file/folder doesn't exist");
    const int id = ++shareCount_;
    const std::string link = QUrl(shareURL(id)).toString(QUrl::FullyEncoded).toStdString();
    std::string escaped;
    for (const char c : link)
        escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
    std::string data = "<id>" + std::to_string(id) + "</id><share_type>3</share_type><url>" + escaped +
                       "</url><token>share" + std::to_string(id) + "</token>";
    if (shareMode_ == ShareMode::TwoURLs)
        data += "<url>" + escaped + "</url>";
    return ocs(100, {}, data);
}

} // namespace qm::test
