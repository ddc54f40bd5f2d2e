#pragma once

// The storage host of the fake CloudApp: takes the multipart POST of an upload and redirects to the API.
// A small socket server of its own, because the usual embedded servers refuse a form whose Content-Type
// carries parameters after the boundary ("; charset=UTF-8"), as the client's does; it also reads bodies
// as they arrive, keeping only their framing (and the whole of small ones), so gigabytes pass through
// with flat memory. One connection at a time, one request per connection.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class StorageServer {
public:
    struct Upload {
        std::map<std::string, std::string> headers;              // lower-case names
        std::vector<std::pair<std::string, std::string>> fields; // in body order, before the file
        std::string fileName, fileType;
        size_t fileSize = 0;
        std::string content; // kept below the log limit
        bool framed = false; // the body started with its boundary and closed with it, the file part last
    };
    struct Answer {
        int status = 303;
        std::string location; // for 303
        std::string body;     // for other statuses
    };
    // Decides the answer to a complete upload; runs on the server's thread.
    using Handler = std::function<Answer(const Upload&)>;

    explicit StorageServer(Handler handler);
    ~StorageServer();

    int port() const { return port_; }
    // The next upload's connection is closed half-way through its body, without an answer.
    void dropNext() { drop_ = true; }
    int requests() const { return requests_; }

private:
    void serve();
    void handle(int connection);

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> drop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

} // namespace qm::test
