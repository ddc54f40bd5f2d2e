#pragma once

// Droplr's API in the test process, on the shared test server:
//
//   GET account · POST links | notes | files?filename=… · GET drops[?filter] · GET | PUT | DELETE drops/CODE
//   GET api/userinfo/TOKEN (signed with the anonymous "droplranon" realm)
//
// Every request must carry "Accept: application/json;v=0.9", a User-Agent beginning "DKClient/2.1.2 ", a
// Date in milliseconds within the allowed skew of the fake's clock, and
//   Authorization: droplr Base64(publicKey ":" email) ":" Base64(HMAC-SHA1(privateKey ":" sha1(password),
//                  METHOD " " PATH " HTTP/1.1\n" CONTENT-TYPE "\n" DATE))
// A request that fails a check is answered 401 (400 for a bad body) with "droplr-errorcode" and
// "droplr-errordetails" headers, and changes nothing. Faults come from the server kit (server()).

#include "support/test_server.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qm::test {

class FakeDroplr {
public:
    static constexpr char kPublicKey[] = "0a1b2c3d4e5f60718293a4b5c6d7e8f901234567";
    static constexpr char kPrivateKey[] = "fedcba98765432100123456789abcdef01234567";
    // The anonymous user the client signs authentication-server requests as.
    static constexpr char kAnonymousEmail[] = "anonymous@droplr.com";
    static constexpr char kAnonymousPassword[] = "quillmoor";

    struct Drop {
        std::string code, type, variant, title, contentType, privacy, password, obscureCode, shortlink;
        long long createdAt = 0;
        size_t size = 0;
        std::string content; // bodies under the log limit only
        std::string owner;
    };

    explicit FakeDroplr(std::string publicKey = kPublicKey, std::string privateKey = kPrivateKey);

    // Accounts by e-mail address (compared without case), with their clear password.
    void addAccount(const std::string& email, const std::string& password,
                    const std::string& dropPrivacy = "PUBLIC");
    // An access token the authentication server knows, standing for `email`.
    void addAccessToken(const std::string& token, const std::string& email);
    // The fake's clock runs this far ahead of the machine's (the client's dates then look stale).
    void setClockOffset(std::chrono::milliseconds offset);
    void setAllowedSkew(std::chrono::milliseconds skew);
    // The next creation answers this text as its shortlink.
    void setNextShortlink(std::string shortlink);

    // The API endpoint, "http://127.0.0.1:PORT/".
    QUrl url() const { return server_.url(QStringLiteral("/")); }
    TestServer& server() { return server_; }
    std::vector<Drop> drops() const;
    std::optional<Drop> dropWithLink(const std::string& shortlink) const;
    int refusals() const;

private:
    struct Account {
        std::string email, password, dropPrivacy;
    };
    // The account the request is signed for, or nothing after answering the refusal.
    const Account* authenticate(const httplib::Request& request, httplib::Response& response,
                                bool anonymous = false);
    void refuse(httplib::Response& response, int status, const std::string& code, const std::string& details);
    void create(const httplib::Request& request, httplib::Response& response, const std::string& kind);
    std::string dropJson(const Drop& drop, bool full) const;
    std::string accountJson(const Account& account) const;
    long long now() const;

    std::string publicKey_, privateKey_;
    TestServer server_;
    mutable std::recursive_mutex mutex_; // refusals are counted under a handler's lock
    std::map<std::string, Account> accounts_;
    std::map<std::string, std::string> tokens_;
    std::vector<Drop> drops_;
    std::chrono::milliseconds offset_{0}, skew_{std::chrono::minutes(5)};
    std::string nextShortlink_;
    int counter_ = 0;
    int refusals_ = 0;
};

} // namespace qm::test
