#include "servers/droplr/fake_droplr.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <algorithm>

namespace qm::test {

namespace {

constexpr char kAccept[] = "application/json;v=0.9";
constexpr char kAgentPrefix[] = "DKClient/2.1.2 ";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string sha1Hex(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha1)
        .toHex()
        .toStdString();
}

std::string expectedSignature(const std::string& secret, const std::string& method, const std::string& path,
                              const std::string& contentType, const std::string& date) {
    const std::string toSign = method + " " + path + " HTTP/1.1\n" + contentType + "\n" + date;
    return QMessageAuthenticationCode::hash(QByteArray::fromStdString(toSign),
                                            QByteArray::fromStdString(secret), QCryptographicHash::Sha1)
        .toBase64()
        .toStdString();
}

QJsonObject object(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

std::string compact(const QJsonObject& value) {
    return QJsonDocument(value).toJson(QJsonDocument::Compact).toStdString();
}

std::string dropTypeFor(const std::string& contentType) {
    for (const char* kind : {"image", "audio", "video"})
        if (contentType.rfind(std::string(kind) + "/", 0) == 0)
            return lower(kind);
    return "file";
}

} // namespace

FakeDroplr::FakeDroplr(std::string publicKey, std::string privateKey)
    : publicKey_(std::move(publicKey))
    , privateKey_(std::move(privateKey)) {
    addAccount(kAnonymousEmail, kAnonymousPassword);
    server_.route("GET", "/account", [this](const httplib::Request& req, httplib::Response& res) {
        if (const Account* account = authenticate(req, res))
            res.set_content(accountJson(*account), "application/json");
    });
    for (const char* kind : {"links", "notes", "files"})
        server_.route(
            "POST", std::string("/") + kind,
            [this, kind](const httplib::Request& req, httplib::Response& res) { create(req, res, kind); });
    server_.route("GET", "/drops", [this](const httplib::Request& req, httplib::Response& res) {
        const Account* account = authenticate(req, res);
        if (!account)
            return;
        std::lock_guard guard(mutex_);
        std::vector<const Drop*> found;
        for (const Drop& drop : drops_)
            if (drop.owner == account->email &&
                (!req.has_param("type") || lower(req.get_param_value("type")) == drop.type) &&
                (!req.has_param("search") ||
                 drop.title.find(req.get_param_value("search")) != std::string::npos))
                found.push_back(&drop);
        if (req.get_param_value("order") != "asc")
            std::reverse(found.begin(), found.end());
        const size_t offset = req.has_param("offset") ? std::stoul(req.get_param_value("offset")) : 0;
        const size_t amount = req.has_param("amount") ? std::stoul(req.get_param_value("amount")) : 100;
        std::string body = "[";
        for (size_t i = offset; i < found.size() && i < offset + amount; ++i)
            body += (i > offset ? "," : "") + dropJson(*found[i], true);
        res.set_content(body + "]", "application/json");
    });
    server_.route("GET", "/drops/([^/]+)", [this](const httplib::Request& req, httplib::Response& res) {
        const Account* account = authenticate(req, res);
        if (!account)
            return;
        std::lock_guard guard(mutex_);
        for (const Drop& drop : drops_)
            if (drop.code == req.matches[1].str() && drop.owner == account->email)
                return res.set_content(dropJson(drop, true), "application/json");
        refuse(res, 404, "Drop.NotFound", "There is no such drop.");
    });
    server_.route("PUT", "/drops/([^/]+)", [this](const httplib::Request& req, httplib::Response& res) {
        const Account* account = authenticate(req, res);
        if (!account)
            return;
        if (req.get_header_value("Content-Type") != kAccept)
            return refuse(res, 400, "Request.BadContentType", "Updates are JSON of version 0.9.");
        const QJsonObject fields = object(req.body);
        std::lock_guard guard(mutex_);
        for (Drop& drop : drops_) {
            if (drop.code != req.matches[1].str() || drop.owner != account->email)
                continue;
            if (fields.contains(QStringLiteral("title")))
                drop.title = fields.value(QStringLiteral("title")).toString().toStdString();
            if (fields.contains(QStringLiteral("content")))
                drop.content = fields.value(QStringLiteral("content")).toString().toStdString();
            if (fields.contains(QStringLiteral("privacy")))
                drop.privacy = fields.value(QStringLiteral("privacy")).toString().toStdString();
            if (fields.contains(QStringLiteral("password")))
                drop.password = fields.value(QStringLiteral("password")).toString().toStdString();
            return res.set_content(dropJson(drop, true), "application/json");
        }
        refuse(res, 404, "Drop.NotFound", "There is no such drop.");
    });
    server_.route("DELETE", "/drops/([^/]+)", [this](const httplib::Request& req, httplib::Response& res) {
        const Account* account = authenticate(req, res);
        if (!account)
            return;
        std::lock_guard guard(mutex_);
        const auto found = std::find_if(drops_.begin(), drops_.end(), [&](const Drop& drop) {
            return drop.code == req.matches[1].str() && drop.owner == account->email;
        });
        if (found == drops_.end())
            return refuse(res, 404, "Drop.NotFound", "There is no such drop.");
        drops_.erase(found);
        res.status = 204;
    });
    server_.route(
        "GET", "/api/userinfo/([^/]+)", [this](const httplib::Request& req, httplib::Response& res) {
            if (!authenticate(req, res, true))
                return;
            std::lock_guard guard(mutex_);
            const auto token = tokens_.find(req.matches[1].str());
            if (token == tokens_.end())
                return refuse(res, 404, "Token.Unknown", "The access token is unknown or has expired.");
            const Account& account = accounts_.at(token->second);
            QJsonObject inner{
                {QStringLiteral("access_token_public"), QString::fromStdString(account.email)},
                {QStringLiteral("access_token_secret"), QString::fromStdString(sha1Hex(account.password))}};
            res.set_content(compact(QJsonObject{{QStringLiteral("droplr"), inner}}), "application/json");
        });
}

void FakeDroplr::addAccount(const std::string& email, const std::string& password,
                            const std::string& dropPrivacy) {
    std::lock_guard guard(mutex_);
    accounts_[lower(email)] = {lower(email), password, dropPrivacy};
}

void FakeDroplr::addAccessToken(const std::string& token, const std::string& email) {
    std::lock_guard guard(mutex_);
    tokens_[token] = lower(email);
}

void FakeDroplr::setClockOffset(std::chrono::milliseconds offset) {
    std::lock_guard guard(mutex_);
    offset_ = offset;
}

void FakeDroplr::setAllowedSkew(std::chrono::milliseconds skew) {
    std::lock_guard guard(mutex_);
    skew_ = skew;
}

void FakeDroplr::setNextShortlink(std::string shortlink) {
    std::lock_guard guard(mutex_);
    nextShortlink_ = std::move(shortlink);
}

std::vector<FakeDroplr::Drop> FakeDroplr::drops() const {
    std::lock_guard guard(mutex_);
    return drops_;
}

std::optional<FakeDroplr::Drop> FakeDroplr::dropWithLink(const std::string& shortlink) const {
    std::lock_guard guard(mutex_);
    for (const Drop& drop : drops_)
        if (drop.shortlink == shortlink)
            return drop;
    return std::nullopt;
}

int FakeDroplr::refusals() const {
    std::lock_guard guard(mutex_);
    return refusals_;
}

long long FakeDroplr::now() const {
    return QDateTime::currentMSecsSinceEpoch() + offset_.count();
}

void FakeDroplr::refuse(httplib::Response& response, int status, const std::string& code,
                        const std::string& details) {
    {
        std::lock_guard guard(mutex_);
        ++refusals_;
    }
    response.status = status;
    response.set_header("droplr-errorcode", code);
    response.set_header("droplr-errordetails", details);
    response.set_content(compact(QJsonObject{{QStringLiteral("error"), QString::fromStdString(code)}}),
                         "application/json");
}

const FakeDroplr::Account* FakeDroplr::authenticate(const httplib::Request& request,
                                                    httplib::Response& response, bool anonymous) {
    if (request.get_header_value("Accept") != kAccept)
        return refuse(response, 406, "Request.BadAccept", "Only application/json;v=0.9 is served."), nullptr;
    if (request.get_header_value("User-Agent").rfind(kAgentPrefix, 0) != 0)
        return refuse(response, 400, "Request.BadUserAgent", "Unknown client."), nullptr;
    const std::string authorization = request.get_header_value("Authorization");
    const std::string realm = anonymous ? "droplranon " : "droplr ";
    const size_t colon = authorization.rfind(':');
    if (authorization.rfind(realm, 0) != 0 || colon == std::string::npos || colon < realm.size())
        return refuse(response, 401, "Authentication.Missing", "The request is not signed."), nullptr;
    const std::string accessKey =
        QByteArray::fromBase64(
            QByteArray::fromStdString(authorization.substr(realm.size(), colon - realm.size())))
            .toStdString();
    const size_t split = accessKey.find(':');
    if (split == std::string::npos || accessKey.substr(0, split) != publicKey_)
        return refuse(response, 401, "Authentication.UnknownApplication", "The application key is unknown."),
               nullptr;
    const std::string date = request.get_header_value("Date");
    std::unique_lock guard(mutex_);
    const auto account = accounts_.find(accessKey.substr(split + 1));
    const bool anonymousUser = account != accounts_.end() && account->first == kAnonymousEmail;
    const std::chrono::milliseconds skew = skew_;
    const long long clock = now();
    guard.unlock();
    if (account == accounts_.end() || anonymousUser != anonymous)
        return refuse(response, 401, "Authentication.UnknownUser",
                      "There is no account with this e-mail address."),
               nullptr;
    if (date.empty() || date.find_first_not_of("0123456789") != std::string::npos ||
        std::llabs(std::stoll(date) - clock) > skew.count())
        return refuse(response, 401, "Authentication.StaleDate",
                      "The request's date is too far from the server's clock."),
               nullptr;
    const std::string secret = privateKey_ + ":" + sha1Hex(account->second.password);
    if (authorization.substr(colon + 1) != expectedSignature(secret, request.method, request.path,
                                                             request.get_header_value("Content-Type"), date))
        return refuse(response, 401, "Authentication.BadSignature",
                      "The request's signature does not match: check the e-mail address and password."),
               nullptr;
    return &account->second;
}

void FakeDroplr::create(const httplib::Request& request, httplib::Response& response,
                        const std::string& kind) {
    const Account* account = authenticate(request, response);
    if (!account)
        return;
    const std::string contentType = request.get_header_value("Content-Type");
    const std::string length = request.get_header_value("Content-Length");
    if (length.empty() || std::stoull(length) != request.body.size())
        return refuse(response, 400, "Request.BadLength", "The body does not have its announced length.");
    Drop drop;
    drop.contentType = contentType;
    drop.size = request.body.size();
    if (drop.size < kLoggedBodyLimit)
        drop.content = request.body;
    drop.title = request.get_param_value("title");
    if (kind == "links") {
        if (contentType != "text/plain" || request.body.rfind("http", 0) != 0)
            return refuse(response, 400, "Request.BadLink", "A link is an http or https URL as plain text.");
        drop.type = "link";
    } else if (kind == "notes") {
        if (contentType.rfind("text/", 0) != 0 || request.body.empty())
            return refuse(response, 400, "Request.BadNote", "A note is text.");
        drop.type = "note";
        drop.variant = contentType.substr(5);
    } else {
        drop.title = request.get_param_value("filename");
        if (drop.title.empty())
            return refuse(response, 400, "Request.MissingFilename", "A file needs a filename.");
        if (contentType.find('/') == std::string::npos)
            return refuse(response, 400, "Request.BadContentType", "A file needs its MIME type.");
        drop.type = dropTypeFor(contentType);
    }
    std::lock_guard guard(mutex_);
    drop.owner = account->email;
    drop.code = "d" + std::to_string(++counter_);
    drop.createdAt = now();
    drop.privacy = request.has_param("privacy") ? request.get_param_value("privacy") : account->dropPrivacy;
    drop.password = request.get_param_value("password");
    if (lower(drop.privacy) == "private" && drop.password.empty())
        drop.password = "pw" + drop.code;
    drop.obscureCode = "o" + drop.code;
    drop.shortlink = nextShortlink_.empty() ? "https://d.pr/" + drop.type.substr(0, 1) + "/" + drop.code
                                            : std::exchange(nextShortlink_, std::string());
    drops_.push_back(drop);
    response.status = 201;
    response.set_content(dropJson(drop, false), "application/json");
}

std::string FakeDroplr::dropJson(const Drop& drop, bool full) const {
    QJsonObject json{{QStringLiteral("code"), QString::fromStdString(drop.code)},
                     {QStringLiteral("createdAt"), drop.createdAt},
                     {QStringLiteral("type"), QString::fromStdString(drop.type).toUpper()},
                     {QStringLiteral("title"), QString::fromStdString(drop.title)},
                     {QStringLiteral("size"), static_cast<qint64>(drop.size)},
                     {QStringLiteral("shortlink"), QString::fromStdString(drop.shortlink)},
                     {QStringLiteral("privacy"), QString::fromStdString(drop.privacy)},
                     {QStringLiteral("obscureCode"), QString::fromStdString(drop.obscureCode)}};
    if (!drop.variant.empty())
        json.insert(QStringLiteral("variant"), QString::fromStdString(drop.variant));
    if (!drop.password.empty())
        json.insert(QStringLiteral("password"), QString::fromStdString(drop.password));
    if (drop.type != "link" && drop.type != "note")
        json.insert(QStringLiteral("fileCreatedAt"), drop.createdAt);
    if (full) {
        json.insert(QStringLiteral("views"), 0);
        if (drop.type == "link" || drop.type == "note")
            json.insert(QStringLiteral("content"), QString::fromStdString(drop.content));
    }
    return compact(json);
}

std::string FakeDroplr::accountJson(const Account& account) const {
    int active = 0;
    {
        std::lock_guard guard(mutex_);
        for (const Drop& drop : drops_)
            active += drop.owner == account.email ? 1 : 0;
    }
    return compact(QJsonObject{
        {QStringLiteral("id"), QString::fromStdString("u-" + sha1Hex(account.email).substr(0, 8))},
        {QStringLiteral("createdAt"), qint64(1356998400123)},
        {QStringLiteral("type"), QStringLiteral("PRO")},
        {QStringLiteral("subscriptionEnd"), now() + qint64(365) * 24 * 3600 * 1000},
        {QStringLiteral("email"), QString::fromStdString(account.email)},
        {QStringLiteral("dropPrivacy"), QString::fromStdString(account.dropPrivacy)},
        {QStringLiteral("activeDrops"), active},
        {QStringLiteral("dropCount"), active}});
}

} // namespace qm::test
