// Accepts PUT and POST bodies of any size, counts and drops them, answers 201 with the count.
// Usage: http_sink PORT
// Bodies go through a content receiver so nothing is buffered: the sink's memory stays flat and
// does not blur what is measured on the client side.

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    httplib::Server server;
    server.set_payload_max_length(~size_t(0));
    server.set_read_timeout(120, 0);
    const auto sink = [](const httplib::Request& request, httplib::Response& response,
                         const httplib::ContentReader& reader) {
        unsigned long long bytes = 0;
        const auto count = [&](const char*, size_t length) {
            bytes += length;
            return true;
        };
        // The library only hands a multipart body out part by part; the count is then the part contents.
        if (request.is_multipart_form_data())
            reader([](const httplib::MultipartFormData&) { return true; }, count);
        else
            reader(count);
        response.status = 201;
        response.set_content(std::to_string(bytes) + "\n", "text/plain");
    };
    server.Put(R"(/.*)", sink);
    server.Post(R"(/.*)", sink);
    if (!server.listen("127.0.0.1", std::atoi(argv[1]))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%s\n", argv[1]);
        return 1;
    }
}
