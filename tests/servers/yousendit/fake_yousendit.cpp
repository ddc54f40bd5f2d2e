#include "fake_yousendit.h"

namespace qm::test {

namespace {

std::string json(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

const std::vector<std::string> kSendWords{"recipients",     "fileCount",     "subject", "message",
                                          "verifyIdentity", "returnReceipt", "password"};
const std::vector<std::string> kCommitWords{"sendEmailNotifications", "expiration"};

// Names of the request's parameters, in the body's order.
std::vector<std::string> parameterNames(const httplib::Request& request) {
    std::vector<std::string> names;
    size_t start = 0;
    const std::string& body = request.body;
    while (start < body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string pair = body.substr(start, end - start);
        names.push_back(pair.substr(0, pair.find('=')));
        start = end + 1;
    }
    return names;
}

bool onlyWords(const httplib::Request& request, const std::vector<std::string>& words, std::string& unknown) {
    for (const auto& [name, value] : request.params) {
        if (std::find(words.begin(), words.end(), name) == words.end()) {
            unknown = name;
            return false;
        }
    }
    return true;
}

} // namespace

FakeYouSendIt::FakeYouSendIt(std::string apiKey)
    : apiKey_(std::move(apiKey)) {
    routes();
}

void FakeYouSendIt::addAccount(const std::string& email, const std::string& password) {
    std::lock_guard guard(mutex_);
    accounts_[email] = password;
}

void FakeYouSendIt::expireTokens() {
    std::lock_guard guard(mutex_);
    tokens_.clear();
}

void FakeYouSendIt::answerWithErrorPage(const std::string& pathPrefix, int status,
                                        const std::string& heading) {
    std::lock_guard guard(mutex_);
    errorPages_.push_back({pathPrefix, status, heading});
}

void FakeYouSendIt::refuseUploads(int code, const std::string& message) {
    std::lock_guard guard(mutex_);
    uploadErrorCode_ = code;
    uploadErrorMessage_ = message;
}

std::vector<FakeYouSendIt::Delivery> FakeYouSendIt::deliveries() const {
    std::lock_guard guard(mutex_);
    return deliveries_;
}

void FakeYouSendIt::error(httplib::Response& response, int status, int code, const std::string& message) {
    response.status = status;
    response.set_content("{\"errorStatus\": {\"code\": " + std::to_string(code) +
                             ", \"message\": " + json(message) + "}}",
                         "application/json");
}

bool FakeYouSendIt::authorised(const httplib::Request& request, httplib::Response& response,
                               bool needsToken) {
    std::lock_guard guard(mutex_);
    for (const ErrorPage& page : errorPages_) {
        if (request.path.rfind(page.prefix, 0) == 0) {
            response.status = page.status;
            response.set_content("<html><head><title>Error</title></head><body><h1>" + page.heading +
                                     "</h1><p>The server could not answer.</p></body></html>",
                                 "text/html");
            return false;
        }
    }
    if (request.get_header_value("X-Api-Key") != apiKey_) {
        error(response, 403, 403, "Invalid API key");
        return false;
    }
    if (needsToken && !tokens_.count(request.get_header_value("X-Auth-Token"))) {
        error(response, 401, 401, "Invalid or expired authentication token");
        return false;
    }
    return true;
}

void FakeYouSendIt::routes() {
    server_.route("POST", "/dpi/v1/auth", [this](const httplib::Request& req, httplib::Response& res) {
        if (!authorised(req, res, false))
            return;
        std::lock_guard guard(mutex_);
        const std::string email = req.get_param_value("email");
        const auto account = accounts_.find(email);
        if (email.empty() || account == accounts_.end() || account->second != req.get_param_value("password"))
            return error(res, 401, 500, "Authentication failed: wrong e-mail address or password");
        const std::string token = "token-" + std::to_string(next_++);
        tokens_[token] = email;
        res.set_content("{\"authToken\": " + json(token) + "}", "application/json");
    });

    server_.route("POST", "/dpi/v1/item/send", [this](const httplib::Request& req, httplib::Response& res) {
        if (!authorised(req, res, true))
            return;
        std::string unknown;
        if (!onlyWords(req, kSendWords, unknown))
            return error(res, 400, 400, "Unknown parameter " + unknown);
        for (const char* flag : {"verifyIdentity", "returnReceipt"})
            if (req.has_param(flag) && req.get_param_value(flag) != "true")
                return error(res, 400, 400, std::string("Invalid value of ") + flag);
        if (req.get_param_value("recipients").empty())
            return error(res, 400, 400, "At least one recipient is required");
        std::lock_guard guard(mutex_);
        Delivery delivery;
        delivery.itemId = "item" + std::to_string(next_++);
        delivery.recipients = req.get_param_value("recipients");
        delivery.fileCount = req.get_param_value("fileCount");
        delivery.parameterNames = parameterNames(req);
        deliveries_.push_back(delivery);
        const std::string upload = server_.url().toString().toStdString() + "/upload/" + delivery.itemId;
        res.set_content("{\"itemId\": " + json(delivery.itemId) + ", \"uploadUrl\": " +
                            (withholdUploadAddress_ ? std::string("[]") : "[" + json(upload) + "]") + "}",
                        "application/json");
    });

    server_.route("POST", "/upload/(\\w+)", [this](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard guard(mutex_);
            for (const ErrorPage& page : errorPages_)
                if (req.path.rfind(page.prefix, 0) == 0) {
                    res.status = page.status;
                    res.set_content("<html><body><h1>" + page.heading + "</h1></body></html>", "text/html");
                    return;
                }
        }
        const auto xmlError = [&res](int code, const std::string& message) {
            res.set_content(
                "<?xml version=\"1.0\"?><ysi-response><ysi-error><error-code>" + std::to_string(code) +
                    "</error-code><error-message>" + message +
                    "</error-message></ysi-error><upload-status>failed</upload-status></ysi-response>",
                "text/xml");
        };
        if (req.get_header_value("Content-Type").rfind("multipart/form-data; boundary=", 0) != 0)
            return xmlError(400, "Not a multipart form");
        if (!req.has_file("bid") || !req.has_file("fname"))
            return xmlError(400, "The form needs the parts bid and fname");
        const std::string id = req.matches[1];
        std::lock_guard guard(mutex_);
        if (uploadErrorCode_)
            return xmlError(uploadErrorCode_, uploadErrorMessage_);
        const auto delivery = std::find_if(deliveries_.begin(), deliveries_.end(),
                                           [&](const Delivery& d) { return d.itemId == id; });
        if (delivery == deliveries_.end() || req.get_file_value("bid").content != id)
            return xmlError(404, "No such item");
        const httplib::MultipartFormData file = req.get_file_value("fname");
        delivery->fileName = file.filename;
        delivery->size = file.content.size();
        if (file.content.size() < kLoggedBodyLimit)
            delivery->content = file.content;
        delivery->uploaded = true;
        res.set_content(
            "<?xml version=\"1.0\"?><ysi-response><upload-status>complete</upload-status></ysi-response>",
            "text/xml");
    });

