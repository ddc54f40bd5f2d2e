#pragma once

// The storage host of the fake CloudApp: takes the multipart POST of an upload and redirects to the API.
// On the kit's streaming server, because the usual embedded servers refuse a form whose Content-Type
// carries parameters after the boundary ("; charset=UTF-8"), as the client's does; it reads bodies as they
// arrive, keeping only their framing (and the whole of small ones), so gigabytes pass through with flat
// memory.

#include "support/stream_server.h"

#include <functional>
#include <map>
#include <string>
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

    StreamServer& server() { return server_; }
    int port() const { return server_.port(); }
    // The next upload's connection is closed half-way through its body, without an answer.
    void dropNext() { server_.dropRequestBody(); }
    int requests() { return int(server_.log().size()); }

private:
    StreamAnswer respond(const StreamRequest& request, BodyReader& body);

    Handler handler_;
    StreamServer server_; // last: it calls the handler until it is gone
};

} // namespace qm::test
