#pragma once

// A small HTTP/1.1 server for the fakes the kit's server cannot play: it takes any method (WebDAV's MKCOL,
// PROPFIND, MOVE), any Content-Type, Content-Length and chunked bodies, and hands a body to its handler as
// it arrives, so uploads of gigabytes pass with flat memory.
//
//     StreamServer server([](const StreamRequest& request, BodyReader& body) {
//         char buffer[65536];
//         while (const size_t n = body.read(buffer, sizeof buffer))
//             consume(buffer, n);
//         return body.failed() ? StreamAnswer{} : StreamAnswer{201};
//     });
//
// One connection at a time and one request per connection. Every request goes into the kit's request log
// (bodies below kLoggedBodyLimit kept whole) before it is answered. The kit's faults apply as there: a
// status or an expired token answers without the handler; a stall waits before it; a malformed body, a
// drop half-way through the answer's body and a trickle change what the handler answered. One fault only
// a streaming server plays: dropRequestBody() closes the connection half-way through a request's body.
//
// A handler that answers without reading a body sent with "Expect: 100-continue" refuses it as a real
// server does: the client never sends it. After a failed read the handler's answer is not sent, and it
// should keep nothing of that request.

#include "support/test_server.h"

#include <QString>
#include <QUrl>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct StreamRequest {
    std::string method, target;
    std::string path; // the target up to "?", percent-decoded
    std::string query;
    httplib::Headers headers;

    std::string header(const std::string& name) const; // empty when absent
};

// The body of the request being answered, pulled from the connection and de-chunked.
class BodyReader {
public:
    // Up to `size` bytes; 0 at the end of the body, and after a failure.
    size_t read(char* buffer, size_t size);
    // The connection broke, stalled past the idle limit or was cut on purpose before the body ended.
    bool failed() const { return failed_; }
    size_t received() const { return received_; }

private:
    friend class StreamServer;
    enum class Framing { None, Length, Chunked };

    bool fill(); // reads more from the connection into pending_
    size_t readChunked(char* buffer, size_t size);
    size_t take(char* buffer, size_t size);

    int socket_ = -1;
    const std::atomic<bool>* stop_ = nullptr;
    Framing framing_ = Framing::None;
    size_t length_ = 0;      // Content-Length, or the bytes left in the current chunk
    bool chunkOpen_ = false; // inside a chunk's data
    bool done_ = false;
    bool failed_ = false;
    bool continueDue_ = false; // "100 Continue" is owed before the first read
    size_t cutAt_ = 0;         // with a cut planned, where it falls; 0: none
    size_t received_ = 0;
    std::string pending_; // bytes read from the connection and not yet taken
    std::string kept_;    // the body while it is below kLoggedBodyLimit, for the log
};

struct StreamAnswer {
    int status = 200;
    httplib::Headers headers;
    std::string body;

    StreamAnswer& set(const std::string& name, const std::string& value) {
        headers.emplace(name, value);
        return *this;
    }
};

class StreamServer {
public:
    using Handler = std::function<StreamAnswer(const StreamRequest&, BodyReader&)>;

    // Listens on 127.0.0.1 at `port`, or at a free port for 0; isValid() says whether it could.
    explicit StreamServer(Handler handler, int port = 0);
    ~StreamServer();
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    int port() const { return port_; }
    bool isValid() const { return port_ > 0; }
    QUrl url(const QString& path = {}, const QString& host = QStringLiteral("127.0.0.1")) const;
    RequestLog& log() { return log_; }

    void setFault(Fault fault);
    void clearFaults();
    // The next `count` requests with a body on paths beginning with `pathPrefix` are cut half-way
    // through it, without an answer.
    void dropRequestBody(std::string pathPrefix = {}, int count = 1);

private:
    void serve();
    void handle(int connection);
    std::optional<Fault> takeFault(const std::string& path);
    bool takeBodyDrop(const std::string& path);
    void answer(int connection, const StreamRequest& request, StreamAnswer reply, const Fault* fault);
    bool pause(std::chrono::milliseconds duration);

    Handler handler_;
    int listener_ = -1;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    RequestLog log_;
    std::mutex mutex_;
    std::condition_variable stopping_;
    std::vector<Fault> faults_;
    std::vector<std::pair<std::string, int>> bodyDrops_;
};

} // namespace qm::test
