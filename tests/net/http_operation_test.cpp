#include <httplib.h>

#include "loopback_server.h"
#include "net/http_request_operation.h"
#include "net/multipart_body_device.h"
#include "net/multipart_form_data.h"
#include "platform/dispatch.h"
#include "sequential_stream.h"
#include "support/test_support.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace qm::net;
using qm::platform::Error;
using qm::test::waitUntil;
using namespace std::chrono_literals;

namespace {

// An HTTP(S) server on a free loopback port, served from its own thread for the test's duration.
class TestServer {
public:
    explicit TestServer(std::unique_ptr<httplib::Server> server, QString scheme = QStringLiteral("http"))
        : server_(std::move(server)), scheme_(std::move(scheme)), loop_(*server_) {}
    httplib::Server& operator*() { return *server_; }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme_).arg(loop_.port()).arg(path));
    }

private:
    std::unique_ptr<httplib::Server> server_;
    QString scheme_;
    qm::test::LoopbackServer loop_;
};

struct Outcome {
    std::atomic<int> successes{0}, failures{0};
    std::optional<Error> error;
    QVariant object;
    bool onMainThread = false;
    int total() const { return successes + failures; }
};

std::shared_ptr<Outcome> watch(HTTPRequestOperation& op) {
    auto outcome = std::make_shared<Outcome>();
    op.setCompletionBlockWithSuccess(
        [outcome](HTTPRequestOperation&, const QVariant& object) {
            outcome->object = object;
            outcome->onMainThread = qm::platform::dispatch::isMainThread();
            ++outcome->successes;
        },
        [outcome](HTTPRequestOperation&, const Error& error) {
            outcome->error = error;
            outcome->onMainThread = qm::platform::dispatch::isMainThread();
            ++outcome->failures;
        });
    return outcome;
}

std::shared_ptr<Outcome> run(const std::shared_ptr<HTTPRequestOperation>& op) {
    auto outcome = watch(*op);
    op->start();
    EXPECT_TRUE(waitUntil([&] { return outcome->total() > 0; }));
    return outcome;
}

std::unique_ptr<httplib::Server> statusServer() {
    auto server = std::make_unique<httplib::Server>();
    server->Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::stoi(req.matches[1]);
        res.set_content("body of " + std::string(req.matches[1]), "text/plain");
    });
    server->Get("/html", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.has_param("empty") ? "" : "<p>x</p>", "text/html");
    });
    return server;
}

// A decoding subclass in miniature: its own class-level sets and Accept-header claim.
class JSONOperation : public HTTPRequestOperation {
public:
    static std::shared_ptr<JSONOperation> create(HTTPRequest request) {
        return std::shared_ptr<JSONOperation>(new JSONOperation(std::move(request)));
    }
    static AcceptableSets& jsonSets() {
        static AcceptableSets sets(HTTPRequestOperation::acceptableStatusCodes(),
                                   QSet<QString>{QStringLiteral("application/json")});
        return sets;
    }
    static bool canProcessRequest(const HTTPRequest& request) { return acceptHeaderMeets(request, jsonSets().contentTypes()); }
    const AcceptableSets& sets() const override { return jsonSets(); }

private:
    using HTTPRequestOperation::HTTPRequestOperation;
};

} // namespace

TEST(HTTPOperation, Status201IsSuccessOnTheMainThread) {
    TestServer server(statusServer());
    auto op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/status/201"))));
    const auto outcome = run(op);
    EXPECT_EQ(outcome->successes, 1);
    EXPECT_EQ(outcome->failures, 0);
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(outcome->object.toByteArray(), QByteArray("body of 201"));
    EXPECT_EQ(op->response()->statusCode, 201);
    EXPECT_TRUE(op->isFinished());
    // text/* without a charset reads as Latin 1.
    EXPECT_EQ(op->responseStringEncoding(), QByteArray("ISO-8859-1"));
    EXPECT_EQ(op->responseString(), QStringLiteral("body of 201"));
}

