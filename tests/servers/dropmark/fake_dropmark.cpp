#include "servers/dropmark/fake_dropmark.h"

#include <QByteArray>
#include <algorithm>
#include <functional>

namespace qm::test {

namespace {

void answer(httplib::Response& response, int status, const std::string& json) {
    response.status = status;
    response.set_content(json, "application/json");
}

void refuse(httplib::Response& response, int status, const std::string& message) {
    answer(response, status, "{\"message\": " + jsonString(message) + "}");
}

bool isForm(const httplib::Request& request) {
    return request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0;
}

} // namespace

FakeDropmark::FakeDropmark() {
    using namespace std::placeholders;
    server_.route("POST", "/v1/auth", std::bind(&FakeDropmark::signIn, this, _1, _2));
    server_.route("GET", "/v1/collections", std::bind(&FakeDropmark::listCollections, this, _1, _2));
    server_.route("POST", "/v1/collections", std::bind(&FakeDropmark::createCollection, this, _1, _2));
    server_.route("POST", "/v1/collections/([^/]+)/items", std::bind(&FakeDropmark::addItem, this, _1, _2));
    server_.route("DELETE", "/v1/items/([^/]+)", std::bind(&FakeDropmark::removeItem, this, _1, _2));
    server_.route("GET", "/s/([^/]+)", std::bind(&FakeDropmark::follow, this, _1, _2));
}

std::string FakeDropmark::addCollection(const std::string& name) {
    std::lock_guard guard(mutex_);
    collections_.push_back({std::to_string(nextId_++), name});
    return collections_.back().id;
}

std::vector<FakeDropmark::Collection> FakeDropmark::collections() const {
    std::lock_guard guard(mutex_);
    return collections_;
}

std::vector<FakeDropmark::Item> FakeDropmark::items() const {
    std::lock_guard guard(mutex_);
    return items_;
}

void FakeDropmark::setThumbnails(bool on) {
    std::lock_guard guard(mutex_);
    thumbnails_ = on;
}

void FakeDropmark::omit(const std::string& field) {
    std::lock_guard guard(mutex_);
    omitted_ = field;
}

bool FakeDropmark::authorised(const httplib::Request& request, httplib::Response& response) const {
    if (request.get_header_value("X-API-Key") != kApiKey) {
        refuse(response, 401, "Invalid API key");
        return false;
    }
    const std::string basic =
        "Basic " +
        QByteArray(std::string(kUserId).append(":").append(kToken).c_str()).toBase64().toStdString();
    if (request.get_header_value("Authorization") != basic) {
        refuse(response, 401, "Invalid user credentials");
        return false;
    }
    return true;
}

void FakeDropmark::signIn(const httplib::Request& request, httplib::Response& response) {
    if (request.get_header_value("X-API-Key") != kApiKey)
        return refuse(response, 401, "Invalid API key");
    if (!isForm(request))
        return refuse(response, 400, "Expected a form");
    if (request.get_param_value("email") != kEmail || request.get_param_value("password") != kPassword)
        return refuse(response, 401, "Invalid email or password");
    std::lock_guard guard(mutex_);
    const std::string token = omitted_ == "token" ? "" : std::string(", \"token\": ") + jsonString(kToken);
    answer(response, 200,
           std::string("{\"id\": ") + kUserId + ", \"email\": " + jsonString(kEmail) + token + "}");
}

void FakeDropmark::listCollections(const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request, response))
        return;
    if (request.target != "/v1/collections?count=500")
        return refuse(response, 400, "Unexpected query: " + request.target);
    std::lock_guard guard(mutex_);
    std::string json = "[";
    for (const Collection& collection : collections_)
        json += (json.size() > 1 ? ", " : "") + std::string("{\"id\": ") + collection.id +
                ", \"name\": " + jsonString(collection.name) + ", \"type\": \"private\"}";
    answer(response, 200, json + "]");
}

void FakeDropmark::createCollection(const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request, response))
        return;
    if (!isForm(request) || request.get_param_value("name").empty())
        return refuse(response, 400, "A collection needs a name");
    std::lock_guard guard(mutex_);
    collections_.push_back({std::to_string(nextId_++), request.get_param_value("name")});
    const std::string id = omitted_ == "collection id" ? "" : "\"id\": " + collections_.back().id + ", ";
    answer(response, 201, "{" + id + "\"name\": " + jsonString(collections_.back().name) + "}");
}

void FakeDropmark::addItem(const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request, response))
        return;
    if (!request.is_multipart_form_data() || request.files.size() != 3 || !request.has_file("name") ||
        !request.has_file("shareable") || !request.has_file("content"))
        return refuse(response, 400, "Expected the parts name, shareable and content");
    const auto name = request.get_file_value("name");
    const auto shareable = request.get_file_value("shareable");
    const auto content = request.get_file_value("content");
    if (!name.filename.empty() || !shareable.filename.empty() || content.filename.empty() ||
        content.content_type.empty() || (shareable.content != "true" && shareable.content != "false"))
        return refuse(response, 400, "Malformed item parts");
    std::lock_guard guard(mutex_);
    const std::string collection = request.matches[1].str();
    const bool known = std::any_of(collections_.begin(), collections_.end(),
                                   [&](const Collection& c) { return c.id == collection; });
    if (!known)
        return refuse(response, 404, "No such collection");
    Item item{std::to_string(nextId_++),
              collection,
              name.content,
              shareable.content,
              content.filename,
              content.content_type,
              content.content.size(),
              {},
              {}};
    item.content = content.content.size() < kLoggedBodyLimit ? content.content : std::string();
    item.shortCode = "i" + item.id;
    items_.push_back(item);
    const std::string base = "http://127.0.0.1:" + std::to_string(server_.port());
    const std::string link = omitted_ == "short_url" ? "null" : jsonString(base + "/s/" + item.shortCode);
    const std::string thumbnail = thumbnails_ ? jsonString(base + "/thumbs/" + item.id + ".png") : "null";
    answer(response, 200,
           "{\"id\": " + item.id + ", \"name\": " + jsonString(item.name) +
               ", \"size\": " + std::to_string(item.size) + ", \"short_url\": " + link +
               ", \"thumbnail\": " + thumbnail + "}");
}

void FakeDropmark::removeItem(const httplib::Request& request, httplib::Response& response) {
    if (!authorised(request, response))
        return;
    std::lock_guard guard(mutex_);
    const auto found = std::find_if(items_.begin(), items_.end(),
                                    [&](const Item& item) { return item.id == request.matches[1].str(); });
    if (found == items_.end())
        return refuse(response, 404, "No such item");
    items_.erase(found);
    response.status = 204;
}

void FakeDropmark::follow(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    for (const Item& item : items_)
        if (item.shortCode == request.matches[1].str() && item.shareable == "true") {
            response.set_content(item.content, item.contentType);
            return;
        }
    refuse(response, 404, "Not found");
}

} // namespace qm::test
