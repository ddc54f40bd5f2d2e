#pragma once

#include "support/test_server.h"

#include <QUrl>
#include <map>
#include <mutex>
#include <string>

namespace qm::test {

// Dropbox's OAuth 2 endpoints and API v2 as they answer, on one TestServer (web site, API and content
// host alike), for an app-folder application signed in with PKCE:
//   GET  /oauth2/authorize   consent at once: 302 to redirect_uri with code and state (S256 challenge needed)
//   POST /oauth2/token       authorization_code (code once, client_id, code_verifier, redirect_uri) and
//                            refresh_token
//   POST /2/files/upload_session/start | append_v2 | finish, /2/sharing/create_shared_link_with_settings,
//        /2/sharing/list_shared_links
// A wrong offset answers 409 incorrect_offset with error.correct_offset; a second link 409
// shared_link_already_exists; an expired token 401 expired_access_token.
class FakeDropbox {
public:
    struct Options {
        std::string appKey = "fakedropboxkey1";
        int expiresIn = 14400;
    };
    struct File {
        std::string path, content; // content only below kLoggedBodyLimit
        size_t size = 0;
        std::string link;
    };

    FakeDropbox();
    explicit FakeDropbox(Options options);

    TestServer& server() { return server_; }
    QUrl url() const { return server_.url(); }
    const Options& options() const { return options_; }

    struct Tokens {
        std::string access, refresh;
    };
    Tokens issueTokens();
    void expireAccessTokens();
    // Files by lower-case path.
    std::map<std::string, File> files() const;
    // The next append of a session takes only its first `bytes` before the connection drops.
    void dropNextAppendAfter(size_t bytes);
    std::vector<size_t> chunkSizes() const; // body sizes of start and append calls, in order

    // Plays the browser: the address the sign-in page redirects to, empty when none.
    static QString follow(const QUrl& page);

private:
    void routes();
    bool authorized(const httplib::Request& request, httplib::Response& response);

    Options options_;
    TestServer server_;
    mutable std::mutex mutex_;
    long long counter_ = 1;
    std::map<std::string, std::tuple<std::string, std::string>> codes_; // code -> redirect, challenge
    std::map<std::string, long long> access_;
    std::map<std::string, bool> refresh_;
    struct Session {
        std::string content;
        size_t size = 0;
    };
    std::map<std::string, Session> sessions_;
    std::map<std::string, File> files_;
    size_t dropAfter_ = 0;
    bool drop_ = false;
    std::vector<size_t> chunks_;
};

} // namespace qm::test