TEST(HTTPOperation, Status300And404FailWithTheirTexts) {
    TestServer server(statusServer());
    for (const int status : {300, 404}) {
        auto op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/status/%1").arg(status))));
        const auto outcome = run(op);
        ASSERT_EQ(outcome->failures, 1);
        EXPECT_EQ(outcome->successes, 0);
        EXPECT_TRUE(outcome->onMainThread);
        EXPECT_EQ(outcome->error->domain, QStringLiteral("QMNetErrorDomain"));
        EXPECT_EQ(outcome->error->code, -1011);
        EXPECT_EQ(outcome->error->localizedDescription,
                  QStringLiteral("Expected status code in (200-299), got %1").arg(status));
        const auto response = outcome->error->userInfo.value(QString::fromLatin1(kFailingURLResponseErrorKey));
        EXPECT_EQ(response.value<HTTPResponse>().statusCode, status);
        EXPECT_EQ(outcome->error->userInfo.value(QStringLiteral("NSLocalizedRecoverySuggestion")).toString(),
                  QStringLiteral("body of %1").arg(status));
    }
}

TEST(HTTPOperation, ContentTypeIsJudgedOnlyWithABody) {
    TestServer server(statusServer());
    auto empty = JSONOperation::create(HTTPRequest(server.url(QStringLiteral("/html?empty=1"))));
    EXPECT_EQ(run(empty)->successes, 1);

    auto full = JSONOperation::create(HTTPRequest(server.url(QStringLiteral("/html"))));
    const auto outcome = run(full);
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->code, -1016);
    EXPECT_TRUE(outcome->error->localizedDescription.startsWith(QStringLiteral("Expected content type ")));
    EXPECT_TRUE(outcome->error->localizedDescription.endsWith(QStringLiteral(", got text/html")));
    EXPECT_FALSE(full->hasAcceptableContentType());
    EXPECT_TRUE(full->hasAcceptableStatusCode());
}

TEST(HTTPOperation, ClassLevelSetsAndAcceptClaims) {
    EXPECT_EQ(describeStatusCodes(HTTPRequestOperation::acceptableStatusCodes()), QStringLiteral("200-299"));
    EXPECT_EQ(describeStatusCodes({200, 201, 202, 304, 400}), QStringLiteral("200-202,304,400"));
    EXPECT_FALSE(HTTPRequestOperation::acceptableContentTypes().has_value());

    HTTPRequest request(QUrl(QStringLiteral("http://127.0.0.1/")));
    EXPECT_TRUE(HTTPRequestOperation::canProcessRequest(request));
    EXPECT_FALSE(JSONOperation::canProcessRequest(request));
    request.setHeader("Accept", " text/html , application/json; q=0.9,");
    EXPECT_TRUE(JSONOperation::canProcessRequest(request));
    // A fresh type each run, since registrations last for the process.
    static int run = 0;
    const QString added = QStringLiteral("text/x-added-%1").arg(++run);
    request.setHeader("Accept", added.toLatin1());
    EXPECT_FALSE(JSONOperation::canProcessRequest(request));
    JSONOperation::jsonSets().addContentTypes({added});
    EXPECT_TRUE(JSONOperation::canProcessRequest(request));
    EXPECT_FALSE(HTTPRequestOperation::acceptableContentTypes().has_value());
}

TEST(HTTPOperation, CancelBeforeStartFailsOnceWithMinus999) {
    auto op = HTTPRequestOperation::create(HTTPRequest(QUrl(QStringLiteral("http://127.0.0.1:9/never"))));
    auto outcome = watch(*op);
    op->cancel();
    EXPECT_TRUE(op->isCancelled());
    EXPECT_TRUE(op->isReady());
    op->start();
    EXPECT_TRUE(op->isFinished());
    ASSERT_TRUE(waitUntil([&] { return outcome->total() > 0; }));
    op->cancel();
    op->start();
    QThread::msleep(50);
    qm::test::drainEvents();
    EXPECT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->successes, 0);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->code, -999);
}

