#include "fake_box.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <chrono>

namespace qm::test {

namespace {

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void boxError(httplib::Response& response, int status, const char* code, const char* message,
              QJsonObject context = {}) {
    QJsonObject body{{"type", "error"},
                     {"status", status},
                     {"code", code},
                     {"message", message},
                     {"request_id", "fakeboxrequest"}};
    if (!context.isEmpty())
        body.insert("context_info", context);
    respondJson(response, status, body);
}

void oauthError(httplib::Response& response, const char* error, const char* description) {
    respondJson(response, 400, {{"error", error}, {"error_description", description}});
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

QJsonObject parseJson(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

} // namespace

FakeBox::FakeBox()
    : FakeBox(Options()) {}

FakeBox::FakeBox(Options options)
    : options_(std::move(options)) {
    folders_["0"] = {"", "All Files"};
    routes();
}

std::string FakeBox::nextId() {
    return std::to_string(++counter_);
}

FakeBox::Tokens FakeBox::issueTokens() {
    std::lock_guard lock(mutex_);
    Tokens tokens{"access-" + nextId(), "refresh-" + nextId()};
    accessTokens_[tokens.access] = nowMs() + options_.expiresIn * 1000LL;
    refreshTokens_[tokens.refresh] = true;
    return tokens;
}

void FakeBox::expireAccessTokens() {
    std::lock_guard lock(mutex_);
    for (auto& [token, expiry] : accessTokens_)
        expiry = 0;
}

bool FakeBox::accessTokenValid(const std::string& token) const {
    std::lock_guard lock(mutex_);
    const auto found = accessTokens_.find(token);
    return found != accessTokens_.end() && found->second > nowMs();
}

int FakeBox::refreshes() const {
    std::lock_guard lock(mutex_);
    return refreshes_;
}

QString FakeBox::follow(const QUrl& page) {
    return followSignInPage(page);
}

std::string FakeBox::addFolder(const std::string& parent, const std::string& name) {
    std::lock_guard lock(mutex_);
    const std::string id = nextId();
    folders_[id] = {parent, name};
    return id;
}

std::string FakeBox::addFile(const std::string& parent, const std::string& name, const std::string& content) {
    std::lock_guard lock(mutex_);
    File file{nextId(), parent, name, content, content.size(), {}};
    files_[file.id] = file;
    return file.id;
}

std::vector<FakeBox::File> FakeBox::filesIn(const std::string& folder) const {
    std::lock_guard lock(mutex_);
    std::vector<File> result;
    for (const auto& [id, file] : files_)
        if (file.parent == folder)
            result.push_back(file);
    return result;
}

std::map<std::string, std::string> FakeBox::folders() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> result;
    for (const auto& [id, folder] : folders_)
        result[id] = folder.second;
    return result;
}

bool FakeBox::nameTaken(const std::string& parent, const std::string& name, std::string* conflictId,
                        std::string* conflictType) const {
    for (const auto& [id, folder] : folders_)
        if (folder.first == parent && lower(folder.second) == lower(name)) {
            *conflictId = id;
            *conflictType = "folder";
            return true;
        }
    for (const auto& [id, file] : files_)
        if (file.parent == parent && lower(file.name) == lower(name)) {
            *conflictId = id;
            *conflictType = "file";
            return true;
        }
    return false;
}

bool FakeBox::authorized(const httplib::Request& request, httplib::Response& response) const {
    const std::string header = request.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    if (header.rfind(prefix, 0) == 0 && accessTokenValid(header.substr(prefix.size())))
        return true;
    // Box answers an expired or missing token with 401, a challenge and no body.
    response.status = 401;
    response.set_header("WWW-Authenticate", "Bearer realm=\"Service\", error=\"invalid_token\", "
                                            "error_description=\"The access token provided is invalid.\"");
    return false;
}

void FakeBox::routes() {
    server_.route(
        "GET", "/api/oauth2/authorize", [this](const httplib::Request& request, httplib::Response& response) {
            if (request.get_param_value("response_type") != "code" ||
                request.get_param_value("client_id") != options_.clientId) {
                response.status = 400;
                response.set_content("<html><body>Invalid client_id or response_type</body></html>",
                                     "text/html");
                return;
            }
            const std::string redirect = request.has_param("redirect_uri")
                                             ? request.get_param_value("redirect_uri")
                                             : options_.redirectUri;
            if (redirect != options_.redirectUri) {
                response.status = 400;
                response.set_content("<html><body>redirect_uri_mismatch</body></html>", "text/html");
                return;
            }
            std::string code;
            {
                std::lock_guard lock(mutex_);
                code = "code" + nextId();
                codes_[code] = {redirect, request.get_param_value("code_challenge")};
            }
            QUrlQuery query;
            if (request.has_param("state"))
                query.addQueryItem("state", QString::fromStdString(request.get_param_value("state")));
            query.addQueryItem("code", QString::fromStdString(code));
            response.status = 302;
            response.set_header("Location",
                                redirect + "?" + query.toString(QUrl::FullyEncoded).toStdString());
        });

    server_.route(
        "POST", "/api/oauth2/token", [this](const httplib::Request& request, httplib::Response& response) {
            if (request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0) {
                oauthError(response, "invalid_request", "Invalid grant_type parameter or parameter missing");
                return;
            }
            if (request.get_param_value("client_id") != options_.clientId ||
                request.get_param_value("client_secret") != options_.clientSecret) {
                oauthError(response, "invalid_client", "The client credentials are invalid");
                return;
            }
            const std::string grant = request.get_param_value("grant_type");
            if (grant == "authorization_code") {
                std::lock_guard lock(mutex_);
                const auto found = codes_.find(request.get_param_value("code"));
                if (found == codes_.end()) {
                    oauthError(response, "invalid_grant",
                               "Auth code doesn't exist or is invalid for the client");
                    return;
                }
                const auto [redirect, challenge] = found->second;
                codes_.erase(found); // a code works once
                if (request.get_param_value("redirect_uri") != redirect) {
                    oauthError(response, "invalid_grant", "The redirect_uri does not match");
                    return;
                }
                if (!challenge.empty()) {
                    if (pkceChallenge(request.get_param_value("code_verifier")) != challenge) {
                        oauthError(response, "invalid_grant", "The code_verifier does not match");
                        return;
                    }
                }
            } else if (grant == "refresh_token") {
                std::lock_guard lock(mutex_);
                const auto found = refreshTokens_.find(request.get_param_value("refresh_token"));
                if (found == refreshTokens_.end() || !found->second) {
                    oauthError(response, "invalid_grant", "Refresh token has expired");
                    return;
                }
                found->second = false; // single-use
                ++refreshes_;
            } else {
                oauthError(response, "unsupported_grant_type",
                           "Invalid grant_type parameter or parameter missing");
                return;
            }
            const Tokens tokens = issueTokens();
            respondJson(response, 200,
                        {{"access_token", QString::fromStdString(tokens.access)},
                         {"expires_in", options_.expiresIn},
                         {"restricted_to", QJsonArray()},
                         {"refresh_token", QString::fromStdString(tokens.refresh)},
                         {"token_type", "bearer"}});
        });

    server_.route(
        "GET", "/2.0/folders/([^/]+)/items",
        [this](const httplib::Request& request, httplib::Response& response) {
            if (!authorized(request, response))
                return;
            std::lock_guard lock(mutex_);
            const std::string folder = request.matches[1].str();
            if (!folders_.count(folder)) {
                boxError(response, 404, "not_found", "Not Found");
                return;
            }
            QJsonArray entries;
            for (const auto& [id, child] : folders_)
                if (child.first == folder && id != "0")
                    entries.append(QJsonObject{{"type", "folder"},
                                               {"id", QString::fromStdString(id)},
                                               {"name", QString::fromStdString(child.second)}});
            for (const auto& [id, file] : files_)
                if (file.parent == folder)
                    entries.append(QJsonObject{{"type", "file"},
                                               {"id", QString::fromStdString(id)},
                                               {"name", QString::fromStdString(file.name)}});
            respondJson(
                response, 200,
                {{"total_count", entries.size()}, {"entries", entries}, {"offset", 0}, {"limit", 100}});
        });

    server_.route(
        "POST", "/2.0/folders", [this](const httplib::Request& request, httplib::Response& response) {
            if (!authorized(request, response))
                return;
            const QJsonObject body = parseJson(request.body);
            const std::string name = body.value("name").toString().toStdString();
            const std::string parent = body.value("parent").toObject().value("id").toString().toStdString();
            std::lock_guard lock(mutex_);
            if (name.empty() || !folders_.count(parent)) {
                boxError(response, 400, "bad_request", "Bad Request");
                return;
            }
            std::string conflict, type;
            if (nameTaken(parent, name, &conflict, &type)) {
                boxError(response, 409, "item_name_in_use", "Item with the same name already exists",
                         {{"conflicts", QJsonArray{QJsonObject{{"type", QString::fromStdString(type)},
                                                               {"id", QString::fromStdString(conflict)},
                                                               {"name", QString::fromStdString(name)}}}}});
                return;
            }
            const std::string id = nextId();
            folders_[id] = {parent, name};
            respondJson(response, 201,
                        {{"type", "folder"},
                         {"id", QString::fromStdString(id)},
                         {"name", QString::fromStdString(name)}});
        });

    server_.route(
        "POST", "/api/2.0/files/content",
        [this](const httplib::Request& request, httplib::Response& response) {
            if (!authorized(request, response))
                return;
            if (!request.has_file("parent_id") || !request.has_file("filename")) {
                boxError(response, 400, "bad_request", "API upload did not contain a file part");
                return;
            }
            const httplib::MultipartFormData part = request.get_file_value("filename");
            const std::string parent = request.get_file_value("parent_id").content;
            std::lock_guard lock(mutex_);
            if (!folders_.count(parent)) {
                boxError(response, 404, "not_found", "Not Found");
                return;
            }
            std::string conflict, type;
            if (part.filename.empty() || nameTaken(parent, part.filename, &conflict, &type)) {
                boxError(response, 409, "item_name_in_use", "Item with the same name already exists");
                return;
            }
            File file{nextId(), parent, part.filename, {}, part.content.size(), {}};
            // A large file is not kept: its size is what is checked.
            if (part.content.size() < kLoggedBodyLimit)
                file.content = part.content;
            files_[file.id] = file;
            respondJson(response, 201,
                        {{"total_count", 1},
                         {"entries", QJsonArray{QJsonObject{{"type", "file"},
                                                            {"id", QString::fromStdString(file.id)},
                                                            {"name", QString::fromStdString(file.name)},
                                                            {"size", static_cast<qint64>(file.size)}}}}});
        });

    server_.route(
        "PUT", "/2.0/files/([^/]+)", [this](const httplib::Request& request, httplib::Response& response) {
            if (!authorized(request, response))
                return;
            const QJsonObject body = parseJson(request.body);
            const QJsonValue access = body.value("shared_link").toObject().value("access");
            std::lock_guard lock(mutex_);
            const auto found = files_.find(request.matches[1].str());
            if (found == files_.end()) {
                boxError(response, 404, "not_found", "Not Found");
                return;
            }
            if (!access.isString()) {
                boxError(response, 400, "bad_request", "Bad Request");
                return;
            }
            found->second.sharedAccess = access.toString().toStdString();
            const QString slug = QString::fromStdString("s" + found->first + "x" + nextId());
            respondJson(
                response, 200,
                {{"type", "file"},
                 {"id", QString::fromStdString(found->first)},
                 {"name", QString::fromStdString(found->second.name)},
                 {"shared_link", QJsonObject{{"url", "https://app.box.com/s/" + slug},
                                             {"download_url", "https://app.box.com/shared/static/" + slug},
                                             {"access", access.toString()}}}});
        });

    server_.route("DELETE", "/2.0/files/([^/]+)",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      if (!authorized(request, response))
                          return;
                      std::lock_guard lock(mutex_);
                      if (!files_.erase(request.matches[1].str())) {
                          boxError(response, 404, "not_found", "Not Found");
                          return;
                      }
                      response.status = 204;
                  });
}

} // namespace qm::test
