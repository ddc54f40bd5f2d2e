#include "net/file_range_device.h"
#include "net/http_request_operation.h"
#include "net/multipart_body_device.h"
#include "net/multipart_form_data.h"
#include "net/network_thread.h"
#include "platform/dispatch.h"
#include "sequential_stream.h"
#include "support/operation_outcome.h"
#include "support/test_server.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
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

using qm::test::LoggedRequest;
using qm::test::Outcome;
using qm::test::run;
using qm::test::TestServer;
using qm::test::watch;

// "/status/N" answers N with the body "body of N"; "/html" a paragraph, or nothing with ?empty.
struct StatusServer : TestServer {
    StatusServer() {
        route("GET", R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("body of " + std::string(req.matches[1]), "text/plain");
        });
        route("GET", "/html", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.has_param("empty") ? "" : "<p>x</p>", "text/html");
        });
    }
};

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
    static bool canProcessRequest(const HTTPRequest& request) {
        return acceptHeaderMeets(request, jsonSets().contentTypes());
    }
    const AcceptableSets& sets() const override { return jsonSets(); }

private:
    using HTTPRequestOperation::HTTPRequestOperation;
};

} // namespace

TEST(HTTPOperation, Status201IsSuccessOnTheMainThread) {
    StatusServer server;
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
    StatusServer server;
    for (const int status : {300, 404}) {
        auto op =
            HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/status/%1").arg(status))));
        const auto outcome = run(op);
        ASSERT_EQ(outcome->failures, 1);
        EXPECT_EQ(outcome->successes, 0);
        EXPECT_TRUE(outcome->onMainThread);
        EXPECT_EQ(outcome->error->domain, QStringLiteral("QMNetErrorDomain"));
        EXPECT_EQ(outcome->error->code, -1011);
        EXPECT_EQ(outcome->error->localizedDescription,
                  QStringLiteral("Expected status code in (200-299), got %1").arg(status));
        const auto response =
            outcome->error->userInfo.value(QString::fromLatin1(kFailingURLResponseErrorKey));
        EXPECT_EQ(response.value<HTTPResponse>().statusCode, status);
        EXPECT_EQ(outcome->error->userInfo.value(QStringLiteral("NSLocalizedRecoverySuggestion")).toString(),
                  QStringLiteral("body of %1").arg(status));
    }
}

TEST(HTTPOperation, ContentTypeIsJudgedOnlyWithABody) {
    StatusServer server;
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

// A download of a resource that trickles out (200 KiB, 1 KiB every 10 ms, then "rest"), under way.
class SlowDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.route("GET", "/slow", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("ETag", "\"v1\"");
            // A request with Range gets its slice from the server library.
            std::string resource(200 * 1024, 'a');
            resource.append("rest");
            res.set_content(resource, "application/octet-stream");
        });
        server.setFault(qm::test::Fault::trickle(10ms, 1024).times(1));
    }
    void startAndWaitForBytes() {
        op->setDownloadProgressBlock([this](qint64, qint64 total, qint64) { received = total; });
        op->start();
        ASSERT_TRUE(waitUntil([&] { return received > 0; }));
    }

    TestServer server;
    std::shared_ptr<HTTPRequestOperation> op =
        HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/slow"))));
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
    EXPECT_EQ(outcome->error->userInfo.value(QStringLiteral("NSErrorFailingURLKey")).toUrl(),
              server.url(QStringLiteral("/slow")));
    EXPECT_TRUE(op->isFinished());
}

TEST_F(SlowDownloadTest, PauseAndResumeAskForTheRest) {
    startAndWaitForBytes();
    op->pause();
    EXPECT_TRUE(op->isPaused());
    op->start(); // only resume leaves the paused state
    EXPECT_TRUE(op->isPaused());
    QThread::msleep(50);
    op->resume();
    ASSERT_TRUE(outcome->wait()) << op->state();
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    const auto seen = server.log().all();
    ASSERT_EQ(seen.size(), 2u);
    const std::string range = seen[1].header("Range");
    EXPECT_EQ(seen[1].header("If-Range"), "\"v1\"");
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
    TestServer server;
    server.route("POST", "/upload", [&](const httplib::Request& req, httplib::Response& res) {
        receivedHash =
            QCryptographicHash::hash(QByteArray::fromStdString(req.body), QCryptographicHash::Sha256);
        received = true;
        res.status = 201;
    });

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

    TestServer server(TestServer::Tls{cert, key});
    ASSERT_TRUE(server.isValid());
    server.route("GET", "/secure", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });

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
    TestServer server;
    server.route("GET", "/private", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") != "Basic dXNlcjpwYXNz") { // user:pass
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
            return;
        }
        res.set_content("secret", "text/plain");
    });
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
    StatusServer server;
    QThread worker;
    worker.start();
    QObject context;
    context.moveToThread(&worker);
    auto op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/status/200"))));
    op->setSuccessCallbackContext(&context);
    std::atomic<QThread*> ranOn{nullptr};
    op->setCompletionBlockWithSuccess(
        [&](HTTPRequestOperation&, const QVariant&) { ranOn = QThread::currentThread(); }, nullptr);
    op->start();
    EXPECT_TRUE(waitUntil([&] { return ranOn != nullptr; }));
    EXPECT_EQ(ranOn.load(), &worker);
    worker.quit();
    worker.wait();
}

