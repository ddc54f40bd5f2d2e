#include <httplib.h>

#include "loopback_server.h"
#include "net/http_request_operation.h"
#include "platform/dispatch.h"
#include "support/test_support.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
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

TEST(HTTPOperation, CancelDuringTransferFailsOnceAndNothingLater) {
    std::atomic<int> requests{0};
    std::vector<httplib::Headers> seen;
    std::mutex seenMutex;
    TestServer server(slowServer(&requests, &seen, &seenMutex));
    auto op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/slow"))));
    std::atomic<qint64> received{0};
    op->setDownloadProgressBlock([&](qint64, qint64 total, qint64) { received = total; });
    auto outcome = watch(*op);
    op->start();
    ASSERT_TRUE(waitUntil([&] { return received > 0; }));
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

TEST(HTTPOperation, PauseAndResumeAskForTheRest) {
    std::atomic<int> requests{0};
    std::vector<httplib::Headers> seen;
    std::mutex seenMutex;
    TestServer server(slowServer(&requests, &seen, &seenMutex));
    auto op = HTTPRequestOperation::create(HTTPRequest(server.url(QStringLiteral("/slow"))));
    std::atomic<qint64> received{0};
    op->setDownloadProgressBlock([&](qint64, qint64 total, qint64) { received = total; });
    auto outcome = watch(*op);
    op->start();
    ASSERT_TRUE(waitUntil([&] { return received > 0; }));
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
    const QString cert = dir.filePath(QStringLiteral("cert.pem")), key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
    ASSERT_TRUE(openssl.waitForFinished(10000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();

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
