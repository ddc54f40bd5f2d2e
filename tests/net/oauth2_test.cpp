#include "net/oauth2_client.h"
#include "platform/error.h"
#include "platform/secret_store.h"
#include "platform/system_log.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "json/value.h"

#include <gtest/gtest.h>

using namespace qm::net;
using qm::platform::InvalidArgument;
using qm::test::waitUntil;

namespace {

// A token endpoint that refuses what a real one refuses: a wrong client, an unknown grant, a grant
// without its own fields, a body that is not a form, and a client that does not accept JSON.
struct TokenServer : qm::test::TestServer {
    TokenServer() {
        route("POST", "/oauth/token", [](const httplib::Request& req, httplib::Response& res) {
            httplib::Params p;
            httplib::detail::parse_query_text(req.body, p);
            auto get = [&](const char* key) {
                return p.count(key) == 1 ? p.find(key)->second : std::string("-");
            };
            auto answer = [&](int status, const std::string& json) {
                res.status = status;
                res.set_content(json, "application/json");
            };
            if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0 ||
                req.get_header_value("Accept") != "application/json")
                return answer(406, "{}");
            if (get("client_id") != "cid" || get("client_secret") != "s3cret")
                return answer(401, R"({"error":"invalid_client"})");
            const std::string grant = get("grant_type");
            if (grant == "authorization_code" && get("redirect_uri") == "qm://done") {
                if (get("code") == "good")
                    return answer(
                        200,
                        R"({"access_token":"A1","token_type":"bearer","refresh_token":"R1","expires_in":3600})");
                if (get("code") == "soft")
                    return answer(200, R"({"error":"invalid_grant"})");
            } else if (grant == "refresh_token") {
                if (get("refresh_token") == "R1")
                    return answer(200, R"({"access_token":"A2","token_type":"Bearer","expires_in":60.5})");
                if (get("refresh_token") == "R2")
                    return answer(
                        200,
                        R"({"access_token":"A3","token_type":"bearer","refresh_token":"R9","expires_in":null})");
            } else if (grant == "password" && get("username") == "ann" && get("password") == "pw" &&
                       get("scope") == "read") {
                return answer(200, R"({"access_token":"P1","token_type":"mac"})");
            } else if (grant == "client_credentials" && get("scope") == "read") {
                return answer(
                    200,
                    R"({"access_token":"C1","token_type":"BeArEr","refresh_token":"RC","expires_in":-5})");
            }
            answer(400, R"({"error":"invalid_grant"})");
        });
    }
};

struct Result {
    std::optional<OAuth2Credential> credential;
    bool failed = false;
    std::optional<qm::platform::Error> error;
};

// Runs one grant to its end on the event loop.
template <class Grant> Result run(Grant grant) {
    Result r;
    bool done = false;
    grant([&](const OAuth2Credential& c) { r.credential = c, done = true; },
          [&](const std::optional<qm::platform::Error>& e) { r.failed = true, r.error = e, done = true; });
    EXPECT_TRUE(waitUntil([&] { return done; }));
    return r;
}

struct OAuth2Server : ::testing::Test {
    TokenServer server;
    OAuth2Client client{server.url("/"), "cid", "s3cret"};
    using S = OAuth2Client::CredentialSuccess;
    using F = OAuth2Client::CredentialFailure;
};

} // namespace

TEST(OAuth2ClientCreate, IdentifiersAndRefusals) {
    OAuth2Client client(QUrl("https://api.example.com/2.0"), "cid", "s");
    EXPECT_EQ(client.serviceProviderIdentifier(), "api.example.com");
    EXPECT_EQ(client.clientID(), "cid");
    try {
        OAuth2Client bad(QUrl("https://x/"), "", "s");
        FAIL();
    } catch (const InvalidArgument& e) {
        EXPECT_EQ(e.reason(), "Invalid parameter not satisfying: clientID");
    }
    auto refused = [&](auto call, const char* what) {
        try {
            call();
            ADD_FAILURE() << what;
        } catch (const InvalidArgument& e) {
            EXPECT_EQ(e.reason(), QStringLiteral("Invalid parameter not satisfying: %1").arg(what));
        }
    };
    refused([&] { client.authenticateWithAuthorizationCode("t", "", "u", {}, {}); }, "code");
    refused([&] { client.authenticateWithAuthorizationCode("t", "c", "", {}, {}); }, "uri");
    refused([&] { client.authenticateWithRefreshToken("t", "", {}, {}); }, "refreshToken");
    refused([&] { client.authenticateWithPassword("t", "u", "", "s", {}, {}); }, "password");
    refused([&] { client.authenticateWithClientCredentials("t", "", {}, {}); }, "scope");
}

TEST(OAuth2ClientHeader, OnlyBearerTypesInAnyCaseSetTheHeader) {
    OAuth2Client client(QUrl("https://x/"), "cid", "s");
    client.setAuthorizationHeaderWithToken("t1");
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer t1");
    client.setAuthorizationHeaderWithToken("t2", "bEaReR");
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer t2");
    client.setAuthorizationHeaderWithCredential(OAuth2Credential("t3", "mac"));
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer t2");
}

TEST_F(OAuth2Server, AuthorizationCodeGivesRefreshableCredentialAndHeader) {
    const auto before = QDateTime::currentDateTimeUtc();
    Result r = run([&](S s, F f) {
        client.authenticateWithAuthorizationCode("oauth/token", "good", "qm://done", s, f);
    });
    ASSERT_TRUE(r.credential);
    EXPECT_EQ(r.credential->accessToken(), "A1");
    EXPECT_EQ(r.credential->tokenType(), "bearer");
    EXPECT_EQ(r.credential->refreshToken(), "R1");
    EXPECT_GE(*r.credential->expiration(), before.addSecs(3600));
    EXPECT_LE(*r.credential->expiration(), QDateTime::currentDateTimeUtc().addSecs(3600));
    EXPECT_FALSE(r.credential->isExpired());
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer A1");
}

