#include "support/stream_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test {

namespace {

constexpr int kPollMs = 100;
constexpr int kIdleLimitMs = 10000;
constexpr size_t kHeadLimit = 64 * 1024;
constexpr size_t kChunkedCut = 64 * 1024; // where a cut falls in a body of unknown length

// What is there, waiting at most the idle limit; <= 0 at the end, on failure or when stopping.
ssize_t receiveSome(int socket, char* buffer, size_t size, const std::atomic<bool>& stop) {
    for (int waited = 0; waited < kIdleLimitMs && !stop; waited += kPollMs) {
        pollfd poller{socket, POLLIN, 0};
        if (::poll(&poller, 1, kPollMs) > 0)
            return ::recv(socket, buffer, size, 0);
    }
    return -1;
}

bool sendAll(int socket, const char* bytes, size_t size) {
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(socket, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

bool sendAll(int socket, const std::string& bytes) {
    return sendAll(socket, bytes.data(), bytes.size());
}

std::string trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

const char* reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 207:
        return "Multi-Status";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 423:
        return "Locked";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 507:
        return "Insufficient Storage";
    default:
        return "Status";
    }
}

} // namespace

std::string StreamRequest::header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

bool BodyReader::fill() {
    char buffer[64 * 1024];
    const ssize_t n = receiveSome(socket_, buffer, sizeof buffer, *stop_);
    if (n <= 0)
        return false;
    pending_.append(buffer, size_t(n));
    return true;
}

size_t BodyReader::take(char* buffer, size_t size) {
    if (pending_.empty()) {
        // Straight into the caller's buffer: the bulk of a large body is copied once.
        const ssize_t n = receiveSome(socket_, buffer, size, *stop_);
        if (n <= 0) {
            failed_ = true;
            return 0;
        }
        return size_t(n);
    }
    const size_t n = std::min(size, pending_.size());
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(0, n);
    return n;
}

size_t BodyReader::readChunked(char* buffer, size_t size) {
    if (!chunkOpen_) {
        size_t lineEnd;
        while ((lineEnd = pending_.find("\r\n")) == std::string::npos)
            if (pending_.size() > kHeadLimit || !fill())
                return failed_ = true, 0;
        char* end = nullptr;
        const std::string sizeText = pending_.substr(0, lineEnd);
        length_ = std::strtoull(sizeText.c_str(), &end, 16);
        if (end == sizeText.c_str())
            return failed_ = true, 0;
        pending_.erase(0, lineEnd + 2);
        if (length_ == 0) {
            // Trailers, up to the empty line.
            while ((lineEnd = pending_.find("\r\n")) != 0) {
                if (lineEnd != std::string::npos)
                    pending_.erase(0, lineEnd + 2);
                else if (pending_.size() > kHeadLimit || !fill())
                    return failed_ = true, 0;
            }
            done_ = true;
            return 0;
        }
        chunkOpen_ = true;
    }
    const size_t n = take(buffer, std::min(size, length_));
    length_ -= n;
    if (n > 0 && length_ == 0) {
        while (pending_.size() < 2)
            if (!fill())
                return failed_ = true, 0;
        if (pending_.compare(0, 2, "\r\n") != 0)
            return failed_ = true, 0;
        pending_.erase(0, 2);
        chunkOpen_ = false;
    }
    return n;
}

size_t BodyReader::read(char* buffer, size_t size) {
    if (done_ || failed_ || size == 0)
        return 0;
    if (continueDue_) {
        continueDue_ = false;
        if (!sendAll(socket_, "HTTP/1.1 100 Continue\r\n\r\n"))
            return failed_ = true, 0;
    }
    if (cutAt_ > 0) {
        if (received_ >= cutAt_)
            return failed_ = true, 0;
        size = std::min(size, cutAt_ - received_);
    }
    size_t n = 0;
    if (framing_ == Framing::Chunked) {
        n = readChunked(buffer, size);
    } else if (framing_ == Framing::Length) {
        n = take(buffer, std::min(size, length_));
        length_ -= n;
        done_ = length_ == 0;
    } else {
        done_ = true;
    }
    received_ += n;
    if (received_ < kLoggedBodyLimit)
        kept_.append(buffer, n);
    else
        kept_.clear();
    return n;
}

StreamServer::StreamServer(Handler handler, int port)
    : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

StreamServer::~StreamServer() {
    {
        std::lock_guard guard(mutex_);
        stop_ = true;
    }
    stopping_.notify_all();
    if (thread_.joinable())
        thread_.join();
    ::close(listener_);
}

QUrl StreamServer::url(const QString& path, const QString& host) const {
    return QUrl(QStringLiteral("http://%1:%2%3").arg(host).arg(port_).arg(path));
}

void StreamServer::setFault(Fault fault) {
    std::lock_guard guard(mutex_);
    faults_.push_back(std::move(fault));
}

void StreamServer::clearFaults() {
    std::lock_guard guard(mutex_);
    faults_.clear();
    bodyDrops_.clear();
}

void StreamServer::dropRequestBody(std::string pathPrefix, int count) {
    std::lock_guard guard(mutex_);
    bodyDrops_.emplace_back(std::move(pathPrefix), count);
}

std::optional<Fault> StreamServer::takeFault(const std::string& path) {
    std::lock_guard guard(mutex_);
    return qm::test::takeFault(faults_, path);
}

bool StreamServer::takeBodyDrop(const std::string& path) {
    std::lock_guard guard(mutex_);
    for (auto it = bodyDrops_.begin(); it != bodyDrops_.end(); ++it)
        if (path.starts_with(it->first)) {
            if (--it->second == 0)
                bodyDrops_.erase(it);
            return true;
        }
    return false;
}

