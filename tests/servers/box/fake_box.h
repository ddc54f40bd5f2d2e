#pragma once

#include "support/test_server.h"

#include <QUrl>
#include <map>
#include <mutex>
#include <string>

namespace qm::test {

// Box as its OAuth 2 endpoints and API 2.0 answer, on one TestServer (web site, API and upload host alike).
//   GET  /api/oauth2/authorize   the user consents at once: 302 to the registered redirect URI with a code
//   POST /api/oauth2/token       authorization_code (code once, redirect URI, client credentials, PKCE
//                                when a challenge was given) and refresh_token (single-use: each refresh
//                                answers a new one and the old one stops working)
//   GET  /2.0/folders/ID/items   POST /2.0/folders   POST /api/2.0/files/content (multipart: parent_id,
//   then the file part)   PUT /2.0/files/ID (shared_link)   DELETE /2.0/files/ID
// Names are unique per folder without regard to case (409 item_name_in_use). API calls need a live bearer
// token (401 with an empty body otherwise). Errors carry Box's JSON bodies ("type": "error", "code",
// "message").
class FakeBox {
public:
    struct Options {
        std::string clientId = "fakeboxclientid0000000000000000aa";
        std::string clientSecret = "fakeboxsecret00000000000000000bb";
        std::string redirectUri = "quillmoor://box-redirect";
        int expiresIn = 3600;
    };
    struct File {
        std::string id, parent, name, content; // content only for files below kLoggedBodyLimit
        size_t size = 0;
        std::string sharedAccess; // empty until shared
    };

    FakeBox();
    explicit FakeBox(Options options);

    TestServer& server() { return server_; }
    QUrl url() const { return server_.url(); }
    const Options& options() const { return options_; }

    // A token pair as a finished sign-in would hold; the access token expires after `expiresIn` seconds.
    struct Tokens {
        std::string access, refresh;
    };
    Tokens issueTokens();
    // Ends the life of every access token now (refresh tokens stay good).
    void expireAccessTokens();
    bool accessTokenValid(const std::string& token) const;
    int refreshes() const;

    // Plays the user's browser on the sign-in page: the address it is redirected to, empty when none.
    static QString follow(const QUrl& page);

    std::string addFolder(const std::string& parent, const std::string& name);
    std::string addFile(const std::string& parent, const std::string& name, const std::string& content);
    std::vector<File> filesIn(const std::string& folder) const;
    std::map<std::string, std::string> folders() const; // id -> name

private:
    void routes();
    bool authorized(const httplib::Request& request, httplib::Response& response) const;
    std::string nextId();
    bool nameTaken(const std::string& parent, const std::string& name, std::string* conflictId,
                   std::string* conflictType) const;

    Options options_;
    TestServer server_;
    mutable std::mutex mutex_;
    long long counter_ = 1000;
    std::map<std::string, std::pair<std::string, std::string>> codes_; // code -> redirect URI, PKCE challenge
    std::map<std::string, long long> accessTokens_;                    // token -> expiry (ms since epoch)
    std::map<std::string, bool> refreshTokens_;                        // token -> still usable
    int refreshes_ = 0;
    std::map<std::string, std::pair<std::string, std::string>> folders_; // id -> parent, name
    std::map<std::string, File> files_;
};

} // namespace qm::test