namespace {

std::string md5(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
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
void digestRoutes(TestServer& server, std::atomic<int>* accepted) {
    const auto handler = [=](const httplib::Request& req, httplib::Response& res) {
        static const std::string realm = "quill realm", nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
        const std::string header = req.get_header_value("Authorization");
        if (header.starts_with("Digest ")) {
            auto p = digestParameters(header);
            const std::string ha1 = md5(p["username"] + ":" + realm + ":moor-secret");
            const std::string ha2 = md5(req.method + ":" + p["uri"]);
            const std::string expected =
                md5(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + p["qop"] + ":" + ha2);
            if (p["username"] == "quill" && p["realm"] == realm && p["nonce"] == nonce &&
                p["qop"] == "auth" && p["uri"] == req.target && !p["cnonce"].empty() &&
                p["response"] == expected) {
                ++*accepted;
                res.set_content("digest ok " + std::to_string(req.body.size()), "text/plain");
                return;
            }
        }
        res.status = 401;
        res.set_header("WWW-Authenticate", "Digest realm=\"" + realm + "\", nonce=\"" + nonce +
                                               "\", qop=\"auth\", algorithm=MD5");
    };
    server.route("GET", "/digest", handler);
    server.route("PUT", "/digest", handler);
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

} // namespace

TEST(HTTPOperationDigest, RightPasswordPassesTheFullCheckWrongOneEndsIn401) {
    std::atomic<int> accepted{0};
    TestServer server;
    digestRoutes(server, &accepted);

    auto right = operationFor(server.url(QStringLiteral("/digest?folder=ab&x=1")));
    right->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("moor-secret")});
    const auto passed = run(right);
    ASSERT_EQ(passed->successes, 1) << passed->error->localizedDescription.toStdString();
    EXPECT_EQ(passed->object.toByteArray(), "digest ok 0");
    EXPECT_EQ(accepted, 1);
    const auto seen = server.log().all();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].header("Authorization"), ""); // the credential answers the challenge only

    auto wrong = operationFor(server.url(QStringLiteral("/digest")));
    wrong->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("not-it")});
    const auto failed = run(wrong);
    ASSERT_EQ(failed->failures, 1);
    EXPECT_EQ(failed->error->code, kNetErrorBadServerResponse);
    EXPECT_EQ(failed->failingStatus(), 401);
    EXPECT_EQ(accepted, 1);
    EXPECT_TRUE(server.log().all().back().header("Authorization").starts_with("Digest "));
}

TEST(HTTPOperationDigest, StreamedBodyIsSentAgainAfterTheChallenge) {
    std::atomic<int> accepted{0};
    TestServer server;
    digestRoutes(server, &accepted);
    auto stream = std::make_shared<QBuffer>();
    stream->setData(QByteArray(300 * 1024, 'd') + "tail");
    MultipartFormData form;
    form.appendPartWithFormData("value", "field");
    form.appendPartWithInputStream(stream, "file", "d.bin", quint64(stream->data().size()),
                                   "application/x-d");
    const QByteArray body = bodyOf(form);

    auto op = multipartOperation(server.url(QStringLiteral("/digest")), "PUT", form);
    op->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("moor-secret")});
    const auto outcome = run(op);
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    EXPECT_EQ(accepted, 1);
    const auto seen = server.log().all();
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(QByteArray::fromStdString(seen.back().body) == body);
}