std::unique_ptr<httplib::Server> slowServer(std::atomic<int>* requests, std::vector<httplib::Headers>* seen,
                                            std::mutex* seenMutex) {
    auto server = std::make_unique<httplib::Server>();
    server->Get("/slow", [=](const httplib::Request& req, httplib::Response& res) {
        ++*requests;
        {
            std::lock_guard guard(*seenMutex);
            seen->push_back(req.headers);
        }
        res.set_header("ETag", "\"v1\"");
        if (req.has_header("Range")) {  // the server library answers with the asked-for slice
            std::string resource(200 * 1024, 'a');
            resource.append("rest");
            res.set_content(resource, "application/octet-stream");
            return;
        }
        // Trickles until the client goes away, bounded so a stuck client cannot hang the server.
        res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
            for (int i = 0; i < 200; ++i) {  // the first 200 KiB of the resource
                if (!sink.is_writable() || !sink.write(std::string(1024, 'a').data(), 1024))
                    return false;
                std::this_thread::sleep_for(10ms);
            }
            sink.write("rest", 4);
            sink.done();
            return true;
        });
    });
    return server;
}

// A download of the trickling resource, started and under way.
class SlowDownloadTest : public ::testing::Test {
protected:
    void startAndWaitForBytes() {
        op->setDownloadProgressBlock([this](qint64, qint64 total, qint64) { received = total; });
        op->start();
        ASSERT_TRUE(waitUntil([&] { return received > 0; }));
    }

    std::atomic<int> requests{0};
    std::vector<httplib::Headers> seen;
    std::mutex seenMutex;
    TestServer server{slowServer(&requests, &seen, &seenMutex)};
    std::shared_ptr<HTTPRequestOperation> op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/slow"))));
    std::atomic<qint64> received{0};
    std::shared_ptr<Outcome> outcome = watch(*op);
};

TEST_F(SlowDownloadTest, CancelDuringTransferFailsOnceAndNothingLater) {
    startAndWaitForBytes();
    EXPECT_TRUE(op->isExecuting());
    op->cancel();
    ASSERT_TRUE(waitUntil([&] { return outcome->total() > 0; }));
    QThread::msleep(100);
    qm::test::drainEvents();
    EXPECT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->successes, 0);
    EXPECT_EQ(outcome->error->code, -999);
    EXPECT_EQ(outcome->error->userInfo.value(QStringLiteral("NSErrorFailingURLKey")).toUrl(), server.url(QStringLiteral("/slow")));
    EXPECT_TRUE(op->isFinished());
}

TEST_F(SlowDownloadTest, PauseAndResumeAskForTheRest) {
    startAndWaitForBytes();
    op->pause();
    EXPECT_TRUE(op->isPaused());
    op->start();  // only resume leaves the paused state
    EXPECT_TRUE(op->isPaused());
    QThread::msleep(50);
    op->resume();
    ASSERT_TRUE(waitUntil([&] { return outcome->total() > 0; })) << op->state() << " " << requests;
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    ASSERT_EQ(requests, 2);
    std::lock_guard guard(seenMutex);
    const std::string range = httplib::detail::get_header_value(seen[1], "Range", 0, "");
    EXPECT_EQ(httplib::detail::get_header_value(seen[1], "If-Range", 0, ""), std::string("\"v1\""));
    EXPECT_EQ(op->response()->statusCode, 206);
    EXPECT_EQ(op->responseData(), QByteArray(200 * 1024, 'a') + "rest");
    ASSERT_TRUE(range.starts_with("bytes=") && range.ends_with("-"));
    const long long from = std::stoll(range.substr(6));
    EXPECT_GT(from, 0);
    EXPECT_LT(from, 200 * 1024);
}

