#include "net/http_client.h"

#include "net/http_client_multipart.h"
#include "net/query_string.h"
#include "platform/error.h"
#include "platform/property_list.h"
#include "json/writer.h"

#include <QLocale>
#include <QSysInfo>
#include <QtDebug>

namespace qm::net {

namespace {

[[noreturn]] void refuse(const char* condition) {
    throw platform::InvalidArgument(
        QStringLiteral("Invalid parameter not satisfying: %1").arg(QLatin1String(condition)));
}

bool isASCII(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > 0x7f)
            return false;
    return true;
}

// Decomposition drops accents; scripts without a Latin decomposition make it fail.
std::optional<QString> latinTransliteration(const QString& text) {
    QString out;
    for (QChar c : text.normalized(QString::NormalizationForm_KD))
        if (c.category() != QChar::Mark_NonSpacing)
            out.append(c);
    if (!isASCII(out))
        return std::nullopt;
    return out;
}

void removeHeader(HeaderList& headers, const QByteArray& name) {
    headers.removeIf([&](const auto& h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
}

QByteArray charsetName(QStringConverter::Encoding encoding) {
    return QByteArray(QStringConverter::nameForEncoding(encoding)).toLower();
}

} // namespace

ClientIdentity ClientIdentity::fromBundle(const platform::Bundle& bundle) {
    ClientIdentity identity;
    identity.name = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleExecutable")).toString();
    if (identity.name.isEmpty())
        identity.name = bundle.identifier();
    identity.version = bundle.shortVersion();
    if (identity.version.isEmpty())
        identity.version = bundle.version();
    return identity;
}

HTTPClient::HTTPClient(const QUrl& baseURL, const ClientIdentity& identity) {
    if (baseURL.isEmpty())
        refuse("url");
    baseURL_ = baseURL;
    // Relative paths resolve under the last segment only when it ends in "/".
    if (!baseURL_.path().isEmpty() && !baseURL_.toString(QUrl::FullyEncoded).endsWith(QLatin1Char('/')))
        baseURL_.setPath(baseURL_.path(QUrl::FullyEncoded) + QLatin1Char('/'), QUrl::StrictMode);

    setDefaultHeader("Accept-Language", acceptLanguageHeader(QLocale::system().uiLanguages()));
    const QByteArray agent = userAgentHeader(identity);
    if (!agent.isEmpty())
        setDefaultHeader("User-Agent", agent);
}

HTTPClient::~HTTPClient() = default;

QByteArray HTTPClient::acceptLanguageHeader(const QStringList& preferredLanguages) {
    QStringList entries;
    for (qsizetype i = 0; i < preferredLanguages.size(); ++i) {
        // Single precision on purpose: it decides where the list stops.
        const float q = 1.0f - 0.1f * float(i);
        entries.append(
            QStringLiteral("%1;q=%2").arg(preferredLanguages[i], QString::asprintf("%0.1g", double(q))));
        if (q <= 0.5f)
            break;
    }
    return entries.join(QStringLiteral(", ")).toUtf8();
}

QByteArray HTTPClient::userAgentHeader(const ClientIdentity& identity) {
    if (identity.name.isEmpty())
        return {};
    QString agent =
        QStringLiteral("%1/%2 (%3)").arg(identity.name, identity.version, QSysInfo::prettyProductName());
    if (!isASCII(agent))
        if (auto latin = latinTransliteration(agent))
            agent = *latin;
    return agent.toUtf8();
}

QByteArray HTTPClient::defaultValueForHeader(const QByteArray& header) const {
    return headerValue(defaultHeaders_, header);
}

void HTTPClient::setDefaultHeader(const QByteArray& header, const QByteArray& value) {
    if (value.isNull())
        removeHeader(defaultHeaders_, header);
    else
        setHeaderValue(defaultHeaders_, header, value);
}

void HTTPClient::setAuthorizationHeaderWithUsername(const QString& username, const QString& password) {
    const QByteArray pair = QStringLiteral("%1:%2").arg(username, password).toUtf8();
    setDefaultHeader("Authorization", "Basic " + pair.toBase64());
}

void HTTPClient::setAuthorizationHeaderWithToken(const QString& token) {
    setDefaultHeader("Authorization", QStringLiteral("Token token=\"%1\"").arg(token).toUtf8());
}

void HTTPClient::clearAuthorizationHeader() {
    removeHeader(defaultHeaders_, "Authorization");
}

bool HTTPClient::registerHTTPOperationClass(const HTTPOperationClass& operationClass) {
    if (operationClass.name.isEmpty() || !operationClass.canProcessRequest || !operationClass.create)
        return false;
    unregisterHTTPOperationClass(operationClass.name);
    operationClasses_.prepend(operationClass);
    return true;
}

void HTTPClient::unregisterHTTPOperationClass(const QString& name) {
    operationClasses_.removeIf([&](const HTTPOperationClass& c) { return c.name == name; });
}

QStringList HTTPClient::registeredHTTPOperationClassNames() const {
    QStringList names;
    for (const auto& c : operationClasses_)
        names.append(c.name);
    return names;
}

HTTPRequest HTTPClient::requestWithMethod(const QByteArray& method, const QString& path,
                                          const QVariant& parameters) const {
    if (method.isNull())
        refuse("method");
    HTTPRequest request(baseURL_.resolved(QUrl(path)), method);
    request.headers = defaultHeaders_;
    if (!parameters.isValid())
        return request;

    if (method == "GET" || method == "HEAD" || method == "DELETE") {
        // Decided on the path argument, so a bare trailing "?" takes "&" as well.
        const QString separator = path.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?");
        const QString query = queryStringFromParameters(parameters, stringEncoding_);
        request.url =
            QUrl::fromEncoded((request.url.toString(QUrl::FullyEncoded) + separator + query).toUtf8());
        return request;
    }

    const QByteArray charset = charsetName(stringEncoding_);
    switch (parameterEncoding_) {
    case FormURLParameterEncoding: {
        request.setHeader("Content-Type", "application/x-www-form-urlencoded; charset=" + charset);
        auto encoder = QStringEncoder(stringEncoding_);
        request.body = encoder(queryStringFromParameters(parameters, stringEncoding_));
        break;
    }
    case JSONParameterEncoding: {
        request.setHeader("Content-Type", "application/json; charset=" + charset);
        const auto body = json::Writer().dataWithObject(parameters);
        request.body = body.valueOr(QByteArray());
        if (!body)
            qWarning("%s %s: %s", "QNHTTPClient",
                     "requestWithMethod:path:parameters:", qPrintable(body.error().localizedDescription));
        break;
    }
    case PropertyListParameterEncoding: {
        request.setHeader("Content-Type", "application/x-plist; charset=" + charset);
        request.body = platform::plist::toXml(parameters);
        if (request.body.isEmpty())
            qWarning("%s %s: %s", "QNHTTPClient",
                     "requestWithMethod:path:parameters:", "the parameters have no property-list form");
        break;
    }
    default:
        break;
    }
    return request;
}

HTTPRequest HTTPClient::multipartFormRequestWithMethod(const QByteArray& method, const QString& path,
                                                       const QVariant& parameters,
                                                       const MultipartBlock& block) const {
    if (method.isNull())
        refuse("method");
    if (method == "GET" || method == "HEAD")
        refuse("method != \"GET\" && method != \"HEAD\"");
    HTTPRequest request = requestWithMethod(method, path);
    MultipartBody body = buildMultipartBody(parameters, block);
    if (!body.device)
        return request;
    request.setHeader("Content-Type", body.contentType.toUtf8());
    request.setHeader("Content-Length", QByteArray::number(body.contentLength));
    request.bodyDevice = std::move(body.device);
    request.bodyLength = qint64(body.contentLength);
    return request;
}

std::shared_ptr<HTTPRequestOperation>
HTTPClient::HTTPRequestOperationWithRequest(HTTPRequest request, Success success, Failure failure) const {
    std::shared_ptr<HTTPRequestOperation> operation;
    for (const auto& c : operationClasses_)
        if (c.canProcessRequest(request)) {
            operation = c.create(request);
            break;
        }
    if (!operation)
        operation = HTTPRequestOperation::create(std::move(request));
    operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    operation->setCredential(defaultCredential_);
    operation->setSSLPinningMode(pinningMode_);
    operation->setAllowsInvalidSSLCertificate(allowsInvalidSSLCertificate_);
    return operation;
}

void HTTPClient::pruneOperations() {
    queue_.removeIf([](const auto& op) { return op->isFinished(); });
}

void HTTPClient::enqueueHTTPRequestOperation(const std::shared_ptr<HTTPRequestOperation>& operation) {
    if (!operation)
        return;
    pruneOperations();
    // No concurrency limit, so adding is starting.
    queue_.append(operation);
    operation->start();
}

QList<std::shared_ptr<HTTPRequestOperation>> HTTPClient::operations() const {
    QList<std::shared_ptr<HTTPRequestOperation>> live;
    for (const auto& op : queue_)
        if (!op->isFinished())
            live.append(op);
    return live;
}

void HTTPClient::cancelAllHTTPOperationsWithMethod(const QByteArray& method, const QString& path) {
    const QUrl target = requestWithMethod(method.isEmpty() ? QByteArray("GET") : method, path).url;
    const QString targetText = target.toString(QUrl::FullyEncoded);
    for (const auto& op : operations()) {
        const HTTPRequest request = op->request();
        if ((method.isEmpty() || request.method == method) &&
            request.url.toString(QUrl::FullyEncoded) == targetText)
            op->cancel();
    }
    pruneOperations();
}

void HTTPClient::runVerb(const QByteArray& method, const QString& path, const QVariant& parameters,
                         Success success, Failure failure) {
    enqueueHTTPRequestOperation(HTTPRequestOperationWithRequest(requestWithMethod(method, path, parameters),
                                                                std::move(success), std::move(failure)));
}

void HTTPClient::getPath(const QString& path, const QVariant& parameters, Success success, Failure failure) {
    runVerb("GET", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::postPath(const QString& path, const QVariant& parameters, Success success, Failure failure) {
    runVerb("POST", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::putPath(const QString& path, const QVariant& parameters, Success success, Failure failure) {
    runVerb("PUT", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::deletePath(const QString& path, const QVariant& parameters, Success success,
                            Failure failure) {
    runVerb("DELETE", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::patchPath(const QString& path, const QVariant& parameters, Success success,
                           Failure failure) {
    runVerb("PATCH", path, parameters, std::move(success), std::move(failure));
}

} // namespace qm::net
