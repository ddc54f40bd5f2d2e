#include "servers/mediafire/fake_mediafire.h"

#include <QCryptographicHash>
#include <QUrl>
#include <algorithm>
#include <functional>

namespace qm::test {

namespace {

// MediaFire wraps every answer in "response", with "result" saying whether the call worked.
void answer(httplib::Response& response, const std::string& action, const std::string& members) {
    response.set_content("{\"response\": {\"action\": " + jsonString(action) + ", " + members +
                             (members.empty() ? "" : ", ") + "\"result\": \"Success\"}}",
                         "application/json");
}

void refuse(httplib::Response& response, int status, int code, const std::string& message) {
    response.status = status;
    response.set_content("{\"response\": {\"message\": " + jsonString(message) +
                             ", \"error\": " + std::to_string(code) + ", \"result\": \"Error\"}}",
                         "application/json");
}

// The names of the query's parameters in the order they were sent.
std::vector<std::string> parameterOrder(const std::string& target) {
    std::vector<std::string> names;
    const size_t query = target.find('?');
    if (query == std::string::npos)
        return names;
    size_t start = query + 1;
    while (start <= target.size()) {
        const size_t end = std::min(target.find('&', start), target.size());
        const std::string pair = target.substr(start, end - start);
        names.push_back(pair.substr(0, pair.find('=')));
        start = end + 1;
    }
    return names;
}

bool inOrder(const httplib::Request& request, const std::vector<std::string>& names) {
    return parameterOrder(request.target) == names;
}

} // namespace

FakeMediaFire::FakeMediaFire() {
    using namespace std::placeholders;
    auto on = [this](const char* method, const char* path,
                     void (FakeMediaFire::*handler)(const httplib::Request&, httplib::Response&)) {
        server_.route(method, path, std::bind(handler, this, _1, _2));
    };
    on("GET", "/api/user/get_session_token.php", &FakeMediaFire::sessionToken);
    on("GET", "/api/folder/get_content.php", &FakeMediaFire::folderContent);
    on("GET", "/api/folder/create.php", &FakeMediaFire::createFolder);
    on("POST", "/api/upload/simple.php", &FakeMediaFire::upload);
    on("GET", "/api/upload/poll_upload.php", &FakeMediaFire::pollUpload);
    on("GET", "/api/file/get_links.php", &FakeMediaFire::links);
    on("GET", "/api/file/delete.php", &FakeMediaFire::deleteFile);
    on("GET", "/download/([^/]+)/.*", &FakeMediaFire::download);
}

std::string FakeMediaFire::addFolder(const std::string& name) {
    std::lock_guard guard(mutex_);
    folders_.push_back({"fk" + std::to_string(next_++), name});
    return folders_.back().key;
}

std::vector<FakeMediaFire::Folder> FakeMediaFire::folders() const {
    std::lock_guard guard(mutex_);
    return folders_;
}

std::vector<FakeMediaFire::File> FakeMediaFire::files() const {
    std::lock_guard guard(mutex_);
    return files_;
}

size_t FakeMediaFire::tokensIssued() const {
    std::lock_guard guard(mutex_);
    return tokens_.size();
}

void FakeMediaFire::setQuirk(Quirk quirk) {
    std::lock_guard guard(mutex_);
    quirk_ = quirk;
}

bool FakeMediaFire::validToken(const std::string& token, httplib::Response& response) const {
    if (tokens_.count(token))
        return true;
    refuse(response, 400, 105, "Session token is missing or invalid");
    return false;
}

void FakeMediaFire::sessionToken(const httplib::Request& request, httplib::Response& response) {
    if (!inOrder(request, {"application_id", "email", "password", "response_format", "signature"}))
        return refuse(response, 400, 100, "Unexpected parameters: " + request.target);
    const std::string email = request.get_param_value("email");
    const std::string password = request.get_param_value("password");
    const QByteArray signature =
        QCryptographicHash::hash(QByteArray::fromStdString(email + password + kApplicationId + kApiKey),
                                 QCryptographicHash::Sha1)
            .toHex();
    if (request.get_param_value("application_id") != kApplicationId ||
        request.get_param_value("signature") != signature.toStdString())
        return refuse(response, 400, 127, "Invalid signature");
    if (email != kEmail || password != kPassword)
        return refuse(response, 400, 107, "The Credentials you entered are invalid");
    std::lock_guard guard(mutex_);
    const std::string token = "st" + std::to_string(next_++) + "c0ffee";
    tokens_.insert(token);
    answer(response, "user/get_session_token", "\"session_token\": " + jsonString(token));
}

void FakeMediaFire::folderContent(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    if (!validToken(request.get_param_value("session_token"), response))
        return;
    if (request.get_param_value("content_type") != "folders" || request.has_param("folder_key"))
        return refuse(response, 400, 100, "Expected the root's folders");
    std::string list;
    for (const Folder& folder : folders_)
        list += (list.empty() ? "" : ", ") + std::string("{\"folderkey\": ") + jsonString(folder.key) +
                ", \"name\": " + jsonString(folder.name) + "}";
    answer(response, "folder/get_content",
           "\"folder_content\": {\"content_type\": \"folders\", \"folders\": [" + list + "]}");
}

void FakeMediaFire::createFolder(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    if (!validToken(request.get_param_value("session_token"), response))
        return;
    if (request.get_param_value("foldername").empty())
        return refuse(response, 400, 100, "A folder needs a name");
    folders_.push_back({"fk" + std::to_string(next_++), request.get_param_value("foldername")});
    answer(response, "folder/create",
           quirk_ == Quirk::NoFolderKey ? "\"name\": " + jsonString(folders_.back().name)
                                        : "\"folder_key\": " + jsonString(folders_.back().key));
}

void FakeMediaFire::upload(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    if (!inOrder(request, {"session_token", "uploadkey", "action_on_duplicate"}) ||
        request.get_param_value("action_on_duplicate") != "keep")
        return refuse(response, 400, 100, "Unexpected parameters: " + request.target);
    if (!validToken(request.get_param_value("session_token"), response))
        return;
    const std::string folder = request.get_param_value("uploadkey");
    if (std::none_of(folders_.begin(), folders_.end(), [&](const Folder& f) { return f.key == folder; }))
        return refuse(response, 400, 112, "Invalid folder key");
    if (!request.is_multipart_form_data() || request.files.size() != 1 || !request.has_file("Filedata"))
        return refuse(response, 400, 100, "Expected one part named Filedata");
    const auto part = request.get_file_value("Filedata");
    if (part.filename.empty() || part.content_type.empty())
        return refuse(response, 400, 100, "The file part needs a file name and a type");
    File file{"qk" + std::to_string(next_++),
              "uk" + std::to_string(next_++),
              folder,
              part.filename,
              part.content_type,
              part.content.size(),
              {},
              0};
    if (part.content.size() < kLoggedBodyLimit)
        file.content = part.content;
    files_.push_back(file);
    const std::string key = quirk_ == Quirk::NoUploadKey ? "" : "<key>" + file.uploadKey + "</key>";
    response.set_content(
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<response>\n  <action>upload/simple</action>\n"
        "  <doupload>\n    <result>0</result>\n    " +
            key +
            "\n  </doupload>\n"
            "  <result>Success</result>\n  <current_api_version>1.5</current_api_version>\n</response>\n",
        "text/xml");
}

void FakeMediaFire::pollUpload(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    if (!inOrder(request, {"session_token", "key", "response_format"}))
        return refuse(response, 400, 100, "Unexpected parameters: " + request.target);
    if (!validToken(request.get_param_value("session_token"), response))
        return;
    const auto file = std::find_if(files_.begin(), files_.end(), [&](const File& f) {
        return f.uploadKey == request.get_param_value("key");
    });
    if (file == files_.end())
        return refuse(response, 400, 100, "Unknown upload key");
    const bool done = quirk_ != Quirk::NeverDone && ++file->polls > kPollsBeforeDone;
    std::string members =
        "\"result\": \"0\", \"status\": " + std::string(done ? "\"99\"" : "\"17\"") +
        ", \"description\": " + jsonString(done ? "No more requests for this key" : "Storage");
    if (done && quirk_ != Quirk::DoneWithoutKey)
        members +=
            ", \"quickkey\": " + jsonString(file->quickKey) + ", \"filename\": " + jsonString(file->name);
    answer(response, "upload/poll_upload", "\"doupload\": {" + members + "}");
}

void FakeMediaFire::links(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    if (!inOrder(request, {"link_type", "session_token", "quick_key", "response_format"}) ||
        request.get_param_value("link_type") != "direct_download")
        return refuse(response, 400, 100, "Unexpected parameters: " + request.target);
    if (!validToken(request.get_param_value("session_token"), response))
        return;
    const auto file = std::find_if(files_.begin(), files_.end(), [&](const File& f) {
        return f.quickKey == request.get_param_value("quick_key");
    });
    if (file == files_.end())
        return refuse(response, 400, 110, "Unknown quick key");
    const std::string link = "http://127.0.0.1:" + std::to_string(server_.port()) + "/download/" +
                             file->quickKey + "/" +
                             QUrl::toPercentEncoding(QString::fromStdString(file->name)).toStdString();
    answer(response, "file/get_links",
           quirk_ == Quirk::NoLinks ? "\"links\": []"
                                    : "\"links\": [{\"quickkey\": " + jsonString(file->quickKey) +
                                          ", \"direct_download\": " + jsonString(link) + "}]");
}

void FakeMediaFire::deleteFile(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    if (!validToken(request.get_param_value("session_token"), response))
        return;
    const auto file = std::find_if(files_.begin(), files_.end(), [&](const File& f) {
        return f.quickKey == request.get_param_value("quick_key");
    });
    if (file == files_.end())
        return refuse(response, 400, 110, "Unknown quick key");
    files_.erase(file);
    answer(response, "file/delete", "");
}

void FakeMediaFire::download(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    for (const File& file : files_)
        if (file.quickKey == request.matches[1].str()) {
            response.set_content(file.content, file.contentType);
            return;
        }
    refuse(response, 404, 110, "Unknown quick key");
}

} // namespace qm::test