    server_.route(
        "POST", "/dpi/v1/item/commit/(\\w+)", [this](const httplib::Request& req, httplib::Response& res) {
            if (!authorised(req, res, true))
                return;
            std::string unknown;
            if (!onlyWords(req, kCommitWords, unknown))
                return error(res, 400, 400, "Unknown parameter " + unknown);
            const std::string id = req.matches[1];
            std::lock_guard guard(mutex_);
            const auto delivery = std::find_if(deliveries_.begin(), deliveries_.end(),
                                               [&](const Delivery& d) { return d.itemId == id; });
            if (delivery == deliveries_.end() || delivery->deleted)
                return error(res, 404, 404, "No such item");
            if (!delivery->uploaded)
                return error(res, 400, 400, "The item has no file yet");
            delivery->committed = true;
            delivery->notifications = req.get_param_value("sendEmailNotifications") != "false";
            delivery->downloadUrl = server_.url().toString().toStdString() + "/download/" + id;
            res.set_content("{\"downloadUrl\": " + json(delivery->downloadUrl) + "}", "application/json");
        });

    server_.route("DELETE", "/dpi/v1/item/(\\w+)",
                  [this](const httplib::Request& req, httplib::Response& res) {
                      if (!authorised(req, res, true))
                          return;
                      const std::string id = req.matches[1];
                      std::lock_guard guard(mutex_);
                      const auto delivery = std::find_if(deliveries_.begin(), deliveries_.end(),
                                                         [&](const Delivery& d) { return d.itemId == id; });
                      if (delivery == deliveries_.end() || delivery->deleted)
                          return error(res, 404, 404, "No such item");
                      delivery->deleted = true;
                      res.set_content("{\"status\": \"deleted\"}", "application/json");
                  });

    server_.route("GET", "/download/(\\w+)", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.matches[1];
        std::lock_guard guard(mutex_);
        const auto delivery = std::find_if(deliveries_.begin(), deliveries_.end(),
                                           [&](const Delivery& d) { return d.itemId == id && d.committed; });
        if (delivery == deliveries_.end() || delivery->deleted) {
            res.status = 404;
            return;
        }
        res.set_content(delivery->content, "application/octet-stream");
    });
}

} // namespace qm::test