TEST(HTTPOperation, StreamedUploadIsByteIdenticalWithCoalescedProgress) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("upload.bin"));
    constexpr qint64 size = 20 * 1024 * 1024;
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qint64 m = 0; m < size / block.size(); ++m) {
            for (qsizetype i = 0; i < block.size(); ++i)
                block[i] = char((i * 31 + m * 7) & 0xff);
            file.write(block);
        }
    }
    QFile source(path);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray expectedHash = QCryptographicHash::hash(source.readAll(), QCryptographicHash::Sha256);
    source.close();

    std::atomic<bool> received{false};
    QByteArray receivedHash;
    auto http = std::make_unique<httplib::Server>();
    http->Post("/upload", [&](const httplib::Request& req, httplib::Response& res) {
        receivedHash = QCryptographicHash::hash(QByteArray::fromStdString(req.body), QCryptographicHash::Sha256);
        received = true;
        res.status = 201;
    });
    TestServer server(std::move(http));

    HTTPRequest request(server.url(QStringLiteral("/upload")), "POST");
    request.bodyDevice = std::make_shared<QFile>(path);
    request.setHeader("Content-Type", "application/octet-stream");
    auto op = HTTPRequestOperation::create(request);
    struct Report {
        qint64 delta, total, expected;
        bool main;
    };
    std::vector<Report> reports;
    op->setUploadProgressBlock([&](qint64 d, qint64 t, qint64 e) {
        reports.push_back({d, t, e, qm::platform::dispatch::isMainThread()});
    });
    auto outcome = watch(*op);
    op->start();
    // The main thread stays busy while the whole body goes out: at most one report may pile up.
    for (int i = 0; i < 500 && !received; ++i)
        QThread::msleep(10);
    ASSERT_TRUE(received);
    ASSERT_TRUE(waitUntil([&] { return outcome->total() > 0; }));
    qm::test::drainEvents();
    EXPECT_EQ(outcome->successes, 1);
    EXPECT_EQ(receivedHash, expectedHash);
    ASSERT_FALSE(reports.empty());
    EXPECT_LE(reports.size(), 3u);
    qint64 sum = 0, last = 0;
    for (const Report& r : reports) {
        EXPECT_TRUE(r.main);
        EXPECT_GT(r.total, last);
        EXPECT_EQ(r.expected, size);
        sum += r.delta;
        last = r.total;
        EXPECT_EQ(sum, r.total);
    }
    EXPECT_EQ(last, size);
}

TEST(HTTPOperation, SelfSignedCertificateRefusedUnlessAllowed) {
    QTemporaryDir dir;
    const auto [cert, key] = qm::test::makeSelfSignedCertificate(dir.path());
    ASSERT_FALSE(cert.isEmpty());

    auto https = std::make_unique<httplib::SSLServer>(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData());
    ASSERT_TRUE(https->is_valid());
    https->Get("/secure", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    TestServer server(std::move(https), QStringLiteral("https"));

    auto refused = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/secure"))));
    const auto failed = run(refused);
    ASSERT_EQ(failed->failures, 1);
    EXPECT_EQ(failed->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(failed->error->code, kURLErrorServerCertificateUntrusted);

    auto allowed = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/secure"))));
    allowed->setAllowsInvalidSSLCertificate(true);
    const auto succeeded = run(allowed);
    EXPECT_EQ(succeeded->successes, 1);
    EXPECT_EQ(succeeded->object.toByteArray(), QByteArray("ok"));
}

TEST(HTTPOperation, BasicCredentialAnswersA401) {
    auto http = std::make_unique<httplib::Server>();
    http->Get("/private", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") != "Basic dXNlcjpwYXNz") {  // user:pass
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
            return;
        }
        res.set_content("secret", "text/plain");
    });
    TestServer server(std::move(http));
    auto without = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/private"))));
    EXPECT_EQ(run(without)->error->code, -1011);
    auto with = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/private"))));
    with->setCredential(Credential{QStringLiteral("user"), QStringLiteral("pass")});
    EXPECT_EQ(run(with)->object.toByteArray(), QByteArray("secret"));
    auto wrong = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/private"))));
    wrong->setCredential(Credential{QStringLiteral("user"), QStringLiteral("nope")});
    EXPECT_EQ(run(wrong)->error->code, -1011);
}

