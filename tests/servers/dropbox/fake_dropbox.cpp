#include "fake_dropbox.h"

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

// Dropbox's endpoint errors: 409 with error_summary and the structured error.
void conflict(httplib::Response& response, const std::string& summary, const QJsonObject& error) {
    respondJson(response, 409, {{"error_summary", QString::fromStdString(summary)}, {"error", error}});
}

QJsonObject argument(const httplib::Request& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.get_header_value("Dropbox-API-Arg")))
        .object();
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

FakeDropbox::FakeDropbox()
    : FakeDropbox(Options()) {}

FakeDropbox::FakeDropbox(Options options)
    : options_(std::move(options)) {
    routes();
}

FakeDropbox::Tokens FakeDropbox::issueTokens() {
    std::lock_guard lock(mutex_);
    Tokens tokens{"sl.access" + std::to_string(++counter_), "refresh" + std::to_string(++counter_)};
    access_[tokens.access] = nowMs() + options_.expiresIn * 1000LL;
    refresh_[tokens.refresh] = true;
    return tokens;
}

void FakeDropbox::expireAccessTokens() {
    std::lock_guard lock(mutex_);
    for (auto& [token, expiry] : access_)
        expiry = 0;
}

std::map<std::string, FakeDropbox::File> FakeDropbox::files() const {
    std::lock_guard lock(mutex_);
    return files_;
}

void FakeDropbox::dropNextAppendAfter(size_t bytes) {
    {
        std::lock_guard lock(mutex_);
        drop_ = true;
        dropAfter_ = bytes;
    }
    server_.setFault(Fault::dropMidBody().onPath("/2/files/upload_session/append_v2").times(1));
}

std::vector<size_t> FakeDropbox::chunkSizes() const {
    std::lock_guard lock(mutex_);
    return chunks_;
}

QString FakeDropbox::follow(const QUrl& page) {
    return followSignInPage(page);
}

bool FakeDropbox::authorized(const httplib::Request& request, httplib::Response& response) {
    const std::string header = request.get_header_value("Authorization");
    std::lock_guard lock(mutex_);
    const auto found = header.rfind("Bearer ", 0) == 0 ? access_.find(header.substr(7)) : access_.end();
    if (found != access_.end() && found->second > nowMs())
        return true;
    const bool expired = found != access_.end();
    respondJson(
        response, 401,
        {{"error_summary", expired ? "expired_access_token/" : "invalid_access_token/"},
         {"error", QJsonObject{{".tag", expired ? "expired_access_token" : "invalid_access_token"}}}});
    return false;
}

