#pragma once

// Dropmark's API as the program uses it, on the shared test server: sign-in with e-mail and password,
// collections, items uploaded as multipart/form-data, item removal. Every call but the sign-in wants the
// X-API-Key header and Basic authorisation of user id and token; each answers 401 without them, as
// Dropmark does. Short URLs are served here too, so links can be followed.

#include "support/test_server.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qm::test {

class FakeDropmark {
public:
    struct Collection {
        std::string id, name;
    };
    struct Item {
        std::string id, collection, name, shareable;
        std::string fileName, contentType; // of the "content" part
        size_t size = 0;
        std::string content; // kept below kLoggedBodyLimit bytes
        std::string shortCode;
    };

    static constexpr char kApiKey[] = "0123456789abcdef0123456789abcdef01234567";
    static constexpr char kEmail[] = "ada@example.org";
    static constexpr char kPassword[] = "correct horse";
    static constexpr char kUserId[] = "4711";
    static constexpr char kToken[] = "tok-2f8a9c";

    FakeDropmark();

    TestServer& server() { return server_; }
    QUrl url(const QString& path = {}) const { return server_.url(path); }

    // A collection the account already has.
    std::string addCollection(const std::string& name);
    std::vector<Collection> collections() const;
    std::vector<Item> items() const;
    // Items answer with a thumbnail address, or with a null "thumbnail".
    void setThumbnails(bool on);
    // Which answers leave out a field the client needs: "token", "collection id", "short_url".
    void omit(const std::string& field);

private:
    bool authorised(const httplib::Request& request, httplib::Response& response) const;
    void signIn(const httplib::Request& request, httplib::Response& response);
    void listCollections(const httplib::Request& request, httplib::Response& response);
    void createCollection(const httplib::Request& request, httplib::Response& response);
    void addItem(const httplib::Request& request, httplib::Response& response);
    void removeItem(const httplib::Request& request, httplib::Response& response);
    void follow(const httplib::Request& request, httplib::Response& response);

    mutable std::mutex mutex_;
    std::vector<Collection> collections_;
    std::vector<Item> items_;
    int nextId_ = 100;
    bool thumbnails_ = true;
    std::string omitted_;
    TestServer server_;
};

} // namespace qm::test