TEST(HTTPOperation, CallbackContextOnAnotherThread) {
    TestServer server(statusServer());
    QThread worker;
    worker.start();
    QObject context;
    context.moveToThread(&worker);
    auto op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/status/200"))));
    op->setSuccessCallbackContext(&context);
    std::atomic<QThread*> ranOn{nullptr};
    op->setCompletionBlockWithSuccess([&](HTTPRequestOperation&, const QVariant&) { ranOn = QThread::currentThread(); },
                                      nullptr);
    op->start();
    EXPECT_TRUE(waitUntil([&] { return ranOn != nullptr; }));
    EXPECT_EQ(ranOn.load(), &worker);
    worker.quit();
    worker.wait();
}

namespace {

// What a test server was asked, in order.
struct Seen {
    std::string method, path, body;
    httplib::Headers headers;
};

class SeenLog {
public:
    void add(const httplib::Request& req) {
        std::lock_guard guard(mutex_);
        seen_.push_back({req.method, req.path, req.body, req.headers});
    }
    std::vector<Seen> all() {
        std::lock_guard guard(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

std::string headerOf(const Seen& seen, const char* name) {
    return httplib::detail::get_header_value(seen.headers, name, 0, "");
}

std::string md5(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5).toHex().toStdString();
}

// The name=value and name="value" pairs after "Digest ".
std::map<std::string, std::string> digestParameters(const std::string& header) {
    std::map<std::string, std::string> parameters;
    size_t at = header.find(' ');
    while (at != std::string::npos && at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ','))
            ++at;
        const size_t equals = header.find('=', at);
        if (equals == std::string::npos)
            break;
        const std::string name = header.substr(at, equals - at);
        std::string value;
        if (equals + 1 < header.size() && header[equals + 1] == '"') {
            const size_t close = header.find('"', equals + 2);
            value = header.substr(equals + 2, close - equals - 2);
            at = close == std::string::npos ? close : close + 1;
        } else {
            const size_t comma = header.find(',', equals);
            value = header.substr(equals + 1, comma == std::string::npos ? comma : comma - equals - 1);
            at = comma;
        }
        parameters[name] = value;
    }
    return parameters;
}

// Digest access authentication (MD5, qop=auth) for user "quill", checked in full by the server.
std::unique_ptr<httplib::Server> digestServer(SeenLog* log, std::atomic<int>* accepted) {
    auto server = std::make_unique<httplib::Server>();
    const auto handler = [=](const httplib::Request& req, httplib::Response& res) {
        log->add(req);
        static const std::string realm = "quill realm", nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
        const std::string header = req.get_header_value("Authorization");
        if (header.starts_with("Digest ")) {
            auto p = digestParameters(header);
            const std::string ha1 = md5(p["username"] + ":" + realm + ":moor-secret");
            const std::string ha2 = md5(req.method + ":" + p["uri"]);
            const std::string expected =
                md5(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + p["qop"] + ":" + ha2);
            if (p["username"] == "quill" && p["realm"] == realm && p["nonce"] == nonce && p["qop"] == "auth" &&
                p["uri"] == req.target && !p["cnonce"].empty() && p["response"] == expected) {
                ++*accepted;
                res.set_content("digest ok " + std::to_string(req.body.size()), "text/plain");
                return;
            }
        }
        res.status = 401;
        res.set_header("WWW-Authenticate",
                       "Digest realm=\"" + realm + "\", nonce=\"" + nonce + "\", qop=\"auth\", algorithm=MD5");
    };
    server->Get("/digest", handler);
    server->Put("/digest", handler);
    return server;
}

std::shared_ptr<HTTPRequestOperation> operationFor(const QUrl& url, const QByteArray& method = "GET") {
    return HTTPRequestOperation::create(HTTPRequest(url, method));
}

std::shared_ptr<HTTPRequestOperation> multipartOperation(const QUrl& url, const QByteArray& method,
                                                         const MultipartFormData& form) {
    // No multipart Content-Type: the test server would take the body apart, and the raw bytes are checked.
    HTTPRequest request(url, method);
    request.bodyDevice = form.createBodyDevice();
    request.bodyLength = qint64(form.contentLength());
    return HTTPRequestOperation::create(request);
}

QByteArray bodyOf(const MultipartFormData& form) {
    auto device = form.createBodyDevice();
    EXPECT_TRUE(device->open(QIODevice::ReadOnly));
    return device->readAll();
}

long failingStatus(const Error& error) {
    return error.userInfo.value(QString::fromLatin1(kFailingURLResponseErrorKey)).value<HTTPResponse>().statusCode;
}

} // namespace

