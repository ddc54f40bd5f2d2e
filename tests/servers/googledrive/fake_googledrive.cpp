#include "servers/googledrive/fake_googledrive.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <regex>
#include <thread>

namespace qm::test {

namespace {

constexpr long long kQuantum = 256 * 1024;
constexpr char kFolderType[] = "application/vnd.google-apps.folder";
constexpr char kUploadPath[] = "/upload/drive/v3/files";

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// Google's error body.
void error(httplib::Response& response, int status, const std::string& reason, const std::string& message) {
    const QJsonObject detail{{"domain", "global"}, {"reason", q(reason)}, {"message", q(message)}};
    respondJson(
        response, status,
        {{"error", QJsonObject{{"code", status}, {"message", q(message)}, {"errors", QJsonArray{detail}}}}});
}

void oauthError(httplib::Response& response, int status, const std::string& code, const std::string& text) {
    respondJson(response, status, {{"error", q(code)}, {"error_description", q(text)}});
}

std::optional<QJsonObject> jsonBody(const httplib::Request& request) {
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

std::string base64Url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

std::string escape(const std::string& text) {
    return QUrl::toPercentEncoding(q(text)).toStdString();
}

// One "field op value" clause of a files.list query, of the kinds this fake understands.
struct Clause {
    std::string field, op, value;
};

// Splits "a = 'x' and b = false and 'id' in parents" on " and " outside quotes; nullopt on anything else.
std::optional<std::vector<Clause>> parseQuery(const std::string& text) {
    static const std::regex clause(
        R"(\s*(?:(name|mimeType)\s*(=|!=)\s*'((?:[^'\\]|\\.)*)'|(trashed)\s*(=)\s*(true|false)|'((?:[^'\\]|\\.)*)'\s+(in)\s+(parents))\s*)");
    std::vector<Clause> clauses;
    std::string rest = text;
    while (true) {
        std::smatch match;
        if (!std::regex_search(rest, match, clause, std::regex_constants::match_continuous))
            return std::nullopt;
        auto unescape = [](std::string value) {
            std::string out;
            for (size_t i = 0; i < value.size(); ++i)
                out += (value[i] == '\\' && i + 1 < value.size()) ? value[++i] : value[i];
            return out;
        };
        if (match[1].matched)
            clauses.push_back({match[1], match[2], unescape(match[3])});
        else if (match[4].matched)
            clauses.push_back({match[4], match[5], match[6]});
        else
            clauses.push_back({match[9], match[8], unescape(match[7])});
        rest = match.suffix();
        if (rest.empty())
            return clauses;
        if (rest.rfind("and ", 0) != 0)
            return std::nullopt;
        rest = rest.substr(4);
    }
}

bool matches(const FakeGoogleDrive::File& file, const Clause& clause) {
    if (clause.field == "name")
        return (file.name == clause.value) == (clause.op == "=");
    if (clause.field == "mimeType")
        return (file.mimeType == clause.value) == (clause.op == "=");
    if (clause.field == "trashed")
        return file.trashed == (clause.value == "true");
    return std::find(file.parents.begin(), file.parents.end(), clause.value) != file.parents.end();
}

} // namespace

FakeGoogleDrive::FakeGoogleDrive()
    : FakeGoogleDrive(Options()) {}

FakeGoogleDrive::FakeGoogleDrive(Options options)
    : options_(std::move(options)) {
    routes();
}

FakeGoogleDrive::~FakeGoogleDrive() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    stopping_.notify_all();
    for (std::thread& browser : browsers_)
        browser.join();
}

std::string FakeGoogleDrive::signInRedirect(const QUrl& page) const {
    httplib::Client client(page.host().toStdString(), page.port());
    client.set_read_timeout(10, 0);
    const auto answer = client.Get(
        page.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded).toStdString());
    if (!answer || answer->status != 302)
        return {};
    return answer->get_header_value("Location");
}

void FakeGoogleDrive::openInBrowser(const QUrl& page) {
    browsers_.emplace_back([this, page] {
        const QUrl redirect(q(signInRedirect(page)));
        if (!redirect.isValid())
            return;
        httplib::Client loopback(redirect.host().toStdString(), redirect.port(80));
        loopback.set_read_timeout(10, 0);
        loopback.Get(
            redirect.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded).toStdString());
    });
}