TEST(HTTPOperationCookies, SentBackOnlyWhereTheyBelong) {
    TestServer server;
    server.route("GET", "/app/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "qm_session=s1; Path=/app; HttpOnly");
        res.set_content("in", "text/plain");
    });
    server.route("GET", "/app/logout", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "qm_session=; Path=/app; Max-Age=0");
        res.set_content("out", "text/plain");
    });
    server.route("GET", R"(/(app|other)/check)", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("checked", "text/plain");
    });
    const auto onHost = [&](const QString& host, const QString& path) {
        QUrl url = server.url(path);
        url.setHost(host);
        return url;
    };
    const QString ip = QStringLiteral("127.0.0.1"), name = QStringLiteral("localhost");
    for (const auto& [host, path] :
         std::vector<std::pair<QString, QString>>{{ip, QStringLiteral("/app/login")},
                                                  {ip, QStringLiteral("/app/check")},
                                                  {ip, QStringLiteral("/other/check")},
                                                  {name, QStringLiteral("/app/check")},
                                                  {ip, QStringLiteral("/app/logout")},
                                                  {ip, QStringLiteral("/app/check")}})
        ASSERT_EQ(run(operationFor(onHost(host, path)))->successes, 1) << path.toStdString();
    const auto seen = server.log().all();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].header("Cookie"), "");
    EXPECT_EQ(seen[1].header("Cookie"), "qm_session=s1");
    EXPECT_EQ(seen[2].header("Cookie"), ""); // another path
    EXPECT_EQ(seen[3].header("Cookie"), ""); // another host
    EXPECT_EQ(seen[5].header("Cookie"), ""); // expired by the server
}

TEST(HTTPOperationRedirect, FollowedToTheFinalAnswerAndURL) {
    TestServer server;
    server.route("GET", "/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/final?from=moved", 302);
    });
    server.route("POST", "/form", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/final?from=form", 303);
    });
    server.route("GET", "/final", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_content("final " + req.get_param_value("from"), "text/plain");
    });

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
    const auto seen = server.log().all();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].method, "POST");
    EXPECT_EQ(seen[2].body, "a=1&b=2");
    EXPECT_EQ(seen[3].method, "GET");
    EXPECT_EQ(seen[3].body, "");
    EXPECT_EQ(seen[3].header("Content-Length"), "");
}

// A PUT to /put is sent on to /stored with 307, which keeps the method and wants the body again.
void temporaryRedirectRoutes(TestServer& server) {
    server.route("PUT", "/put",
                 [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/stored", 307); });
    server.route("PUT", "/stored", [](const httplib::Request&, httplib::Response& res) { res.status = 201; });
}

TEST(HTTPOperationRedirect, A307SendsTheStreamedBodyAgainWhole) {
    TestServer server;
    temporaryRedirectRoutes(server);
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
    const auto seen = server.log().all();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].method, "PUT");
    EXPECT_EQ(seen[1].path, "/stored");
    EXPECT_TRUE(QByteArray::fromStdString(seen[0].body) == body);
    EXPECT_TRUE(QByteArray::fromStdString(seen[1].body) == body);
}

TEST(HTTPOperationRedirect, BodyThatCannotStartOverFailsInsteadOfGoingShort) {
    TestServer server;
    temporaryRedirectRoutes(server);
    MultipartFormData form;
    form.appendPartWithInputStream(std::make_shared<qm::test::SequentialStream>(QByteArray(4096, 'p')),
                                   "pipe", "p.bin", 4096, "a/b");
    const auto outcome = run(multipartOperation(server.url(QStringLiteral("/put")), "PUT", form));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->code, kURLErrorRequestBodyStreamExhausted);
    EXPECT_TRUE(outcome->error->localizedDescription.endsWith(
        QStringLiteral("The stream of a part cannot be read a second time.")))
        << outcome->error->localizedDescription.toStdString();
    for (const LoggedRequest& seen : server.log().all())
        EXPECT_NE(seen.path, "/stored");
}

TEST(HTTPOperationRedirect, LoopEndsInTooManyRedirects) {
    std::atomic<int> hops{0};
    TestServer server;
    server.route("GET", R"(/loop/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
        ++hops;
        res.set_redirect("/loop/" + std::to_string((std::stoi(req.matches[1]) + 1) % 2), 302);
    });
    const auto outcome = run(operationFor(server.url(QStringLiteral("/loop/0"))));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->code, kURLErrorHTTPTooManyRedirects);
    EXPECT_GT(hops, 1);
    EXPECT_LT(hops, 100);
}

