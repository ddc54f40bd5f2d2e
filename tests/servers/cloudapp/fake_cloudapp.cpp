#include "fake_cloudapp.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace qm::test {

namespace {

constexpr char kRealm[] = "Application";
constexpr char kStorageSecret[] = "fake-storage-secret";
constexpr char kAccessKey[] = "AKIAFAKECLOUDAPP";

std::string md5(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

std::string randomHex() {
    return QByteArray::number(QRandomGenerator::global()->generate64(), 16).toStdString();
}

// The name="value" pairs of a Digest authorization header.
std::map<std::string, std::string> digestFields(const std::string& header) {
    std::map<std::string, std::string> fields;
    if (header.rfind("Digest ", 0) != 0)
        return fields;
    size_t at = 7;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ','))
            ++at;
        const size_t equals = header.find('=', at);
        if (equals == std::string::npos)
            break;
        const std::string name = header.substr(at, equals - at);
        std::string value;
        at = equals + 1;
        if (at < header.size() && header[at] == '"') {
            const size_t close = header.find('"', at + 1);
            value = header.substr(at + 1, close - at - 1);
            at = close == std::string::npos ? header.size() : close + 1;
        } else {
            const size_t comma = header.find(',', at);
            value = header.substr(at, comma - at);
            at = comma == std::string::npos ? header.size() : comma;
        }
        fields[name] = value;
    }
    return fields;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string itemTypeOf(const std::string& name) {
    const std::string extension = lower(name.substr(name.find_last_of('.') + 1));
    static const std::map<std::string, std::string> types = {
        {"png", "image"}, {"jpg", "image"}, {"gif", "image"}, {"txt", "text"},  {"zip", "archive"},
        {"mp3", "audio"}, {"wav", "audio"}, {"mp4", "video"}, {"mov", "video"},
    };
    const auto found = types.find(extension);
    return name.find('.') == std::string::npos || found == types.end() ? "unknown" : found->second;
}

void answerJSON(httplib::Response& response, const QJsonDocument& document, int status = 200) {
    response.status = status;
    response.set_content(document.toJson(QJsonDocument::Compact).toStdString(),
                         "application/json; charset=utf-8");
}

void notFound(httplib::Response& response) {
    answerJSON(response, QJsonDocument(QJsonArray{QStringLiteral("Item not found")}), 404);
}

QJsonObject requestObject(const httplib::Request& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

// The form fields the storage takes, in the order it names them.
const std::vector<std::string>& storageFields() {
    static const std::vector<std::string> fields = {"AWSAccessKeyId",          "key",       "acl",
                                                    "success_action_redirect", "signature", "policy"};
    return fields;
}

} // namespace

FakeCloudApp::FakeCloudApp(std::string email, std::string password)
    : email_(lower(std::move(email)))
    , password_(std::move(password))
    , storage_([this](const StorageServer::Upload& upload) { return storagePost(upload); }) {
    routes();
}

void FakeCloudApp::setUploadsRemaining(std::optional<long long> remaining) {
    std::lock_guard guard(mutex_);
    uploadsRemaining_ = remaining;
}

void FakeCloudApp::setMaxUploadSize(std::optional<long long> bytes) {
    std::lock_guard guard(mutex_);
    maxUploadSize_ = bytes;
}

void FakeCloudApp::setOmitParams(bool omit) {
    std::lock_guard guard(mutex_);
    omitParams_ = omit;
}

void FakeCloudApp::setIconPath(std::string path) {
    std::lock_guard guard(mutex_);
    iconPath_ = std::move(path);
}

std::vector<FakeCloudApp::Item> FakeCloudApp::items() const {
    std::lock_guard guard(mutex_);
    return items_;
}

std::optional<FakeCloudApp::Item> FakeCloudApp::itemNamed(const std::string& name) const {
    std::lock_guard guard(mutex_);
    for (const Item& item : items_)
        if (item.name == name)
            return item;
    return std::nullopt;
}

int FakeCloudApp::acceptedChallenges() const {
    std::lock_guard guard(mutex_);
    return accepted_;
}

std::string FakeCloudApp::lastRequestedPrivacy() const {
    std::lock_guard guard(mutex_);
    return lastPrivacy_;
}

FakeCloudApp::Item* FakeCloudApp::find(long long id) {
    for (Item& item : items_)
        if (item.id == id)
            return &item;
    return nullptr;
}