void FakeGoogleDrive::exportEnvironment(bool set) const {
    const QByteArray base = url().toString().toUtf8();
    for (const char* name : {"QUILLMOOR_GOOGLEDRIVE_URL", "QUILLMOOR_GOOGLEDRIVE_AUTH_URL",
                             "QUILLMOOR_GOOGLEDRIVE_TOKEN_URL", "QUILLMOOR_GOOGLEDRIVE_UPLOAD_URL"})
        set ? qputenv(name, base) : qunsetenv(name);
    set ? qputenv("QUILLMOOR_GOOGLEDRIVE_KEY", QByteArray::fromStdString(options_.clientId))
        : qunsetenv("QUILLMOOR_GOOGLEDRIVE_KEY");
    set ? qputenv("QUILLMOOR_GOOGLEDRIVE_SECRET", QByteArray::fromStdString(options_.clientSecret))
        : qunsetenv("QUILLMOOR_GOOGLEDRIVE_SECRET");
}

void FakeGoogleDrive::routes() {
    const auto bind = [this](void (FakeGoogleDrive::*handler)(const httplib::Request&, httplib::Response&)) {
        return [this, handler](const httplib::Request& request, httplib::Response& response) {
            (this->*handler)(request, response);
        };
    };
    server_.route("GET", "/o/oauth2/v2/auth", bind(&FakeGoogleDrive::authorize));
    server_.route("POST", "/token", bind(&FakeGoogleDrive::token));
    server_.route("GET", "/drive/v3/about", bind(&FakeGoogleDrive::about));
    server_.route("GET", "/drive/v3/files", bind(&FakeGoogleDrive::list));
    server_.route("POST", "/drive/v3/files", bind(&FakeGoogleDrive::create));
    server_.route("GET", "/drive/v3/files/([^/]+)", bind(&FakeGoogleDrive::getFile));
    server_.route("DELETE", "/drive/v3/files/([^/]+)", bind(&FakeGoogleDrive::remove));
    server_.route("POST", "/drive/v3/files/([^/]+)/permissions", bind(&FakeGoogleDrive::permission));
    server_.route("POST", kUploadPath, bind(&FakeGoogleDrive::openSession));
    server_.route("PUT", kUploadPath, bind(&FakeGoogleDrive::putSession));
    server_.route("GET", "/uc", bind(&FakeGoogleDrive::download));
}

std::string FakeGoogleDrive::newId(const char* prefix) {
    const long long number = nextId_++;
    return std::string(prefix) + std::to_string(number) + "x" +
           base64Url(QByteArray::number(number * 7919)).substr(0, 6);
}

std::string FakeGoogleDrive::addFolder(const std::string& name, const std::string& parent, bool byApplication,
                                       bool trashed) {
    std::lock_guard lock(mutex_);
    File folder;
    folder.id = newId("folder");
    folder.name = name;
    folder.mimeType = kFolderType;
    folder.parents = {parent};
    folder.byApplication = byApplication;
    folder.trashed = trashed;
    files_[folder.id] = folder;
    return folder.id;
}

std::optional<FakeGoogleDrive::File> FakeGoogleDrive::file(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto found = files_.find(id);
    return found == files_.end() ? std::nullopt : std::optional<File>(found->second);
}

std::vector<FakeGoogleDrive::File> FakeGoogleDrive::files() const {
    std::lock_guard lock(mutex_);
    std::vector<File> result;
    for (const auto& [id, file] : files_)
        if (file.mimeType != kFolderType)
            result.push_back(file);
    return result;
}

std::vector<FakeGoogleDrive::File> FakeGoogleDrive::filesNamed(const std::string& name) const {
    std::vector<File> result;
    for (const File& file : files())
        if (file.name == name)
            result.push_back(file);
    return result;
}

QByteArray FakeGoogleDrive::contentOf(const std::string& id) const {
    const auto found = file(id);
    if (!found)
        return {};
    if (options_.storeDir.empty())
        return QByteArray::fromStdString(found->content);
    std::ifstream in(options_.storeDir + "/" + id, std::ios::binary);
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}

void FakeGoogleDrive::grantTokens(const std::string& access, const std::string& refresh) {
    std::lock_guard lock(mutex_);
    accessTokens_[access] = true;
    refreshTokens_[refresh] = true;
}

void FakeGoogleDrive::expireAccessTokens() {
    std::lock_guard lock(mutex_);
    for (auto& [token, valid] : accessTokens_)
        valid = false;
}

void FakeGoogleDrive::declineSignIn(bool decline) {
    std::lock_guard lock(mutex_);
    decline_ = decline;
}

