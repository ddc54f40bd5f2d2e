#pragma once

// MediaFire's API as the program uses it, on the shared test server: session tokens signed with the
// application's id and API key (the query's parameters checked in their order), folders, the upload to
// simple.php answered in XML, the poll that answers "still working" a few times before the quick key, the
// direct-download link, and file deletion. Downloads are served too, so links can be followed.

#include "support/test_server.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qm::test {

class FakeMediaFire {
public:
    struct Folder {
        std::string key, name;
    };
    struct File {
        std::string quickKey, uploadKey, folderKey, name, contentType;
        size_t size = 0;
        std::string content; // kept below kLoggedBodyLimit bytes
        int polls = 0;       // answered so far
    };
    enum class Quirk {
        None,
        NoUploadKey,    // simple.php answers "Success" without a key
        NeverDone,      // every poll answers "still working"
        DoneWithoutKey, // the poll ends (99) without a quick key
        NoLinks,        // get_links answers an empty list
        NoFolderKey,    // create.php answers without a folder key
    };

    static constexpr char kApplicationId[] = "42137";
    static constexpr char kApiKey[] = "k7m2p9q4r8s1t6v3w5x0y2z4a6b8c1d3e5f7g9h2";
    static constexpr char kEmail[] = "ada@example.org";
    static constexpr char kPassword[] = "correct horse";
    static constexpr int kPollsBeforeDone = 2;

    FakeMediaFire();

    TestServer& server() { return server_; }
    QUrl url(const QString& path = {}) const { return server_.url(path); }

    std::string addFolder(const std::string& name);
    std::vector<Folder> folders() const;
    std::vector<File> files() const;
    size_t tokensIssued() const;
    void setQuirk(Quirk quirk);

private:
    bool validToken(const std::string& token, httplib::Response& response) const;
    void sessionToken(const httplib::Request& request, httplib::Response& response);
    void folderContent(const httplib::Request& request, httplib::Response& response);
    void createFolder(const httplib::Request& request, httplib::Response& response);
    void upload(const httplib::Request& request, httplib::Response& response);
    void pollUpload(const httplib::Request& request, httplib::Response& response);
    void links(const httplib::Request& request, httplib::Response& response);
    void deleteFile(const httplib::Request& request, httplib::Response& response);
    void download(const httplib::Request& request, httplib::Response& response);

    mutable std::mutex mutex_;
    std::vector<Folder> folders_;
    std::vector<File> files_;
    std::set<std::string> tokens_;
    int next_ = 1;
    Quirk quirk_ = Quirk::None;
    TestServer server_;
};

} // namespace qm::test
