#pragma once

// Google Drive in the test process, as its public protocol describes it: the OAuth 2 sign-in of installed
// applications (an authorize page that redirects to the loopback address with a code; a token endpoint that
// checks the code, the PKCE verifier, the redirect URI and the client's credentials, and renews tokens), and
// the Drive v3 calls: about, files.list with its query and pages, folder creation, resumable uploads (308
// with Range, 256 KiB chunks, size checks, the status question "bytes */TOTAL"), permissions, delete, and the
// download link. Errors are Google's JSON error bodies. One server plays every Google host.
//
//     FakeGoogleDrive drive;                           // client "test-client" / "test-secret"
//     drive.addFolder("Quillmoor", drive.rootId());    // a folder the application made earlier
//     ... point QUILLMOOR_GOOGLEDRIVE_*_URL at drive.url() and run the client ...
//     drive.failNextChunks(FakeGoogleDrive::ChunkFault::drop(300000));  // keep 300000 bytes, then drop

#include "support/test_server.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class FakeGoogleDrive {
public:
    struct Options {
        std::string clientId = "test-client";
        std::string clientSecret = "test-secret";
        std::string email = "ada@example.com";
        int pageSize = 100;   // files per list page
        std::string storeDir; // keep uploaded bytes in files here instead of memory (for large uploads)
    };

    struct File {
        std::string id, name, mimeType;
        std::vector<std::string> parents;
        bool trashed = false;
        bool byApplication = true; // seen through the per-file scope
        long long size = 0;
        std::string content;                                          // empty when kept in storeDir
        std::vector<std::pair<std::string, std::string>> permissions; // type, role
    };

    // What happens to the next chunks of resumable uploads (requests that carry bytes).
    struct ChunkFault {
        enum class Kind { Drop, Stall, Status, ExpiredToken, ForgetSession };
        Kind kind = Kind::Drop;
        long long keep = 0;                  // Drop: bytes of the chunk stored before the connection drops
        std::chrono::milliseconds stall{0};  // Stall: silence before the answer
        int status = 503;                    // Status
        std::string reason = "backendError"; // Status

        static ChunkFault drop(long long keep) { return {Kind::Drop, keep}; }
        static ChunkFault stallFor(std::chrono::milliseconds d) { return {Kind::Stall, 0, d}; }
        static ChunkFault answer(int status, std::string reason) {
            return {Kind::Status, 0, {}, status, std::move(reason)};
        }
        static ChunkFault expiredToken() { return {Kind::ExpiredToken}; }
        static ChunkFault forgetSession() { return {Kind::ForgetSession}; } // as an expired session
    };

    FakeGoogleDrive();
    explicit FakeGoogleDrive(Options options);
    ~FakeGoogleDrive();

    TestServer& server() { return server_; }
    QUrl url(const QString& path = {}) const { return server_.url(path); }
    // Sets (or, with false, clears) the QUILLMOOR_GOOGLEDRIVE_* variables of this process to this fake.
    void exportEnvironment(bool set = true) const;

    std::string rootId() const { return "root-0AAAA"; }
    std::string addFolder(const std::string& name, const std::string& parent, bool byApplication = true,
                          bool trashed = false);
    std::optional<File> file(const std::string& id) const;
    std::vector<File> files() const; // not folders
    std::vector<File> filesNamed(const std::string& name) const;
    QByteArray contentOf(const std::string& id) const;

    // A token that lets requests in, as if signed in earlier; its refresh token renews it.
    void grantTokens(const std::string& access, const std::string& refresh);
    // Every access token handed out so far stops working (401), as when it expires.
    void expireAccessTokens();
    // The sign-in page answers "access_denied", as when the user declines.
    void declineSignIn(bool decline = true);
    void failNextChunks(ChunkFault fault, int count = 1);

    // Plays the user's browser: asks for the sign-in page and answers where it redirects (empty: nowhere).
    std::string signInRedirect(const QUrl& page) const;
    // The same in the background, then asks for the redirect address, as a browser shows it.
    void openInBrowser(const QUrl& page);

    // What the last authorize request asked for.
    std::map<std::string, std::string> lastAuthorizeParams() const;
    int refreshes() const;
    int sessionsOpened() const;

private:
    struct Session {
        std::string name, mimeType, parent, fields;
        long long total = 0;
        long long received = 0;
        std::string bytes;
        std::string fileId; // once complete
    };
    struct Grant {
        std::string clientId, redirectUri, challenge, scope;
    };

    void routes();
    // The bearer token of the request is valid; else answers 401 and false.
    bool authorized(const httplib::Request& request, httplib::Response& response);
    void authorize(const httplib::Request& request, httplib::Response& response);
    void token(const httplib::Request& request, httplib::Response& response);
    void about(const httplib::Request& request, httplib::Response& response);
    void getFile(const httplib::Request& request, httplib::Response& response);
    void list(const httplib::Request& request, httplib::Response& response);
    void create(const httplib::Request& request, httplib::Response& response);
    void openSession(const httplib::Request& request, httplib::Response& response);
    void putSession(const httplib::Request& request, httplib::Response& response);
    void permission(const httplib::Request& request, httplib::Response& response);
    void remove(const httplib::Request& request, httplib::Response& response);
    void download(const httplib::Request& request, httplib::Response& response);

    std::string resource(const File& file, const std::string& fields) const; // under lock
    std::string newId(const char* prefix);
    void storeBytes(Session& session, const std::string& sessionId, const char* data, size_t size);
    bool pause(std::chrono::milliseconds duration);

    Options options_;
    mutable std::mutex mutex_;
    std::condition_variable stopping_;
    bool stopped_ = false;
    std::map<std::string, File> files_;
    std::map<std::string, Grant> codes_;
    std::map<std::string, bool> accessTokens_; // token -> still valid
    std::map<std::string, bool> refreshTokens_;
    std::map<std::string, Session> sessions_;
    std::map<std::string, std::string> lastAuthorize_;
    std::vector<ChunkFault> chunkFaults_;
    bool decline_ = false;
    int refreshes_ = 0;
    int sessionsOpened_ = 0;
    long long nextId_ = 1;
    std::vector<std::thread> browsers_;
    TestServer server_; // last: its threads stop before the state above goes
};

} // namespace qm::test