void FakeGoogleDrive::failNextChunks(ChunkFault fault, int count) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < count; ++i)
        chunkFaults_.push_back(fault);
}

std::map<std::string, std::string> FakeGoogleDrive::lastAuthorizeParams() const {
    std::lock_guard lock(mutex_);
    return lastAuthorize_;
}

int FakeGoogleDrive::refreshes() const {
    std::lock_guard lock(mutex_);
    return refreshes_;
}

int FakeGoogleDrive::sessionsOpened() const {
    std::lock_guard lock(mutex_);
    return sessionsOpened_;
}

bool FakeGoogleDrive::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopping_.wait_for(lock, duration, [this] { return stopped_; });
}

bool FakeGoogleDrive::authorized(const httplib::Request& request, httplib::Response& response) {
    const std::string header = request.get_header_value("Authorization");
    std::lock_guard lock(mutex_);
    if (header.rfind("Bearer ", 0) == 0) {
        const auto found = accessTokens_.find(header.substr(7));
        if (found != accessTokens_.end() && found->second)
            return true;
    }
    response.set_header("WWW-Authenticate",
                        "Bearer realm=\"https://accounts.google.com/\", error=\"invalid_token\"");
    error(response, 401, "authError",
          "Request had invalid authentication credentials. Expected OAuth 2 access token, login cookie or "
          "other "
          "valid authentication credential.");
    return false;
}

void FakeGoogleDrive::authorize(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    lastAuthorize_.clear();
    for (const auto& [name, value] : request.params)
        lastAuthorize_[name] = value;
    const std::string redirect = request.get_param_value("redirect_uri");
    const auto page = [&](const std::string& text) {
        response.status = 400;
        response.set_content("<html><body><p>Error 400: " + text + "</p></body></html>", "text/html");
    };
    // Desktop clients may only come back to a loopback address.
    if (request.get_param_value("client_id") != options_.clientId)
        return page("invalid_client");
    if (!std::regex_match(redirect, std::regex(R"(http://(127\.0\.0\.1|\[::1\]|localhost)(:\d+)?/?)")))
        return page("redirect_uri_mismatch");
    if (request.get_param_value("response_type") != "code")
        return page("unsupported_response_type");
    if (request.get_param_value("scope").find("https://www.googleapis.com/auth/drive.file") ==
        std::string::npos)
        return page("invalid_scope");
    const std::string challenge = request.get_param_value("code_challenge");
    if (challenge.size() < 43 || request.get_param_value("code_challenge_method") != "S256")
        return page("invalid_request: code_challenge");
    std::string query = "state=" + escape(request.get_param_value("state"));
    if (decline_) {
        query += "&error=access_denied";
    } else {
        const std::string code = "4/0A" + newId("code");
        codes_[code] = {options_.clientId, redirect, challenge, request.get_param_value("scope")};
        query += "&code=" + escape(code) + "&scope=" + escape(request.get_param_value("scope"));
    }
    response.status = 302;
    response.set_header("Location", redirect + (redirect.back() == '/' ? "?" : "/?") + query);
}

void FakeGoogleDrive::token(const httplib::Request& request, httplib::Response& response) {
    if (request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0)
        return oauthError(response, 400, "invalid_request", "Invalid content type");
    std::lock_guard lock(mutex_);
    if (request.get_param_value("client_id") != options_.clientId ||
        request.get_param_value("client_secret") != options_.clientSecret)
        return oauthError(response, 401, "invalid_client", "Unauthorized");
    const std::string grant = request.get_param_value("grant_type");
    const auto issue = [&](bool withRefresh) {
        const std::string access = "ya29." + newId("access");
        accessTokens_[access] = true;
        QJsonObject answer{{"access_token", q(access)},
                           {"expires_in", 3599},
                           {"scope", "https://www.googleapis.com/auth/drive.file"},
                           {"token_type", "Bearer"}};
        if (withRefresh) {
            const std::string refresh = "1//" + newId("refresh");
            refreshTokens_[refresh] = true;
            answer["refresh_token"] = q(refresh);
        }
        respondJson(response, 200, answer);
    };
    if (grant == "authorization_code") {
        const auto found = codes_.find(request.get_param_value("code"));
        if (found == codes_.end())
            return oauthError(response, 400, "invalid_grant", "Malformed auth code.");
        const Grant grantOf = found->second;
        codes_.erase(found); // a code is good for one exchange
        if (request.get_param_value("redirect_uri") != grantOf.redirectUri)
            return oauthError(response, 400, "redirect_uri_mismatch", "Bad Request");
        const std::string verifier = request.get_param_value("code_verifier");
        const std::string expected = pkceChallenge(verifier);
        if (verifier.size() < 43 || expected != grantOf.challenge)
            return oauthError(response, 400, "invalid_grant", "Invalid code verifier.");
        return issue(true);
    }
    if (grant == "refresh_token") {
        const auto found = refreshTokens_.find(request.get_param_value("refresh_token"));
        if (found == refreshTokens_.end() || !found->second)
            return oauthError(response, 400, "invalid_grant", "Token has been expired or revoked.");
        ++refreshes_;
        return issue(false);
    }
    oauthError(response, 400, "unsupported_grant_type", "Invalid grant_type: " + grant);
}