bool FakeCloudApp::authorized(const httplib::Request& request, httplib::Response& response) {
    std::lock_guard guard(mutex_);
    const auto fields = digestFields(request.get_header_value("Authorization"));
    const auto field = [&](const char* name) {
        const auto found = fields.find(name);
        return found == fields.end() ? std::string() : found->second;
    };
    if (!fields.empty() && nonces_.count(field("nonce")) && field("realm") == kRealm &&
        field("username") == email_ && field("qop") == "auth" &&
        // This server's HTTP library hands out header values percent-decoded.
        (field("uri") == request.target ||
         field("uri") == httplib::detail::decode_url(request.target, false))) {
        const std::string ha1 = md5(email_ + ":" + kRealm + ":" + password_);
        const std::string ha2 = md5(request.method + ":" + request.target);
        const std::string expected =
            md5(ha1 + ":" + field("nonce") + ":" + field("nc") + ":" + field("cnonce") + ":auth:" + ha2);
        if (field("response") == expected) {
            ++accepted_;
            return true;
        }
    }
    const std::string nonce = randomHex() + randomHex();
    nonces_.insert(nonce);
    response.status = 401;
    response.set_header("WWW-Authenticate", std::string("Digest realm=\"") + kRealm +
                                                "\", qop=\"auth\", algorithm=MD5, nonce=\"" + nonce +
                                                "\", opaque=\"" + md5(nonce) + "\"");
    response.set_content("HTTP Digest: Access denied.\n", "text/plain");
    return false;
}

