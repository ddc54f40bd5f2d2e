#pragma once

// A CloudApp account on the test server. The API (on 127.0.0.1) asks for HTTP Digest authentication of
// the account's lower-cased e-mail address on every request but the item pages and registration; an
// upload is GET /items/new, whose answer names a storage address on another host ("localhost", a port of its
// own) with the form fields to post, the daily uploads left and the largest upload allowed; the storage takes
// the multipart POST (its fields first, the file last, all as issued) and redirects with 303 to the API's
// /items/s3, which asks for Digest again and answers the new item.
//
//     FakeCloudApp cloud;                         // alice@example.org / s3cret
//     cloud.setUploadsRemaining(0);               // the next upload request says the day's limit is reached
//     cloud.server().setFault(Fault::dropMidBody().onPath("/items/s3"));
//     ... engine with baseURL cloud.apiURL() ...
//     EXPECT_EQ(cloud.items().size(), 1);

#include "servers/cloudapp/storage_server.h"
#include "support/test_server.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qm::test {

class FakeCloudApp {
public:
    struct Item {
        long long id = 0;
        std::string slug, name, itemType, key;
        std::string redirectURL; // bookmarks
        bool isPrivate = false;
        bool deleted = false;
        size_t size = 0;
        std::string contentType;
        std::string content; // empty for uploads of kLoggedBodyLimit bytes or more
    };

    explicit FakeCloudApp(std::string email = "alice@example.org", std::string password = "s3cret");

    TestServer& server() { return server_; }
    StorageServer& storage() { return storage_; }
    QUrl apiURL() const { return server_.url(); }
    QString email() const { return QString::fromStdString(email_); }
    QString password() const { return QString::fromStdString(password_); }

    // Switches of the upload request's answer; nullopt leaves the field out.
    void setUploadsRemaining(std::optional<long long> remaining);
    void setMaxUploadSize(std::optional<long long> bytes);
    // An answer without "params", which no storage request can be built from.
    void setOmitParams(bool omit);
    // Every answer of item JSON names this icon; empty leaves "icon" out.
    void setIconPath(std::string path);

    std::vector<Item> items() const;
    std::optional<Item> itemNamed(const std::string& name) const;
    // Authorization headers that were checked and accepted.
    int acceptedChallenges() const;
    // The privacy asked for in the last upload request ("true", "false" or empty).
    std::string lastRequestedPrivacy() const;

private:
    bool authorized(const httplib::Request& request, httplib::Response& response);
    std::string itemJSON(const Item& item) const;
    std::string accountJSON() const;
    Item* find(long long id);
    void routes();
    void uploadRequest(const httplib::Request& request, httplib::Response& response);
    StorageServer::Answer storagePost(const StorageServer::Upload& upload);

    std::string email_, password_;
    mutable std::mutex mutex_;
    std::optional<long long> uploadsRemaining_ = 100;
    std::optional<long long> maxUploadSize_ = 250ll * 1024 * 1024 * 1024;
    bool omitParams_ = false;
    std::string iconPath_ = "/images/item_types/unknown.png";
    std::set<std::string> nonces_;
    std::map<std::string, std::string> issued_; // upload token -> its policy
    std::vector<Item> items_;
    long long nextId_ = 1;
    int accepted_ = 0;
    std::string lastPrivacy_;
    // Last: their threads stop before the state above goes.
    StorageServer storage_;
    TestServer server_;
};

} // namespace qm::test