bool StreamServer::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopping_.wait_for(lock, duration, [this] { return stop_.load(); });
}

void StreamServer::serve() {
    while (!stop_) {
        pollfd poller{listener_, POLLIN, 0};
        if (::poll(&poller, 1, kPollMs) <= 0)
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        handle(connection);
        ::close(connection);
    }
}

void StreamServer::handle(int connection) {
    BodyReader body;
    body.socket_ = connection;
    body.stop_ = &stop_;
    size_t headEnd;
    while ((headEnd = body.pending_.find("\r\n\r\n")) == std::string::npos)
        if (body.pending_.size() > kHeadLimit || !body.fill())
            return;
    const std::string head = body.pending_.substr(0, headEnd);
    body.pending_.erase(0, headEnd + 4);

    StreamRequest request;
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.rfind(' ');
    if (space1 == std::string::npos || space2 <= space1 ||
        requestLine.compare(space2 + 1, std::string::npos, "HTTP/1.1") != 0) {
        answer(connection, request, {400, {}, "malformed request line"}, nullptr);
        return;
    }
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    const size_t question = request.target.find('?');
    request.path = httplib::detail::decode_url(request.target.substr(0, question), false);
    if (question != std::string::npos)
        request.query = request.target.substr(question + 1);
    while (lineEnd != std::string::npos && lineEnd < head.size()) {
        const size_t next = head.find("\r\n", lineEnd + 2);
        const std::string line = head.substr(lineEnd + 2, next - lineEnd - 2);
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            answer(connection, request, {400, {}, "malformed header line"}, nullptr);
            return;
        }
        request.headers.emplace(line.substr(0, colon), trimmed(line.substr(colon + 1)));
        lineEnd = next;
    }

    const std::string length = request.header("Content-Length");
    if (lower(request.header("Transfer-Encoding")).find("chunked") != std::string::npos) {
        body.framing_ = BodyReader::Framing::Chunked;
    } else if (!length.empty()) {
        char* end = nullptr;
        body.length_ = std::strtoull(length.c_str(), &end, 10);
        if (*end != '\0') {
            answer(connection, request, {400, {}, "malformed Content-Length"}, nullptr);
            return;
        }
        body.framing_ = body.length_ > 0 ? BodyReader::Framing::Length : BodyReader::Framing::None;
    }
    const bool hasBody = body.framing_ != BodyReader::Framing::None;
    body.done_ = !hasBody;
    body.continueDue_ = hasBody && lower(request.header("Expect")) == "100-continue";
    if (hasBody && takeBodyDrop(request.path))
        body.cutAt_ = body.framing_ == BodyReader::Framing::Length ? std::max<size_t>(1, body.length_ / 2)
                                                                   : kChunkedCut;

    const std::optional<Fault> fault = takeFault(request.path);
    StreamAnswer reply;
    using Kind = Fault::Kind;
    if (fault && fault->kind == Kind::Status) {
        reply.status = fault->code;
        reply.set("Content-Type", "text/plain");
        reply.body = "status " + std::to_string(fault->code);
    } else if (fault && fault->kind == Kind::ExpiredToken) {
        reply.status = 401;
        reply.set("WWW-Authenticate", "Bearer realm=\"test\", error=\"invalid_token\"");
        reply.set("Content-Type", "application/json");
        reply.body = R"({"error":"invalid_token"})";
    } else {
        if (fault && fault->kind == Kind::Stall && !pause(fault->interval))
            return;
        reply = handler_(request, body);
    }
    // A body refused before its first byte was asked for is never sent; any other is read to its end,
    // so the client sees the answer rather than a reset connection.
    if (!body.continueDue_) {
        char scratch[64 * 1024];
        while (body.read(scratch, sizeof scratch) > 0) {
        }
    }
    LoggedRequest logged{request.method,
                         request.path,
                         request.target,
                         body.received_ < kLoggedBodyLimit ? body.kept_ : std::string(),
                         body.received_,
                         request.headers,
                         {},
                         {}};
    httplib::detail::parse_query_text(request.query, logged.params);
    log_.add(std::move(logged));
    if (body.failed_)
        return; // closed without an answer
    answer(connection, request, std::move(reply), fault ? &*fault : nullptr);
}

void StreamServer::answer(int connection, const StreamRequest& request, StreamAnswer reply,
                          const Fault* fault) {
    using Kind = Fault::Kind;
    const Kind kind = fault ? fault->kind : Kind::Status;
    if (fault && kind == Kind::MalformedBody)
        reply.body = reply.body.substr(0, reply.body.size() / 2) + "<{";
    if (fault && (kind == Kind::DropMidBody || kind == Kind::Trickle) && reply.body.empty())
        reply.body.assign(4096, 'x');
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
    for (const auto& [name, value] : reply.headers)
        if (lower(name) != "content-length" && lower(name) != "connection")
            head += name + ": " + value + "\r\n";
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!sendAll(connection, head) || request.method == "HEAD")
        return;
    if (fault && kind == Kind::DropMidBody) {
        sendAll(connection, reply.body.data(), reply.body.size() / 2);
        return; // closed with the rest unsent
    }
    if (fault && kind == Kind::Trickle) {
        const size_t chunk = std::max<size_t>(1, fault->chunk);
        for (size_t offset = 0; offset < reply.body.size(); offset += chunk) {
            if ((offset > 0 && !pause(fault->interval)) ||
                !sendAll(connection, reply.body.data() + offset, std::min(chunk, reply.body.size() - offset)))
                return;
        }
        return;
    }
    sendAll(connection, reply.body);
    ::shutdown(connection, SHUT_WR);
}

} // namespace qm::test