void FakeGoogleDrive::about(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    if (request.get_param_value("fields").find("emailAddress") == std::string::npos)
        return error(response, 400, "required", "The 'fields' parameter is required for this method.");
    respondJson(response, 200,
                {{"user", QJsonObject{{"kind", "drive#user"}, {"emailAddress", q(options_.email)}}}});
}

std::string FakeGoogleDrive::resource(const File& file, const std::string& fields) const {
    const auto wanted = [&](const char* field) {
        return fields.empty() ? std::string(field) == "id" || std::string(field) == "name" ||
                                    std::string(field) == "mimeType"
                              : std::regex_search(
                                    fields, std::regex(std::string(R"((^|[,(]))") + field + R"(($|[,)]))"));
    };
    QJsonObject object{{"kind", "drive#file"}};
    if (wanted("id"))
        object["id"] = q(file.id);
    if (wanted("name"))
        object["name"] = q(file.name);
    if (wanted("mimeType"))
        object["mimeType"] = q(file.mimeType);
    if (wanted("parents")) {
        QJsonArray parents;
        for (const std::string& parent : file.parents)
            parents.append(q(parent));
        object["parents"] = parents;
    }
    if (wanted("webContentLink") && file.mimeType != kFolderType)
        object["webContentLink"] = url(q("/uc?id=" + file.id + "&export=download")).toString();
    if (wanted("iconLink"))
        object["iconLink"] = url(q("/icon/16/type/" + file.mimeType)).toString();
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void FakeGoogleDrive::getFile(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    std::lock_guard lock(mutex_);
    const std::string id = request.matches[1];
    if (id == "root") {
        response.set_content(R"({"id":")" + rootId() + "\"}", "application/json; charset=UTF-8");
        return;
    }
    const auto found = files_.find(id);
    if (found == files_.end() || !found->second.byApplication)
        return error(response, 404, "notFound", "File not found: " + id + ".");
    response.set_content(resource(found->second, request.get_param_value("fields")),
                         "application/json; charset=UTF-8");
}

void FakeGoogleDrive::list(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    const auto clauses = parseQuery(request.get_param_value("q"));
    if (!clauses)
        return error(response, 400, "invalid", "Invalid Value");
    std::string fields = request.get_param_value("fields");
    std::string fileFields;
    std::smatch inner;
    if (std::regex_search(fields, inner, std::regex(R"(files\(([^)]*)\))")))
        fileFields = inner[1];
    std::lock_guard lock(mutex_);
    std::vector<const File*> found;
    for (const auto& [id, file] : files_) {
        // The per-file scope sees only what the application made or opened.
        bool visible = file.byApplication;
        for (const Clause& clause : *clauses)
            visible = visible && matches(file, clause);
        if (visible)
            found.push_back(&file);
    }
    size_t start = 0;
    if (request.has_param("pageToken")) {
        const std::string token = request.get_param_value("pageToken");
        if (token.rfind("page-", 0) != 0)
            return error(response, 400, "invalid", "Invalid Value");
        start = std::stoul(token.substr(5));
    }
    const size_t end = std::min(found.size(), start + static_cast<size_t>(options_.pageSize));
    std::string body = "{\"kind\":\"drive#fileList\",";
    if (end < found.size() && fields.find("nextPageToken") != std::string::npos)
        body += "\"nextPageToken\":\"page-" + std::to_string(end) + "\",";
    body += "\"files\":[";
    for (size_t i = start; i < end; ++i)
        body += (i > start ? "," : "") + resource(*found[i], fileFields);
    body += "]}";
    response.set_content(body, "application/json; charset=UTF-8");
}