void FakeDropbox::routes() {
    server_.route("GET", "/oauth2/authorize",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      const std::string redirect = request.get_param_value("redirect_uri");
                      const bool loopback = redirect.rfind("http://127.0.0.1:", 0) == 0;
                      if (request.get_param_value("client_id") != options_.appKey ||
                          request.get_param_value("response_type") != "code" ||
                          request.get_param_value("code_challenge_method") != "S256" ||
                          request.get_param_value("code_challenge").empty() ||
                          (!loopback && redirect.rfind("db-" + options_.appKey + "://", 0) != 0)) {
                          response.status = 400;
                          response.set_content("<html><body>Invalid request</body></html>", "text/html");
                          return;
                      }
                      std::string code;
                      {
                          std::lock_guard lock(mutex_);
                          code = "code" + std::to_string(++counter_);
                          codes_[code] = {redirect, request.get_param_value("code_challenge")};
                      }
                      QUrlQuery query;
                      query.addQueryItem("code", QString::fromStdString(code));
                      query.addQueryItem("state", QString::fromStdString(request.get_param_value("state")));
                      response.status = 302;
                      response.set_header("Location",
                                          redirect + "?" + query.toString(QUrl::FullyEncoded).toStdString());
                  });

    server_.route(
        "POST", "/oauth2/token", [this](const httplib::Request& request, httplib::Response& response) {
            const auto fail = [&](const char* error, const char* description) {
                respondJson(response, 400, {{"error", error}, {"error_description", description}});
            };
            if (request.get_param_value("client_id") != options_.appKey) {
                fail("invalid_client", "Invalid client_id");
                return;
            }
            const std::string grant = request.get_param_value("grant_type");
            if (grant == "authorization_code") {
                std::lock_guard lock(mutex_);
                const auto found = codes_.find(request.get_param_value("code"));
                if (found == codes_.end()) {
                    fail("invalid_grant", "code doesn't exist or has expired");
                    return;
                }
                const auto [redirect, challenge] = found->second;
                codes_.erase(found);
                const std::string expected = pkceChallenge(request.get_param_value("code_verifier"));
                if (request.get_param_value("redirect_uri") != redirect) {
                    fail("invalid_grant", "redirect_uri mismatch");
                    return;
                }
                if (expected != challenge) {
                    fail("invalid_grant", "invalid code verifier");
                    return;
                }
            } else if (grant == "refresh_token") {
                std::lock_guard lock(mutex_);
                if (!refresh_.count(request.get_param_value("refresh_token"))) {
                    fail("invalid_grant", "refresh token is invalid or revoked");
                    return;
                }
            } else {
                fail("unsupported_grant_type", "unsupported grant_type");
                return;
            }
            const Tokens tokens = issueTokens();
            QJsonObject body{{"access_token", QString::fromStdString(tokens.access)},
                             {"token_type", "bearer"},
                             {"expires_in", options_.expiresIn},
                             {"scope", "files.content.write sharing.write"},
                             {"account_id", "dbid:fake"},
                             {"uid", "12345"}};
            if (grant == "authorization_code") // a refresh keeps the refresh token
                body.insert("refresh_token", QString::fromStdString(tokens.refresh));
            respondJson(response, 200, body);
        });

    const auto upload = [this](const httplib::Request& request, httplib::Response& response, bool start) {
        if (!authorized(request, response))
            return;
        if (request.get_header_value("Content-Type") != "application/octet-stream") {
            response.status = 400;
            response.set_content(
                "Error in call to API function \"files/upload_session\": Bad HTTP \"Content-Type\" "
                "header: expected \"application/octet-stream\".",
                "text/plain");
            return;
        }
        const QJsonObject arg = argument(request);
        std::lock_guard lock(mutex_);
        chunks_.push_back(request.body.size());
        std::string id;
        if (start) {
            id = "pid_upload_session:" + std::to_string(++counter_);
            sessions_[id] = {};
        } else {
            const QJsonObject cursor = arg.value("cursor").toObject();
            id = cursor.value("session_id").toString().toStdString();
            const auto found = sessions_.find(id);
            if (found == sessions_.end()) {
                conflict(response, "lookup_failed/not_found/", {{".tag", "not_found"}});
                return;
            }
            const auto offset = static_cast<size_t>(cursor.value("offset").toDouble());
            if (offset != found->second.size) {
                conflict(response, "incorrect_offset/",
                         {{".tag", "incorrect_offset"},
                          {"correct_offset", static_cast<qint64>(found->second.size)}});
                return;
            }
        }
        Session& session = sessions_[id];
        size_t taken = request.body.size();
        if (!start && drop_) { // the connection breaks: only part of the chunk arrived
            drop_ = false;
            taken = std::min(taken, dropAfter_);
        }
        if (session.size + taken < kLoggedBodyLimit)
            session.content.append(request.body, 0, taken);
        session.size += taken;
        respondJson(response, 200,
                    start ? QJsonObject{{"session_id", QString::fromStdString(id)}} : QJsonObject{});
    };
    server_.route("POST", "/2/files/upload_session/start",
                  [upload](const httplib::Request& request, httplib::Response& response) {
                      upload(request, response, true);
                  });
    server_.route("POST", "/2/files/upload_session/append_v2",
                  [upload](const httplib::Request& request, httplib::Response& response) {
                      upload(request, response, false);
                  });

    server_.route("POST", "/2/files/upload_session/finish",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      if (!authorized(request, response))
                          return;
                      const QJsonObject arg = argument(request);
                      const QJsonObject cursor = arg.value("cursor").toObject();
                      const QJsonObject commit = arg.value("commit").toObject();
                      std::lock_guard lock(mutex_);
                      const auto found = sessions_.find(cursor.value("session_id").toString().toStdString());
                      if (found == sessions_.end()) {
                          conflict(response, "lookup_failed/not_found/", {{".tag", "not_found"}});
                          return;
                      }
                      if (static_cast<size_t>(cursor.value("offset").toDouble()) != found->second.size) {
                          conflict(response, "lookup_failed/incorrect_offset/",
                                   {{".tag", "incorrect_offset"},
                                    {"correct_offset", static_cast<qint64>(found->second.size)}});
                          return;
                      }
                      std::string path = commit.value("path").toString().toStdString();
                      if (path.empty() || path[0] != '/') {
                          conflict(response, "path/malformed_path/", {{".tag", "path"}});
                          return;
                      }
                      // mode "add" with autorename: a taken name becomes "name (1).ext".
                      if (files_.count(lower(path))) {
                          if (!commit.value("autorename").toBool()) {
                              conflict(response, "path/conflict/file/", {{".tag", "path"}});
                              return;
                          }
                          const size_t dot = path.rfind('.');
                          const std::string stem =
                              dot == std::string::npos || dot == 0 ? path : path.substr(0, dot);
                          const std::string extension =
                              dot == std::string::npos || dot == 0 ? "" : path.substr(dot);
                          for (int k = 1; files_.count(lower(path)); ++k)
                              path = stem + " (" + std::to_string(k) + ")" + extension;
                      }
                      File file{path, found->second.content, found->second.size, {}};
                      files_[lower(path)] = file;
                      sessions_.erase(found);
                      const QString name = QString::fromStdString(path.substr(path.rfind('/') + 1));
                      respondJson(response, 200,
                                  {{".tag", "file"},
                                   {"name", name},
                                   {"path_display", QString::fromStdString(path)},
                                   {"path_lower", QString::fromStdString(lower(path))},
                                   {"id", "id:" + QString::number(++counter_)},
                                   {"size", static_cast<qint64>(file.size)}});
                  });

    server_.route(
        "POST", "/2/sharing/create_shared_link_with_settings",
        [this](const httplib::Request& request, httplib::Response& response) {
            if (!authorized(request, response))
                return;
            const QJsonObject body =
                QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
            std::lock_guard lock(mutex_);
            const auto found = files_.find(lower(body.value("path").toString().toStdString()));
            if (found == files_.end()) {
                conflict(response, "path/not_found/", {{".tag", "path"}});
                return;
            }
            if (!found->second.link.empty()) {
                conflict(response, "shared_link_already_exists/", {{".tag", "shared_link_already_exists"}});
                return;
            }
            found->second.link = "https://www.dropbox.com/s/" + std::to_string(++counter_) + "/" +
                                 found->second.path.substr(found->second.path.rfind('/') + 1) + "?dl=0";
            respondJson(response, 200,
                        {{".tag", "file"},
                         {"url", QString::fromStdString(found->second.link)},
                         {"path_lower", QString::fromStdString(found->first)},
                         {"link_permissions",
                          QJsonObject{{"resolved_visibility", QJsonObject{{".tag", "public"}}}}}});
        });

    server_.route("POST", "/2/sharing/list_shared_links",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      if (!authorized(request, response))
                          return;
                      const QJsonObject body =
                          QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
                      std::lock_guard lock(mutex_);
                      QJsonArray links;
                      const auto found = files_.find(lower(body.value("path").toString().toStdString()));
                      if (found != files_.end() && !found->second.link.empty())
                          links.append(QJsonObject{{".tag", "file"},
                                                   {"url", QString::fromStdString(found->second.link)}});
                      respondJson(response, 200, {{"links", links}, {"has_more", false}});
                  });
}

} // namespace qm::test