TEST(HTTPOperationDigest, RightPasswordPassesTheFullCheckWrongOneEndsIn401) {
    SeenLog log;
    std::atomic<int> accepted{0};
    TestServer server(digestServer(&log, &accepted));

    auto right = operationFor(server.url(QStringLiteral("/digest?folder=ab&x=1")));
    right->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("moor-secret")});
    const auto passed = run(right);
    ASSERT_EQ(passed->successes, 1) << passed->error->localizedDescription.toStdString();
    EXPECT_EQ(passed->object.toByteArray(), "digest ok 0");
    EXPECT_EQ(accepted, 1);
    const auto seen = log.all();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(headerOf(seen[0], "Authorization"), "");  // the credential answers the challenge only

    auto wrong = operationFor(server.url(QStringLiteral("/digest")));
    wrong->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("not-it")});
    const auto failed = run(wrong);
    ASSERT_EQ(failed->failures, 1);
    EXPECT_EQ(failed->error->code, kNetErrorBadServerResponse);
    EXPECT_EQ(failingStatus(*failed->error), 401);
    EXPECT_EQ(accepted, 1);
    EXPECT_TRUE(headerOf(log.all().back(), "Authorization").starts_with("Digest "));
}

TEST(HTTPOperationDigest, StreamedBodyIsSentAgainAfterTheChallenge) {
    SeenLog log;
    std::atomic<int> accepted{0};
    TestServer server(digestServer(&log, &accepted));
    auto stream = std::make_shared<QBuffer>();
    stream->setData(QByteArray(300 * 1024, 'd') + "tail");
    MultipartFormData form;
    form.appendPartWithFormData("value", "field");
    form.appendPartWithInputStream(stream, "file", "d.bin", quint64(stream->data().size()), "application/x-d");
    const QByteArray body = bodyOf(form);

    auto op = multipartOperation(server.url(QStringLiteral("/digest")), "PUT", form);
    op->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("moor-secret")});
    const auto outcome = run(op);
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    EXPECT_EQ(accepted, 1);
    const auto seen = log.all();
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(QByteArray::fromStdString(seen.back().body) == body);
}

TEST(HTTPOperationCookies, SentBackOnlyWhereTheyBelong) {
    SeenLog log;
    auto http = std::make_unique<httplib::Server>();
    http->Get("/app/login", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.set_header("Set-Cookie", "qm_session=s1; Path=/app; HttpOnly");
        res.set_content("in", "text/plain");
    });
    http->Get("/app/logout", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.set_header("Set-Cookie", "qm_session=; Path=/app; Max-Age=0");
        res.set_content("out", "text/plain");
    });
    http->Get(R"(/(app|other)/check)", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.set_content("checked", "text/plain");
    });
    TestServer server(std::move(http));
    const auto onHost = [&](const QString& host, const QString& path) {
        QUrl url = server.url(path);
        url.setHost(host);
        return url;
    };
    const QString ip = QStringLiteral("127.0.0.1"), name = QStringLiteral("localhost");
    for (const auto& [host, path] : std::vector<std::pair<QString, QString>>{{ip, QStringLiteral("/app/login")},
                                                                              {ip, QStringLiteral("/app/check")},
                                                                              {ip, QStringLiteral("/other/check")},
                                                                              {name, QStringLiteral("/app/check")},
                                                                              {ip, QStringLiteral("/app/logout")},
                                                                              {ip, QStringLiteral("/app/check")}})
        ASSERT_EQ(run(operationFor(onHost(host, path)))->successes, 1) << path.toStdString();
    const auto seen = log.all();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(headerOf(seen[0], "Cookie"), "");
    EXPECT_EQ(headerOf(seen[1], "Cookie"), "qm_session=s1");
    EXPECT_EQ(headerOf(seen[2], "Cookie"), "");  // another path
    EXPECT_EQ(headerOf(seen[3], "Cookie"), "");  // another host
    EXPECT_EQ(headerOf(seen[5], "Cookie"), "");  // expired by the server
}