void FakeGoogleDrive::create(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    const auto metadata = jsonBody(request);
    if (!metadata)
        return error(response, 400, "parseError", "Parse Error");
    std::lock_guard lock(mutex_);
    File file;
    file.id = newId(metadata->value("mimeType").toString() == QLatin1String(kFolderType) ? "folder" : "file");
    file.name = metadata->value("name").toString().toStdString();
    if (file.name.empty())
        file.name = "Untitled";
    file.mimeType = metadata->value("mimeType").toString().toStdString();
    for (const auto& parent : metadata->value("parents").toArray())
        file.parents.push_back(parent.toString().toStdString());
    if (file.parents.empty())
        file.parents = {rootId()};
    files_[file.id] = file;
    response.set_content(resource(file, request.get_param_value("fields")),
                         "application/json; charset=UTF-8");
}

void FakeGoogleDrive::openSession(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    if (request.get_param_value("uploadType") != "resumable")
        return error(response, 400, "invalid",
                     "Invalid upload type: only resumable uploads are served here.");
    const auto metadata = jsonBody(request);
    if (!metadata)
        return error(response, 400, "parseError", "Parse Error");
    bool isNumber = false;
    const long long total =
        QByteArray::fromStdString(request.get_header_value("X-Upload-Content-Length")).toLongLong(&isNumber);
    if (!isNumber || total < 0)
        return error(response, 400, "invalid", "Invalid X-Upload-Content-Length.");
    std::lock_guard lock(mutex_);
    Session session;
    session.name = metadata->value("name").toString().toStdString();
    session.mimeType = request.get_header_value("X-Upload-Content-Type");
    session.total = total;
    session.fields = request.get_param_value("fields");
    const QJsonArray parents = metadata->value("parents").toArray();
    session.parent = parents.isEmpty() ? rootId() : parents.first().toString().toStdString();
    if (session.parent != rootId()) {
        const auto folder = files_.find(session.parent);
        if (folder == files_.end() || folder->second.mimeType != kFolderType || !folder->second.byApplication)
            return error(response, 404, "notFound", "File not found: " + session.parent + ".");
    }
    const std::string id = newId("session");
    sessions_[id] = session;
    ++sessionsOpened_;
    response.status = 200;
    response.set_header(
        "Location",
        url(q(std::string(kUploadPath) + "?uploadType=resumable&upload_id=" + id)).toString().toStdString());
}

void FakeGoogleDrive::storeBytes(Session& session, const std::string& sessionId, const char* data,
                                 size_t size) {
    if (options_.storeDir.empty()) {
        session.bytes.append(data, size);
    } else {
        std::ofstream out(options_.storeDir + "/" + sessionId, std::ios::binary | std::ios::app);
        out.write(data, static_cast<std::streamsize>(size));
    }
    session.received += static_cast<long long>(size);
}

