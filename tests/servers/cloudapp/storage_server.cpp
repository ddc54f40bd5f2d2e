#include "storage_server.h"

#include "support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test {

namespace {

constexpr int kPollMs = 100;
constexpr int kIdleLimitMs = 10000;
constexpr size_t kHeadKept = 64 * 1024;

// Reads what is there (waiting at most the idle limit); 0 at the end, -1 on failure or when stopping.
ssize_t readSome(int socket, char* buffer, size_t size, const std::atomic<bool>& stop) {
    for (int waited = 0; waited < kIdleLimitMs && !stop; waited += kPollMs) {
        pollfd poller{socket, POLLIN, 0};
        if (::poll(&poller, 1, kPollMs) > 0)
            return ::recv(socket, buffer, size, 0);
    }
    return -1;
}

void sendAll(int socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// name="…" of a Content-Disposition line.
std::string quoted(const std::string& line, const std::string& name) {
    const size_t at = line.find(name + "=\"");
    if (at == std::string::npos)
        return {};
    const size_t begin = at + name.size() + 2;
    return line.substr(begin, line.find('"', begin) - begin);
}

// Splits the kept head of the body into its text fields and the file part's header; the offset of the
// file's first byte, or npos when the head does not hold it.
size_t parseHead(const std::string& head, const std::string& boundary, StorageServer::Upload& upload) {
    const std::string delimiter = "--" + boundary + "\r\n";
    if (head.compare(0, delimiter.size(), delimiter) != 0)
        return std::string::npos;
    size_t at = delimiter.size();
    while (true) {
        const size_t headerEnd = head.find("\r\n\r\n", at);
        if (headerEnd == std::string::npos)
            return std::string::npos;
        const std::string header = head.substr(at, headerEnd - at);
        const std::string disposition = "Content-Disposition: form-data; ";
        if (header.compare(0, disposition.size(), disposition) != 0)
            return std::string::npos;
        if (header.find("filename=\"") != std::string::npos) {
            upload.fileName = quoted(header, "filename");
            const size_t type = header.find("\r\nContent-Type: ");
            upload.fileType = type == std::string::npos ? std::string() : header.substr(type + 16);
            return quoted(header, "name") == "file" ? headerEnd + 4 : std::string::npos;
        }
        const size_t valueEnd = head.find("\r\n" + delimiter, headerEnd + 4);
        if (valueEnd == std::string::npos)
            return std::string::npos;
        upload.fields.emplace_back(quoted(header, "name"),
                                   head.substr(headerEnd + 4, valueEnd - headerEnd - 4));
        at = valueEnd + 2 + delimiter.size();
    }
}

} // namespace

StorageServer::StorageServer(Handler handler)
    : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

StorageServer::~StorageServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void StorageServer::serve() {
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

void StorageServer::handle(int connection) {
    ++requests_;
    std::string received;
    std::vector<char> buffer(1 << 20);
    size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = readSome(connection, buffer.data(), 64 * 1024, stop_);
        if (n <= 0 || received.size() > kHeadKept)
            return;
        received.append(buffer.data(), size_t(n));
    }
    Upload upload;
    std::string requestLine = received.substr(0, received.find("\r\n"));
    size_t lineStart = requestLine.size() + 2;
    while (lineStart < headEnd) {
        const size_t lineEnd = received.find("\r\n", lineStart);
        const std::string line = received.substr(lineStart, lineEnd - lineStart);
        const size_t colon = line.find(':');
        if (colon != std::string::npos)
            upload.headers[lower(line.substr(0, colon))] = trim(line.substr(colon + 1));
        lineStart = lineEnd + 2;
    }
    const auto reply = [&](const Answer& answer) {
        std::string text =
            "HTTP/1.1 " + std::to_string(answer.status) +
            (answer.status == 303 ? " See Other\r\nLocation: " + answer.location : " Bad Request") +
            "\r\nContent-Type: application/xml\r\nContent-Length: " + std::to_string(answer.body.size()) +
            "\r\nConnection: close\r\n\r\n" + answer.body;
        sendAll(connection, text);
    };
    if (requestLine.rfind("POST ", 0) != 0 || !upload.headers.count("content-length"))
        return reply({400, {}, "<Error><Code>MethodNotAllowed</Code></Error>"});
    if (lower(upload.headers["expect"]) == "100-continue")
        sendAll(connection, "HTTP/1.1 100 Continue\r\n\r\n");

    const size_t total = std::stoull(upload.headers["content-length"]);
    const std::string type = upload.headers["content-type"];
    const size_t boundaryAt = type.find("boundary=");
    const std::string boundary =
        boundaryAt == std::string::npos
            ? std::string()
            : type.substr(boundaryAt + 9, type.find(';', boundaryAt) - boundaryAt - 9);
    const std::string closing = "\r\n--" + boundary + "--\r\n";

    std::string head = received.substr(headEnd + 4);
    std::string tail;
    size_t got = head.size();
    const bool keepAll = total < kLoggedBodyLimit;
    if (!keepAll && head.size() > kHeadKept)
        head.resize(kHeadKept);
    // Dropping: no more than half is read, however much one read could take.
    const size_t until = drop_.exchange(false) ? total / 2 : total;
    while (got < total) {
        if (got >= until)
            return; // closed without an answer
        const ssize_t n = readSome(connection, buffer.data(), std::min(buffer.size(), until - got), stop_);
        if (n <= 0)
            return;
        if (keepAll || head.size() < kHeadKept)
            head.append(buffer.data(), size_t(n));
        tail.append(buffer.data(), size_t(n));
        if (tail.size() > closing.size())
            tail.erase(0, tail.size() - closing.size());
        got += size_t(n);
    }
    if (keepAll)
        tail = head.substr(head.size() - std::min(head.size(), closing.size()));
    const size_t fileStart = boundary.empty() ? std::string::npos : parseHead(head, boundary, upload);
    upload.framed = fileStart != std::string::npos && tail == closing && total >= fileStart + closing.size();
    if (upload.framed) {
        upload.fileSize = total - fileStart - closing.size();
        if (keepAll)
            upload.content = head.substr(fileStart, upload.fileSize);
    }
    reply(handler_(upload));
}

} // namespace qm::test