TEST(HTTPOperationRedirect, FollowedToTheFinalAnswerAndURL) {
    SeenLog log;
    auto http = std::make_unique<httplib::Server>();
    http->Get("/moved", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.set_redirect("/final?from=moved", 302);
    });
    http->Post("/form", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.set_redirect("/final?from=form", 303);
    });
    http->Get("/final", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.set_content("final " + req.get_param_value("from"), "text/plain");
    });
    TestServer server(std::move(http));

    auto get = operationFor(server.url(QStringLiteral("/moved")));
    ASSERT_EQ(run(get)->object.toByteArray(), "final moved");
    EXPECT_EQ(get->response()->statusCode, 200);
    EXPECT_EQ(get->response()->url, server.url(QStringLiteral("/final?from=moved")));

    HTTPRequest request(server.url(QStringLiteral("/form")), "POST");
    request.body = "a=1&b=2";
    request.setHeader("Content-Type", "application/x-www-form-urlencoded");
    auto post = HTTPRequestOperation::create(request);
    ASSERT_EQ(run(post)->object.toByteArray(), "final form");
    EXPECT_EQ(post->response()->url, server.url(QStringLiteral("/final?from=form")));
    const auto seen = log.all();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].method, "POST");
    EXPECT_EQ(seen[2].body, "a=1&b=2");
    EXPECT_EQ(seen[3].method, "GET");
    EXPECT_EQ(seen[3].body, "");
    EXPECT_EQ(headerOf(seen[3], "Content-Length"), "");
}

// A PUT to /put is sent on to /stored with 307, which keeps the method and wants the body again.
std::unique_ptr<httplib::Server> temporaryRedirectServer(SeenLog* log) {
    auto server = std::make_unique<httplib::Server>();
    server->Put("/put", [=](const httplib::Request& req, httplib::Response& res) {
        log->add(req);
        res.set_redirect("/stored", 307);
    });
    server->Put("/stored", [=](const httplib::Request& req, httplib::Response& res) {
        log->add(req);
        res.status = 201;
    });
    return server;
}

TEST(HTTPOperationRedirect, A307SendsTheStreamedBodyAgainWhole) {
    SeenLog log;
    TestServer server(temporaryRedirectServer(&log));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("part.bin"));
    QByteArray fileBytes(512 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < fileBytes.size(); ++i)
        fileBytes[i] = char((i * 7 + i / 1021) & 0xff);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fileBytes);
    }
    auto stream = std::make_shared<QBuffer>();
    stream->setData(fileBytes.right(70000) + "stream end");
    MultipartFormData form;
    form.appendPartWithFormData("1", "first");
    ASSERT_TRUE(form.appendPartWithFileUrl(QUrl::fromLocalFile(path), "file"));
    form.appendPartWithInputStream(stream, "stream", "s.bin", quint64(stream->data().size()), "a/b");
    const QByteArray body = bodyOf(form);

    auto op = multipartOperation(server.url(QStringLiteral("/put")), "PUT", form);
    const auto outcome = run(op);
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    EXPECT_EQ(op->response()->statusCode, 201);
    const auto seen = log.all();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].method, "PUT");
    EXPECT_EQ(seen[1].path, "/stored");
    EXPECT_TRUE(QByteArray::fromStdString(seen[0].body) == body);
    EXPECT_TRUE(QByteArray::fromStdString(seen[1].body) == body);
}