TEST_F(OAuth2Server, RefreshKeepsTheSentRefreshTokenWhenNoneComesBack) {
    Result r = run([&](S s, F f) { client.authenticateWithRefreshToken("oauth/token", "R1", s, f); });
    ASSERT_TRUE(r.credential);
    EXPECT_EQ(r.credential->accessToken(), "A2");
    EXPECT_EQ(r.credential->refreshToken(), "R1");
    EXPECT_TRUE(r.credential->isExpired(QDateTime::currentDateTimeUtc().addSecs(61)));
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer A2");

    r = run([&](S s, F f) { client.authenticateWithRefreshToken("oauth/token", "R2", s, f); });
    ASSERT_TRUE(r.credential);
    EXPECT_EQ(r.credential->refreshToken(), "R9");
    EXPECT_EQ(r.credential->expiration(), OAuth2Credential::distantFuture());
}

TEST_F(OAuth2Server, PasswordGrantWithNonBearerTypeLeavesTheHeader) {
    client.setAuthorizationHeaderWithToken("old");
    Result r =
        run([&](S s, F f) { client.authenticateWithPassword("oauth/token", "ann", "pw", "read", s, f); });
    ASSERT_TRUE(r.credential);
    EXPECT_EQ(r.credential->tokenType(), "mac");
    EXPECT_FALSE(r.credential->refreshToken());
    EXPECT_FALSE(r.credential->expiration());
    EXPECT_FALSE(r.credential->isExpired(OAuth2Credential::distantFuture().addYears(1)));
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer old");
}

TEST_F(OAuth2Server, ClientCredentialsGrantCanBeAlreadyExpired) {
    Result r = run([&](S s, F f) { client.authenticateWithClientCredentials("oauth/token", "read", s, f); });
    ASSERT_TRUE(r.credential);
    EXPECT_EQ(r.credential->accessToken(), "C1");
    EXPECT_TRUE(r.credential->isExpired());
    EXPECT_EQ(client.defaultValueForHeader("Authorization"), "Bearer C1");
}

TEST_F(OAuth2Server, ErrorAnswers) {
    Result r = run([&](S s, F f) {
        client.authenticateWithAuthorizationCode("oauth/token", "soft", "qm://done", s, f);
    });
    EXPECT_TRUE(r.failed);
    EXPECT_FALSE(r.error);
    r = run(
        [&](S s, F f) { client.authenticateWithAuthorizationCode("oauth/token", "bad", "qm://done", s, f); });
    EXPECT_TRUE(r.failed);
    ASSERT_TRUE(r.error);
    OAuth2Client wrong(server.url("/"), "cid", "other");
    r = run([&](S s, F f) { wrong.authenticateWithClientCredentials("oauth/token", "read", s, f); });
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(client.defaultValueForHeader("Authorization").isNull());

    // A token answer that is not JSON fails with the parse error, not with nothing.
    server.setFault(qm::test::Fault::malformedBody());
    r = run([&](S s, F f) {
        client.authenticateWithAuthorizationCode("oauth/token", "good", "qm://done", s, f);
    });
    EXPECT_TRUE(r.failed);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->domain, qm::json::kErrorDomain);
}

TEST(OAuth2CredentialStore, RoundTripKeyedByServiceAndIdentifier) {
    qm::platform::MemorySecretStore secrets;
    OAuth2CredentialStore store(secrets);
    OAuth2Credential credential("A", "bearer");
    credential.setRefreshToken("R", QDateTime(QDate(2030, 5, 6), QTime(7, 8, 9, 123), Qt::UTC));

    EXPECT_TRUE(store.storeCredential(credential, "box"));
    EXPECT_TRUE(secrets.contains("QNOAuthCredentialService", "box"));
    EXPECT_EQ(store.retrieveCredential("box"), credential);
    EXPECT_TRUE(store.storeCredential(OAuth2Credential("B", "mac"), "box"));
    EXPECT_EQ(secrets.size(), 1);
    EXPECT_EQ(*secrets.find("QNOAuthCredentialService", "box"),
              R"({"accessToken":"B","expiration":null,"refreshToken":null,"tokenType":"mac"})");
    EXPECT_EQ(store.retrieveCredential("box"), OAuth2Credential("B", "mac"));
    EXPECT_EQ(store.retrieveCredential("box")->description(),
              "<QNOAuthCredential accessToken:\"B\" tokenType:\"mac\" refreshToken:\"(null)\" "
              "expiration:\"(null)\">");

    EXPECT_TRUE(store.storeCredential(std::nullopt, "box"));
    EXPECT_EQ(secrets.size(), 0);
    QStringList logged;
    qm::platform::SystemLog::Capture capture([&](const QString& m) { logged.append(m); });
    EXPECT_FALSE(store.retrieveCredential("never"));
    EXPECT_FALSE(store.deleteCredential("never"));
    EXPECT_EQ(logged, QStringList({"Unable to fetch credential with identifier \"never\" (Error -1)",
                                   "Unable to delete credential with identifier \"never\" (Error -1)"}));
    EXPECT_THROW(store.retrieveCredential(""), InvalidArgument);
    EXPECT_THROW(credential.setRefreshToken("R", QDateTime()), InvalidArgument);
}