TEST(HTTPOperationBody, FailingStreamFailsTheRequestWithItsError) {
    std::atomic<int> completed{0};
    TestServer server;
    server.route("POST", "/upload", [&](const httplib::Request&, httplib::Response& res) {
        ++completed;
        res.status = 201;
    });
    MultipartFormData form;
    form.appendPartWithFormData("x", "before");
    form.appendPartWithInputStream(
        std::make_shared<qm::test::SequentialStream>(QByteArray(256 * 1024, 'f'), 100000,
                                                     QStringLiteral("source went away")),
        "file", "f.bin", 256 * 1024, "a/b");
    const auto outcome = run(multipartOperation(server.url(QStringLiteral("/upload")), "POST", form));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(outcome->error->localizedDescription, QStringLiteral("source went away"));
    EXPECT_EQ(completed, 0);
}

TEST(HTTPOperationBody, ResumedUploadSendsTheWholeBodyAgain) {
    TestServer server;
    server.route("PUT", "/stored", [](const httplib::Request&, httplib::Response& res) { res.status = 201; });
    auto stream = std::make_shared<QBuffer>();
    stream->setData(QByteArray(200 * 1024, 'r') + "end");
    MultipartFormData form;
    form.appendPartWithInputStream(stream, "file", "r.bin", quint64(stream->data().size()), "a/b");
    const QByteArray body = bodyOf(form);
    form.throttleBandwidth(4096, std::chrono::milliseconds(5)); // long enough to pause half-way

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
    const auto seen = server.log().all();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(QByteArray::fromStdString(seen[0].body) == body);
}

// The request timeout bounds idle time: a stall past it fails, a slow trickle that never idles that long
// does not, however long the whole answer takes.
TEST(HTTPOperationFaults, IdleTimeoutStallDropAndExpiredToken) {
    TestServer server;
    server.route("GET", "/data", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(64, 'd'), "application/octet-stream");
    });
    HTTPRequest request(server.url("/data"));
    request.timeout = 1s;

    server.setFault(qm::test::Fault::stall(10s).times(1));
    QElapsedTimer clock;
    clock.start();
    auto stalled = run(HTTPRequestOperation::create(request), 8000);
    ASSERT_EQ(stalled->failures, 1);
    EXPECT_EQ(stalled->error->code, kURLErrorTimedOut);
    EXPECT_TRUE(stalled->error->localizedDescription.startsWith("The server did not answer in time. ("));
    EXPECT_LT(clock.elapsed(), 5000);

    server.setFault(qm::test::Fault::trickle(400ms, 8).times(1)); // 8 chunks: about 2.8 s in all
    auto trickled = run(HTTPRequestOperation::create(request), 8000);
    ASSERT_EQ(trickled->successes, 1) << trickled->error->localizedDescription.toStdString();
    EXPECT_EQ(trickled->object.toByteArray(), QByteArray(64, 'd'));

    server.setFault(qm::test::Fault::dropMidBody().times(1));
    auto dropped = run(HTTPRequestOperation::create(request));
    ASSERT_EQ(dropped->failures, 1);
    EXPECT_EQ(dropped->error->code, kURLErrorNetworkConnectionLost);
    EXPECT_TRUE(dropped->error->localizedDescription.startsWith("The connection to the server was lost. ("));

    server.setFault(qm::test::Fault::expiredToken().times(1));
    auto expired = run(HTTPRequestOperation::create(request));
    ASSERT_EQ(expired->failures, 1);
    EXPECT_EQ(expired->failingStatus(), 401);
    EXPECT_EQ(server.log().size(), 4u);
}

TEST(HTTPOperationStartHook, ChangesTheRequestJustBeforeEachStart) {
    TestServer server;
    server.route("GET", "/signed", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });
    auto op = HTTPRequestOperation::create(HTTPRequest(server.url("/signed")));
    int starts = 0;
    op->setStartHook([&](HTTPRequest& request) {
        EXPECT_TRUE(qm::platform::dispatch::isMainThread());
        request.setHeader("Authorization", "sig " + QByteArray::number(++starts));
    });
    EXPECT_EQ(starts, 0);
    ASSERT_EQ(run(op)->successes, 1);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(server.log().last().header("Authorization"), "sig 1");
    EXPECT_EQ(op->request().header("Authorization"), "sig 1");
}

// A storage host sends the client on to an API host (another host and port) that asks for Digest.
TEST(HTTPOperationDigest, CredentialAnswersOnTheHostARedirectLandsOn) {
    TestServer api;
    std::atomic<int> accepted{0};
    digestRoutes(api, &accepted);
    TestServer storage;
    const std::string target = api.url("/digest", "localhost").toString().toStdString();
    storage.route("GET", "/upload", [target](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(target, 303);
    });

    auto op = operationFor(storage.url("/upload"));
    op->setCredential(Credential{QStringLiteral("quill"), QStringLiteral("moor-secret")});
    const auto outcome = run(op);
    ASSERT_EQ(outcome->successes, 1) << outcome->error->localizedDescription.toStdString();
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(op->response()->url.host(), "localhost");
    EXPECT_FALSE(storage.log().last().hasHeader("Authorization")); // not offered before a challenge
}