std::string FakeCloudApp::itemJSON(const Item& item) const {
    const std::string base = server_.url().toString().toStdString();
    QJsonObject o{
        {QStringLiteral("id"), item.id},
        {QStringLiteral("href"), QString::fromStdString(base + "/items/" + std::to_string(item.id))},
        {QStringLiteral("name"), QString::fromStdString(item.name)},
        {QStringLiteral("private"), item.isPrivate},
        {QStringLiteral("url"), QString::fromStdString(base + "/i/" + item.slug)},
        {QStringLiteral("item_type"), QString::fromStdString(item.itemType)},
        {QStringLiteral("view_counter"), 0},
        {QStringLiteral("source"), QStringLiteral("Quillmoor")},
        {QStringLiteral("created_at"), QStringLiteral("2026-12-07T01:02:03Z")},
        {QStringLiteral("updated_at"), QStringLiteral("2026-12-07T01:02:03Z")},
        {QStringLiteral("deleted_at"),
         item.deleted ? QJsonValue(QStringLiteral("2026-12-07T02:00:00Z")) : QJsonValue()},
    };
    if (!iconPath_.empty())
        o.insert(QStringLiteral("icon"), QString::fromStdString(base + iconPath_));
    if (item.itemType == "bookmark") {
        o.insert(QStringLiteral("redirect_url"), QString::fromStdString(item.redirectURL));
    } else {
        o.insert(
            QStringLiteral("remote_url"),
            QString::fromStdString(server_.url({}, QStringLiteral("localhost")).toString().toStdString() +
                                   "/storage/" + item.key));
        o.insert(QStringLiteral("content_url"),
                 QString::fromStdString(base + "/i/" + item.slug + "/content"));
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::string FakeCloudApp::accountJSON() const {
    const QString base = server_.url().toString();
    QJsonObject o{
        {QStringLiteral("id"), 1},
        {QStringLiteral("email"), QString::fromStdString(email_)},
        {QStringLiteral("domain"), QStringLiteral("http://bücher.example/dl")},
        {QStringLiteral("domain_home_page"), QJsonValue()},
        {QStringLiteral("private_items"), true},
        {QStringLiteral("subscribed"), false},
        {QStringLiteral("alpha"), false},
        {QStringLiteral("subscription_expires_at"), QJsonValue()},
        {QStringLiteral("created_at"), QStringLiteral("2026-01-02T03:04:05Z")},
        {QStringLiteral("socket"),
         QJsonObject{{QStringLiteral("api_key"), QStringLiteral("pusher-key")},
                     {QStringLiteral("app_id"), 4242},
                     {QStringLiteral("auth_url"), base + QStringLiteral("/pusher/auth")},
                     {QStringLiteral("channels"),
                      QJsonObject{{QStringLiteral("items"), QStringLiteral("private-items_1")}}}}},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

void FakeCloudApp::uploadRequest(const httplib::Request& request, httplib::Response& response) {
    if (!authorized(request, response))
        return;
    std::lock_guard guard(mutex_);
    lastPrivacy_ = request.get_param_value("item[private]");
    // Written by hand: the form fields go out in this order (not sorted), and the client must keep it.
    std::string answer = "{\"url\":\"http://localhost:" + std::to_string(storage_.port()) + "/storage/\"";
    if (!omitParams_) {
        const std::string token = randomHex();
        const std::string policy =
            QByteArray::fromStdString("{\"token\":\"" + token + "\"}").toBase64().toStdString();
        issued_[token] = policy;
        const std::vector<std::string> values = {
            kAccessKey,
            "items/" + token + "/${filename}",
            "public-read",
            server_.url(QStringLiteral("/items/s3")).toString().toStdString(),
            md5(policy + kStorageSecret),
            policy};
        answer += ",\"params\":{";
        for (size_t i = 0; i < values.size(); ++i)
            answer += (i ? ",\"" : "\"") + storageFields()[i] + "\":\"" + values[i] + "\"";
        answer += "}";
    }
    if (uploadsRemaining_)
        answer += ",\"uploads_remaining\":" + std::to_string(*uploadsRemaining_);
    if (maxUploadSize_)
        answer += ",\"max_upload_size\":" + std::to_string(*maxUploadSize_);
    response.set_content(answer + "}", "application/json");
}

StorageServer::Answer FakeCloudApp::storagePost(const StorageServer::Upload& upload) {
    const auto refuse = [](const std::string& why) {
        return StorageServer::Answer{
            400, {}, "<Error><Code>InvalidArgument</Code><Message>" + why + "</Message></Error>"};
    };
    const auto header = [&](const char* name) {
        const auto found = upload.headers.find(name);
        return found == upload.headers.end() ? std::string() : found->second;
    };
    if (header("host") != "localhost:" + std::to_string(storage_.port()))
        return refuse("the storage is reached on its own host");
    if (header("content-type").rfind("multipart/form-data; boundary=", 0) != 0 || !upload.framed)
        return refuse("the body is not a form framed by its boundary, with the file last");
    // The fields as issued, in their order.
    std::vector<std::string> names;
    for (const auto& [name, value] : upload.fields)
        names.push_back(name);
    if (names != storageFields())
        return refuse("the fields are missing or out of order");
    const auto field = [&](size_t index) { return upload.fields[index].second; };

    std::lock_guard guard(mutex_);
    const std::string key = field(1);
    const std::string prefix = "items/";
    const std::string token = key.substr(prefix.size(), key.find('/', prefix.size()) - prefix.size());
    const auto issued = issued_.find(token);
    if (issued == issued_.end() || field(5) != issued->second ||
        field(4) != md5(issued->second + kStorageSecret) || field(0) != kAccessKey ||
        field(2) != "public-read")
        return refuse("the policy or its signature does not match");
    issued_.erase(issued);

    Item item;
    item.id = nextId_++;
    item.slug = randomHex();
    item.name = upload.fileName;
    item.itemType = itemTypeOf(upload.fileName);
    item.key = key.substr(0, key.find("${filename}")) + upload.fileName;
    item.size = upload.fileSize;
    item.contentType = upload.fileType;
    item.content = upload.content;
    items_.push_back(item);
    return {303,
            field(3) + "?bucket=fake-bucket&key=" +
                QUrl::toPercentEncoding(QString::fromStdString(item.key)).toStdString() +
                "&etag=" + md5(item.slug),
            {}};
}

void FakeCloudApp::routes() {
    server_.route("GET", "/items/new",
                  [this](const auto& request, auto& response) { uploadRequest(request, response); });
    server_.route("GET", "/items/s3", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorized(request, response))
            return;
        std::lock_guard guard(mutex_);
        const std::string key = request.get_param_value("key");
        for (const Item& item : items_)
            if (item.key == key)
                return response.set_content(itemJSON(item), "application/json");
        notFound(response);
    });
    server_.route("GET", "/items", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorized(request, response))
            return;
        std::lock_guard guard(mutex_);
        const long page = std::stol(request.has_param("page") ? request.get_param_value("page") : "1");
        const long perPage =
            std::stol(request.has_param("per_page") ? request.get_param_value("per_page") : "5");
        const bool deleted = request.get_param_value("deleted") == "true";
        const std::string type = request.get_param_value("type");
        std::string list = "[";
        long index = 0;
        for (const Item& item : items_) {
            if (item.deleted != deleted || (!type.empty() && item.itemType != type))
                continue;
            if (index++ / perPage == page - 1)
                list += (list.size() > 1 ? "," : "") + itemJSON(item);
        }
        response.set_content(list + "]", "application/json");
    });
    server_.route("POST", "/items", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorized(request, response))
            return;
        const QJsonObject fields = requestObject(request).value(QStringLiteral("item")).toObject();
        if (!fields.contains(QStringLiteral("redirect_url")))
            return answerJSON(response,
                              QJsonDocument(QJsonArray{QStringLiteral("Redirect url can't be blank")}), 422);
        std::lock_guard guard(mutex_);
        Item item;
        item.id = nextId_++;
        item.slug = randomHex();
        item.itemType = "bookmark";
        item.redirectURL = fields.value(QStringLiteral("redirect_url")).toString().toStdString();
        item.name = fields.value(QStringLiteral("name")).toString().toStdString();
        item.isPrivate = fields.value(QStringLiteral("private")).toString() == QLatin1String("true");
        items_.push_back(item);
        response.status = 200;
        response.set_content(itemJSON(item), "application/json");
    });
    const auto itemRoute = [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorized(request, response))
            return;
        std::lock_guard guard(mutex_);
        Item* item = find(std::stoll(request.matches[1].str()));
        if (!item)
            return notFound(response);
        if (request.method == "DELETE") {
            item->deleted = true;
        } else if (request.method == "PUT") {
            const QJsonObject body = requestObject(request);
            const QJsonObject fields = body.value(QStringLiteral("item")).toObject();
            if (fields.contains(QStringLiteral("name")))
                item->name = fields.value(QStringLiteral("name")).toString().toStdString();
            if (fields.contains(QStringLiteral("private")))
                item->isPrivate = fields.value(QStringLiteral("private")).toString() == QLatin1String("true");
            if (body.value(QStringLiteral("deleted")).toBool() &&
                fields.contains(QStringLiteral("deleted_at")) &&
                fields.value(QStringLiteral("deleted_at")).isNull())
                item->deleted = false;
        }
        response.set_content(itemJSON(*item), "application/json");
    };
    server_.route("GET", R"(/items/(\d+))", itemRoute);
    server_.route("PUT", R"(/items/(\d+))", itemRoute);
    server_.route("DELETE", R"(/items/(\d+))", itemRoute);
    // Item pages are public; asked for JSON they describe the item.
    server_.route("GET", R"(/i/(\w+))", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard guard(mutex_);
        for (const Item& item : items_)
            if (item.slug == request.matches[1].str() && !item.deleted)
                return response.set_content(itemJSON(item), "application/json");
        notFound(response);
    });
    server_.route("POST", "/register", [this](const httplib::Request& request, httplib::Response& response) {
        const QJsonObject user = requestObject(request).value(QStringLiteral("user")).toObject();
        if (user.value(QStringLiteral("email")).toString().toLower().toStdString() == email_)
            return answerJSON(response,
                              QJsonDocument(QJsonArray{QStringLiteral("Email has already been taken")}), 406);
        if (!user.value(QStringLiteral("accept_tos")).toBool())
            return answerJSON(response,
                              QJsonDocument(QJsonArray{QStringLiteral("Terms of service must be accepted")}),
                              422);
        QJsonObject account = QJsonDocument::fromJson(QByteArray::fromStdString(accountJSON())).object();
        account.insert(QStringLiteral("email"), user.value(QStringLiteral("email")));
        answerJSON(response, QJsonDocument(account), 201);
    });
    server_.route("GET", "/account", [this](const httplib::Request& request, httplib::Response& response) {
        if (authorized(request, response))
            response.set_content(accountJSON(), "application/json");
    });
    server_.route("GET", "/purchases", [this](const httplib::Request& request, httplib::Response& response) {
        if (authorized(request, response))
            response.set_content(
                R"([{"identifier":"com.linebreak.CloudAppMacOSX.pro.monthly","price":"4.99"}])",
                "application/json");
    });
    server_.route("POST", "/purchases", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorized(request, response))
            return;
        if (requestObject(request).value(QStringLiteral("receipt-data")).toString().isEmpty())
            return answerJSON(response, QJsonDocument(QJsonArray{QStringLiteral("Receipt is invalid")}), 422);
        QJsonObject account = QJsonDocument::fromJson(QByteArray::fromStdString(accountJSON())).object();
        account.insert(QStringLiteral("subscribed"), true);
        account.insert(QStringLiteral("subscription_expires_at"), QStringLiteral("2027-12-07"));
        answerJSON(response, QJsonDocument(account));
    });
}

} // namespace qm::test