TEST(HTTPOperationRedirect, BodyThatCannotStartOverFailsInsteadOfGoingShort) {
    SeenLog log;
    TestServer server(temporaryRedirectServer(&log));
    MultipartFormData form;
    form.appendPartWithInputStream(std::make_shared<qm::test::SequentialStream>(QByteArray(4096, 'p')), "pipe",
                                   "p.bin", 4096, "a/b");
    const auto outcome = run(multipartOperation(server.url(QStringLiteral("/put")), "PUT", form));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->code, kURLErrorRequestBodyStreamExhausted);
    EXPECT_TRUE(outcome->error->localizedDescription.endsWith(
        QStringLiteral("The stream of a part cannot be read a second time.")))
        << outcome->error->localizedDescription.toStdString();
    for (const Seen& seen : log.all())
        EXPECT_NE(seen.path, "/stored");
}

TEST(HTTPOperationRedirect, LoopEndsInTooManyRedirects) {
    std::atomic<int> hops{0};
    auto http = std::make_unique<httplib::Server>();
    http->Get(R"(/loop/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
        ++hops;
        res.set_redirect("/loop/" + std::to_string((std::stoi(req.matches[1]) + 1) % 2), 302);
    });
    TestServer server(std::move(http));
    const auto outcome = run(operationFor(server.url(QStringLiteral("/loop/0"))));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->code, kURLErrorHTTPTooManyRedirects);
    EXPECT_GT(hops, 1);
    EXPECT_LT(hops, 100);
}

TEST(HTTPOperationBody, FailingStreamFailsTheRequestWithItsError) {
    std::atomic<int> completed{0};
    auto http = std::make_unique<httplib::Server>();
    http->Post("/upload", [&](const httplib::Request&, httplib::Response& res) {
        ++completed;
        res.status = 201;
    });
    TestServer server(std::move(http));
    MultipartFormData form;
    form.appendPartWithFormData("x", "before");
    form.appendPartWithInputStream(std::make_shared<qm::test::SequentialStream>(QByteArray(256 * 1024, 'f'), 100000,
                                                                                QStringLiteral("source went away")),
                                   "file", "f.bin", 256 * 1024, "a/b");
    const auto outcome = run(multipartOperation(server.url(QStringLiteral("/upload")), "POST", form));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->localizedDescription, QStringLiteral("source went away"));
    EXPECT_EQ(completed, 0);
}

TEST(HTTPOperationBody, ResumedUploadSendsTheWholeBodyAgain) {
    SeenLog log;
    auto http = std::make_unique<httplib::Server>();
    http->Put("/stored", [&](const httplib::Request& req, httplib::Response& res) {
        log.add(req);
        res.status = 201;
    });
    TestServer server(std::move(http));
    auto stream = std::make_shared<QBuffer>();
    stream->setData(QByteArray(200 * 1024, 'r') + "end");
    MultipartFormData form;
    form.appendPartWithInputStream(stream, "file", "r.bin", quint64(stream->data().size()), "a/b");
    const QByteArray body = bodyOf(form);
    form.throttleBandwidth(4096, std::chrono::milliseconds(5));  // long enough to pause half-way

    auto op = multipartOperation(server.url(QStringLiteral("/stored")), "PUT", form);
    std::atomic<qint64> sent{0};
    op->setUploadProgressBlock([&](qint64, qint64 total, qint64) { sent = total; });
    auto outcome = watch(*op);
    op->start();
    ASSERT_TRUE(waitUntil([&] { return sent > 0; }));
    op->pause();
    ASSERT_TRUE(op->isPaused());
    ASSERT_LT(sent, body.size());
    op->resume();
    ASSERT_TRUE(waitUntil([&] { return outcome->total() > 0; }, 20000));
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    const auto seen = log.all();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(QByteArray::fromStdString(seen[0].body) == body);
}