TEST(HTTPOperationCookies, ClearingOneBaseURLLeavesTheOthers) {
    TestServer server;
    server.route("GET", "/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "qm_root=r; Path=/");
        res.set_content("in", "text/plain");
    });
    server.route("GET", "/check", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("checked", "text/plain");
    });
    const auto cookieOn = [&](const QString& host) {
        EXPECT_EQ(run(operationFor(server.url("/check", host)))->successes, 1);
        return server.log().last().header("Cookie");
    };
    for (const QString host : {"127.0.0.1", "localhost"})
        ASSERT_EQ(run(operationFor(server.url("/login", host)))->successes, 1);
    ASSERT_EQ(cookieOn("localhost"), "qm_root=r");

    NetworkThread::instance().clearCookies(server.url({}, "localhost"));
    EXPECT_EQ(cookieOn("localhost"), "");
    EXPECT_EQ(cookieOn("127.0.0.1"), "qm_root=r");
    NetworkThread::instance().clearCookies(server.url({}, "127.0.0.1"));
}

namespace {

// Tells how much of its range was asked for at once.
class WatchedRange : public FileRangeDevice {
public:
    using FileRangeDevice::FileRangeDevice;
    qint64 largestRead = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 got = FileRangeDevice::readData(data, maxSize);
        largestRead = std::max(largestRead, got);
        return got;
    }
};

} // namespace

// A chunk of a file as the whole body, and the rest of it after a metadata part in a multipart/related
// body: both reach the server exactly and are read window by window, never whole.
TEST(HTTPOperationBody, FileRangeAndMultipartRelatedStreamWindowByWindow) {
    constexpr qint64 MiB = 1024 * 1024;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    QByteArray bytes(4 * MiB, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7 + i / 4099) & 0xff);
    qm::test::writeFile(path, bytes);
    TestServer server;
    server.routeAll("/.*", [](const httplib::Request&, httplib::Response& res) { res.status = 201; });

    auto chunk = std::make_shared<WatchedRange>(path, MiB, 2 * MiB + 5);
    HTTPRequest put(server.url("/chunk"), "PUT");
    put.bodyDevice = chunk;
    ASSERT_EQ(run(HTTPRequestOperation::create(put))->successes, 1);
    EXPECT_TRUE(QByteArray::fromStdString(server.log().last().body) == bytes.mid(MiB, 2 * MiB + 5));
    EXPECT_GT(chunk->largestRead, 0);
    EXPECT_LE(chunk->largestRead, 512 * 1024);

    MultipartFormData related;
    related.setMediaType(QStringLiteral("multipart/related"));
    related.appendPartWithHeaders({{QStringLiteral("Content-Type"), QStringLiteral("application/json")}},
                                  R"({"name":"big.bin"})");
    auto rest = std::make_shared<WatchedRange>(path, 3 * MiB, MiB);
    related.appendPartWithHeaders(
        {{QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream")}}, rest, MiB);
    HTTPRequest post(server.url("/related"), "POST");
    post.setHeader("Content-Type", related.contentType().toUtf8());
    post.bodyDevice = related.createBodyDevice();
    ASSERT_EQ(run(HTTPRequestOperation::create(post))->successes, 1);
    EXPECT_LE(rest->largestRead, 512 * 1024);
    const LoggedRequest seen = server.log().last();
    EXPECT_TRUE(seen.header("Content-Type").starts_with("multipart/related; boundary=Boundary+"));
    const QByteArray body = bodyOf(related);
    EXPECT_TRUE(body.endsWith(bytes.right(MiB) + "\r\n--" + related.boundary().toUtf8() + "--\r\n"));
    EXPECT_TRUE(QByteArray::fromStdString(seen.body) == body);

    FileRangeDevice pastTheEnd(path, 4 * MiB - 10, 100);
    ASSERT_TRUE(pastTheEnd.open(QIODevice::ReadOnly));
    char buffer[100];
    EXPECT_EQ(pastTheEnd.read(buffer, 100), 10);
    EXPECT_EQ(pastTheEnd.read(buffer, 100), -1);
    EXPECT_FALSE(pastTheEnd.errorString().isEmpty());
}
