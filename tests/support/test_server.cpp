#include "support/test_server.h"

#include <QCryptographicHash>
#include <algorithm>

namespace qm::test {

std::string pkceChallenge(const std::string& verifier) {
    return QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

QString followSignInPage(const QUrl& page) {
    httplib::Client client(page.host().toStdString(), page.port());
    const auto answer = client.Get(page.path(QUrl::FullyEncoded).toStdString() + "?" +
                                   page.query(QUrl::FullyEncoded).toStdString());
    if (!answer || answer->status != 302)
        return {};
    return QString::fromStdString(answer->get_header_value("Location"));
}

std::string LoggedRequest::header(const std::string& name) const {
    return httplib::detail::get_header_value(headers, name, 0, "");
}

std::string LoggedRequest::param(const std::string& name) const {
    const auto found = params.find(name);
    return found == params.end() ? std::string() : found->second;
}

void RequestLog::add(const httplib::Request& request) {
    const bool keepBody = request.body.size() < kLoggedBodyLimit;
    LoggedRequest logged{
        request.method,      request.path,    request.target, keepBody ? request.body : std::string(),
        request.body.size(), request.headers, request.params, request.files};
    if (!keepBody)
        for (auto& [name, part] : logged.files)
            part.content.clear();
    std::lock_guard guard(mutex_);
    requests_.push_back(std::move(logged));
}

void RequestLog::add(LoggedRequest request) {
    std::lock_guard guard(mutex_);
    requests_.push_back(std::move(request));
}

std::vector<LoggedRequest> RequestLog::all() const {
    std::lock_guard guard(mutex_);
    return requests_;
}

LoggedRequest RequestLog::last() const {
    std::lock_guard guard(mutex_);
    return requests_.empty() ? LoggedRequest() : requests_.back();
}

size_t RequestLog::size() const {
    std::lock_guard guard(mutex_);
    return requests_.size();
}

void RequestLog::clear() {
    std::lock_guard guard(mutex_);
    requests_.clear();
}

TestServer::TestServer(std::optional<Tls> tls)
    : https_(tls.has_value()) {
    if (tls)
        server_ = std::make_unique<httplib::SSLServer>(tls->certificatePath.toLocal8Bit().constData(),
                                                       tls->keyPath.toLocal8Bit().constData());
    else
        server_ = std::make_unique<httplib::Server>();
    if (!server_->is_valid())
        return;
    server_->set_keep_alive_max_count(1);
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) { dispatch(req, res); };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    server_->Patch(".*", handler);
    server_->Delete(".*", handler);
    server_->Options(".*", handler);
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A stop() that came before the loop runs would be lost, and the join would never end.
    for (int i = 0; i < 5000 && !server_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
    {
        std::lock_guard guard(mutex_);
        stopped_ = true;
    }
    stopping_.notify_all();
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

TestServer& TestServer::route(const std::string& method, const std::string& pattern, Handler handler) {
    std::lock_guard guard(mutex_);
    const auto same = [&](const Route& r) { return r.method == method && r.pattern == pattern; };
    if (const auto found = std::find_if(routes_.begin(), routes_.end(), same); found != routes_.end())
        found->handler = std::move(handler);
    else
        routes_.push_back({method, pattern, std::regex(pattern), std::move(handler)});
    return *this;
}

TestServer& TestServer::routeAll(const std::string& pattern, const Handler& handler) {
    for (const char* method : {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"})
        route(method, pattern, handler);
    return *this;
}

void TestServer::setFault(Fault fault) {
    std::lock_guard guard(mutex_);
    faults_.push_back(std::move(fault));
}

void TestServer::clearFaults() {
    std::lock_guard guard(mutex_);
    faults_.clear();
}

QUrl TestServer::url(const QString& path, const QString& host) const {
    return QUrl(QStringLiteral("%1://%2:%3%4")
                    .arg(QLatin1String(https_ ? "https" : "http"), host)
                    .arg(port_)
                    .arg(path));
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::optional<Fault> takeFault(std::vector<Fault>& faults, const std::string& path) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (!path.starts_with(it->pathPrefix))
            continue;
        Fault fault = *it;
        if (it->remaining > 0 && --it->remaining == 0)
            faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

std::optional<Fault> TestServer::takeFault(const std::string& path) {
    std::lock_guard guard(mutex_);
    return qm::test::takeFault(faults_, path);
}

void TestServer::dispatch(const httplib::Request& request, httplib::Response& response) {
    log_.add(request);
    // HEAD reaches httplib's GET routes; here it keeps its own name.
    httplib::Request matched = request;
    Handler handler;
    {
        std::lock_guard guard(mutex_);
        for (const Route& r : routes_)
            if (r.method == request.method && std::regex_match(matched.path, matched.matches, r.regex)) {
                handler = r.handler;
                break;
            }
    }
    if (const auto fault = takeFault(request.path)) {
        apply(*fault, matched, response, handler);
        return;
    }
    if (handler)
        handler(matched, response);
    else
        response.status = 404;
}

bool TestServer::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopping_.wait_for(lock, duration, [this] { return stopped_; });
}

void TestServer::apply(const Fault& fault, const httplib::Request& request, httplib::Response& response,
                       const Handler& handler) {
    using Kind = Fault::Kind;
    switch (fault.kind) {
    case Kind::Status:
        response.status = fault.code;
        response.set_content("status " + std::to_string(fault.code), "text/plain");
        return;
    case Kind::ExpiredToken:
        response.status = 401;
        response.set_header("WWW-Authenticate", "Bearer realm=\"test\", error=\"invalid_token\"");
        response.set_content(R"({"error":"invalid_token"})", "application/json");
        return;
    case Kind::Stall:
        if (!pause(fault.interval))
            return;
        break;
    default:
        break;
    }
    if (handler)
        handler(request, response);
    else
        response.status = 404;
    if (fault.kind == Kind::Stall)
        return;
    if (fault.kind == Kind::MalformedBody) {
        response.body = response.body.substr(0, response.body.size() / 2) + "<{";
        return;
    }
    // The rest is sent by a provider: the whole announced length, but not all of it arrives, or slowly.
    auto body = std::make_shared<std::string>(response.body.empty() ? std::string(4096, 'x') : response.body);
    const std::string type = response.get_header_value("Content-Type");
    const bool drop = fault.kind == Kind::DropMidBody;
    const size_t chunk = std::max<size_t>(1, drop ? body->size() / 2 : fault.chunk);
    response.body.clear();
    response.headers.erase("Content-Type");
    response.set_content_provider(
        body->size(), type.empty() ? "application/octet-stream" : type.c_str(),
        [this, body, drop, chunk, interval = fault.interval](size_t offset, size_t, httplib::DataSink& sink) {
            if (drop && offset > 0)
                return false; // closes the connection with the rest unsent
            if (offset > 0 && !pause(interval))
                return false;
            return sink.write(body->data() + offset, std::min(chunk, body->size() - offset));
        });
}

} // namespace qm::test