void FakeGoogleDrive::putSession(const httplib::Request& request, httplib::Response& response) {
    const std::string sessionId = request.get_param_value("upload_id");
    // The session address is the credential; a token, when sent, must still be good.
    if (request.has_header("Authorization") && !authorized(request, response))
        return;
    std::optional<ChunkFault> fault;
    {
        std::lock_guard lock(mutex_);
        if (!request.body.empty() && !chunkFaults_.empty()) {
            fault = chunkFaults_.front();
            chunkFaults_.erase(chunkFaults_.begin());
        }
    }
    if (fault && fault->kind == ChunkFault::Kind::ExpiredToken) {
        expireAccessTokens();
        authorized(request, response);
        return;
    }
    if (fault && fault->kind == ChunkFault::Kind::ForgetSession) {
        std::lock_guard lock(mutex_);
        sessions_.erase(sessionId);
    }
    if (fault && fault->kind == ChunkFault::Kind::Status)
        return error(response, fault->status, fault->reason, "Backend Error");
    if (fault && fault->kind == ChunkFault::Kind::Stall && !pause(fault->stall))
        return;

    std::unique_lock lock(mutex_);
    const auto found = sessions_.find(sessionId);
    if (found == sessions_.end())
        return error(response, 404, "notFound", "Upload session not found.");
    Session& session = found->second;
    const std::string range = request.get_header_value("Content-Range");
    std::smatch match;
    const auto complete = [&] {
        response.status = 200;
        response.set_content(resource(files_.at(session.fileId), session.fields),
                             "application/json; charset=UTF-8");
    };
    const auto incomplete = [&] {
        response.status = 308;
        if (session.received > 0)
            response.set_header("Range", "bytes=0-" + std::to_string(session.received - 1));
        response.set_content("", "text/plain");
    };
    long long first = 0, last = -1, total = 0;
    if (std::regex_match(range, match, std::regex(R"(bytes \*/(\d+))"))) {
        total = std::stoll(match[1]);
        if (!request.body.empty())
            return error(response, 400, "invalid", "Content-Range without a range carries no bytes.");
    } else if (std::regex_match(range, match, std::regex(R"(bytes (\d+)-(\d+)/(\d+))"))) {
        first = std::stoll(match[1]);
        last = std::stoll(match[2]);
        total = std::stoll(match[3]);
        if (last < first || static_cast<long long>(request.body.size()) != last - first + 1)
            return error(response, 400, "invalid",
                         "The number of bytes does not match the Content-Range header.");
    } else {
        return error(response, 400, "invalid", "Missing or invalid Content-Range header.");
    }
    if (total != session.total)
        return error(response, 400, "invalid",
                     "The total in Content-Range differs from X-Upload-Content-Length.");
    if (!session.fileId.empty())
        return complete();
    if (last >= 0) {
        if (first > session.received)
            return error(response, 400, "invalid",
                         "The upload offset " + std::to_string(first) + " exceeds the " +
                             std::to_string(session.received) + " bytes received.");
        if (last + 1 < total && (last - first + 1) % kQuantum != 0)
            return error(response, 400, "invalid",
                         "Every chunk but the last must be a multiple of 262144 bytes.");
        long long keep = last + 1 - session.received; // bytes already held are skipped
        const bool drop = fault && fault->kind == ChunkFault::Kind::Drop;
        if (drop)
            keep = std::min(keep, std::max(0LL, first + fault->keep - session.received));
        if (keep > 0)
            storeBytes(session, sessionId, request.body.data() + (session.received - first),
                       static_cast<size_t>(keep));
        if (drop) {
            // The answer starts, then the connection goes: the client cannot know what arrived.
            lock.unlock();
            response.status = 503;
            response.set_content_provider(4096, "application/json",
                                          [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        }
    }
    if (session.received < session.total)
        return incomplete();
    File file;
    file.id = newId("file");
    file.name = session.name;
    file.mimeType = session.mimeType;
    file.parents = {session.parent};
    file.size = session.total;
    if (options_.storeDir.empty())
        file.content = std::move(session.bytes);
    else
        std::rename((options_.storeDir + "/" + sessionId).c_str(),
                    (options_.storeDir + "/" + file.id).c_str());
    files_[file.id] = file;
    session.fileId = file.id;
    complete();
}

void FakeGoogleDrive::permission(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    const auto body = jsonBody(request);
    if (!body)
        return error(response, 400, "parseError", "Parse Error");
    const std::string type = body->value("type").toString().toStdString();
    const std::string role = body->value("role").toString().toStdString();
    if (type != "anyone" && type != "user" && type != "group" && type != "domain")
        return error(response, 400, "invalid", "Invalid permission type.");
    if (role != "reader" && role != "writer" && role != "commenter")
        return error(response, 400, "invalid", "Invalid permission role.");
    std::lock_guard lock(mutex_);
    const auto found = files_.find(request.matches[1]);
    if (found == files_.end())
        return error(response, 404, "notFound", "File not found: " + std::string(request.matches[1]) + ".");
    found->second.permissions.push_back({type, role});
    response.set_content(R"({"kind":"drive#permission","id":"anyoneWithLink"})",
                         "application/json; charset=UTF-8");
}

void FakeGoogleDrive::remove(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    std::lock_guard lock(mutex_);
    const auto found = files_.find(request.matches[1]);
    if (found == files_.end())
        return error(response, 404, "notFound", "File not found: " + std::string(request.matches[1]) + ".");
    if (!options_.storeDir.empty())
        std::remove((options_.storeDir + "/" + found->first).c_str());
    files_.erase(found);
    response.status = 204;
}

void FakeGoogleDrive::download(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    const auto found = files_.find(request.get_param_value("id"));
    bool readable = false;
    if (found != files_.end())
        for (const auto& [type, role] : found->second.permissions)
            readable = readable || type == "anyone";
    if (!readable) {
        response.status = 404;
        response.set_content("<html><body>Sorry, the file you have requested does not exist.</body></html>",
                             "text/html");
        return;
    }
    response.set_content(found->second.content, found->second.mimeType.c_str());
}

} // namespace qm::test
