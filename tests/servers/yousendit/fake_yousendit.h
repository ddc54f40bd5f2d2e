#pragma once

#include "support/test_server.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qm::test {

// The Hightail (YouSendIt) API as its clients meet it: API key and token headers, the login, the send
// item, the multipart upload to the address it hands out (answered in XML), the commit (answered with the
// download address) and the deletion of an item. Errors come as {"errorStatus": {"code", "message"}},
// the upload's as <ysi-error>; an error page with an <h1> heading on demand. Refuses what the service
// refuses: a wrong key or token, unknown words, a commit before the upload, an upload without its item.
class FakeYouSendIt {
public:
    static constexpr char kApiKey[] = "q7f3k9m2x8c4v6b1n5z0w2e4";

    struct Delivery {
        std::string itemId;
        std::string recipients; // as sent
        std::string fileCount;
        std::string fileName; // the filename attribute of the upload part
        size_t size = 0;      // bytes of the file
        std::string content;  // the file's bytes, for files below the log limit
        bool uploaded = false;
        bool committed = false;
        bool notifications = true; // until "sendEmailNotifications=false" says otherwise
        bool deleted = false;
        std::string downloadUrl;
        std::vector<std::string> parameterNames; // of the send item, in order
    };

    explicit FakeYouSendIt(std::string apiKey = kApiKey);

    TestServer& server() { return server_; }
    QUrl url() const { return server_.url(); }

    void addAccount(const std::string& email, const std::string& password);
    // Every token handed out so far stops working, as when a session expires.
    void expireTokens();
    // Routes below `pathPrefix` answer with an HTML error page whose heading is `heading`.
    void answerWithErrorPage(const std::string& pathPrefix, int status, const std::string& heading);
    // The upload answers with a <ysi-error> of `code` and `message`.
    void refuseUploads(int code, const std::string& message);
    // The send item comes without an upload address.
    void withholdUploadAddress(bool withhold) { withholdUploadAddress_ = withhold; }

    std::vector<Delivery> deliveries() const;

private:
    struct ErrorPage {
        std::string prefix;
        int status = 0;
        std::string heading;
    };

    void routes();
    // The account behind a request's headers, or an error answer already written.
    bool authorised(const httplib::Request& request, httplib::Response& response, bool needsToken);
    static void error(httplib::Response& response, int status, int code, const std::string& message);

    TestServer server_;
    std::string apiKey_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> accounts_; // e-mail -> password
    std::map<std::string, std::string> tokens_;   // token -> e-mail
    std::vector<Delivery> deliveries_;
    std::vector<ErrorPage> errorPages_;
    int uploadErrorCode_ = 0;
    std::string uploadErrorMessage_;
    bool withholdUploadAddress_ = false;
    int next_ = 1;
};

} // namespace qm::test
