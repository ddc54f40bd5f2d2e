#pragma once

// The HTTP server of the tests: every test that talks to a web service, and every service fake in
// tests/servers, is built on it.
//
//     qm::test::TestServer server;                      // listens on 127.0.0.1 at a free port at once
//     server.route("POST", "/files/(\\w+)", [](const httplib::Request& req, httplib::Response& res) {
//         res.set_content("{\"id\": \"" + req.matches[1].str() + "\"}", "application/json");
//     });
//     server.setFault(Fault::status(503).onPath("/files/").times(1));  // the next upload answers 503
//     ... run the client against server.url("/files/a") ...
//     EXPECT_EQ(server.log().last().header("Content-Type"), "");
//
// One handler per route: a method and a path pattern (a regular expression matching the whole path,
// its groups in req.matches); adding the same route again replaces its handler, at any time. A request
// no route takes is answered 404. Every request is logged before it is answered. A fault changes the
// answers of the routes it covers until it is cleared or used up; stalls and trickles end early when
// the server goes away, so no test waits them out. One request per connection, so stopping never waits
// for an idle keep-alive connection.

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

// What the server was asked.
struct LoggedRequest {
    std::string method, path, target;
    std::string body;    // empty, like the parts' contents, for a body of kLoggedBodyLimit bytes or more
    size_t bodySize = 0; // the whole body's length in bytes
    httplib::Headers headers;
    httplib::Params params;
    httplib::MultipartFormDataMap files; // the parts of a multipart/form-data body

    bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    std::string header(const std::string& name) const; // empty when absent
    std::string param(const std::string& name) const;
};

// Bodies this large are not copied into the log, so that a fake can take uploads of gigabytes.
inline constexpr size_t kLoggedBodyLimit = 16 * 1024 * 1024;

// The requests of one server in arrival order; safe from any thread.
class RequestLog {
public:
    void add(const httplib::Request& request);
    void add(LoggedRequest request); // from servers that are not httplib's
    std::vector<LoggedRequest> all() const;
    LoggedRequest last() const; // an empty entry while there is none
    size_t size() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LoggedRequest> requests_;
};

// A way for the server to misbehave.
struct Fault {
    enum class Kind {
        Status,        // answers `code` with a short text body, without running the handler
        MalformedBody, // runs the handler, then cuts its body in half and adds "<{": neither JSON nor XML
        DropMidBody,   // announces the handler's body and closes the connection half-way through it
        Stall,         // sends nothing for `interval`, then answers (a stall past the client's timeout)
        Trickle,       // sends the handler's body `chunk` bytes at a time, `interval` apart
        ExpiredToken,  // 401 with a Bearer "invalid_token" challenge and {"error":"invalid_token"}
    };
    Kind kind = Kind::Status;
    int code = 500;
    std::chrono::milliseconds interval{0};
    size_t chunk = 16;
    std::string pathPrefix; // the paths covered; empty: all
    int remaining = -1;     // requests still covered; -1: until cleared

    static Fault status(int code) { return of(Kind::Status, code); }
    static Fault malformedBody() { return of(Kind::MalformedBody); }
    static Fault dropMidBody() { return of(Kind::DropMidBody); }
    static Fault stall(std::chrono::milliseconds duration) { return of(Kind::Stall, 0, duration); }
    static Fault trickle(std::chrono::milliseconds interval, size_t chunk = 16) {
        Fault fault = of(Kind::Trickle, 0, interval);
        fault.chunk = chunk;
        return fault;
    }
    static Fault expiredToken() { return of(Kind::ExpiredToken, 401); }
    Fault& onPath(std::string prefix) { return pathPrefix = std::move(prefix), *this; }
    Fault& times(int count) { return remaining = count, *this; }

private:
    static Fault of(Kind kind, int code = 0, std::chrono::milliseconds interval = {}) {
        Fault fault;
        fault.kind = kind;
        fault.code = code;
        fault.interval = interval;
        return fault;
    }
};

// The first of `faults` that covers `path`, used up by one more request (the caller holds their lock).
std::optional<Fault> takeFault(std::vector<Fault>& faults, const std::string& path);

// The code challenge of PKCE's S256 method for `verifier`, as a sign-in server computes it.
std::string pkceChallenge(const std::string& verifier);

// What a browser does with a sign-in page that redirects at once: the address it is sent on to (the
// Location of the 302), or empty when the page answered otherwise.
QString followSignInPage(const QUrl& page);

// `text` as a JSON string literal, quotes included, for answers written by hand.
std::string jsonString(const std::string& text);

// Answers `status` with `body` as compact JSON, as web services do.
inline void respondJson(httplib::Response& response, int status, const QJsonObject& body) {
    response.status = status;
    response.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json");
}

class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    struct Tls {
        QString certificatePath, keyPath;
    };

    // Plain HTTP, or HTTPS with the given certificate (test_support.h makes a self-signed one).
    explicit TestServer(std::optional<Tls> tls = std::nullopt);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Methods: GET, HEAD, POST, PUT, PATCH, DELETE, OPTIONS.
    TestServer& route(const std::string& method, const std::string& pattern, Handler handler);
    // The same handler for every method.
    TestServer& routeAll(const std::string& pattern, const Handler& handler);
    void setFault(Fault fault);
    void clearFaults();

    int port() const { return port_; }
    // "http(s)://127.0.0.1:port" followed by `path` (which may carry a query), or on another host name
    // of this machine, such as "localhost", to play a second host.
    QUrl url(const QString& path = {}, const QString& host = QStringLiteral("127.0.0.1")) const;
    RequestLog& log() { return log_; }
    bool isValid() const { return port_ > 0; }

private:
    struct Route {
        std::string method, pattern;
        std::regex regex;
        Handler handler;
    };

    void dispatch(const httplib::Request& request, httplib::Response& response);
    std::optional<Fault> takeFault(const std::string& path);
    void apply(const Fault& fault, const httplib::Request& request, httplib::Response& response,
               const Handler& handler);
    // Sleeps, or returns false at once when the server is going away.
    bool pause(std::chrono::milliseconds duration);

    std::unique_ptr<httplib::Server> server_;
    bool https_ = false;
    int port_ = -1;
    std::thread thread_;
    RequestLog log_;
    std::mutex mutex_;
    std::condition_variable stopping_;
    bool stopped_ = false;
    std::vector<Route> routes_;
    std::vector<Fault> faults_;
};

} // namespace qm::test
