#pragma once

#include "net/http_request_operation.h"
#include "platform/bundle.h"

#include <QStringConverter>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <type_traits>
#include <typeinfo>

namespace qm::net {

class MultipartFormData;

// Who speaks through a client, for its User-Agent; handed in by whoever holds the bundle.
struct ClientIdentity {
    QString name;    // the executable's name, else the bundle identifier
    QString version; // the short version string, else the build version

    static ClientIdentity fromBundle(const platform::Bundle& bundle);
};

// An operation class as the client sees it: whether it claims a request, and how to make one.
struct HTTPOperationClass {
    QString name;
    std::function<bool(const HTTPRequest&)> canProcessRequest;
    std::function<std::shared_ptr<HTTPRequestOperation>(HTTPRequest)> create;

    template <class Op> static HTTPOperationClass of() {
        return {QString::fromLatin1(typeid(Op).name()),
                [](const HTTPRequest& request) { return Op::canProcessRequest(request); },
                [](HTTPRequest request) -> std::shared_ptr<HTTPRequestOperation> {
                    return Op::create(std::move(request));
                }};
    }
};

// Holds a base URL and default headers, builds requests against them and runs their operations.
class HTTPClient {
public:
    enum ParameterEncoding {
        FormURLParameterEncoding = 0,
        JSONParameterEncoding = 1,
        PropertyListParameterEncoding = 2
    };
    using Success = HTTPRequestOperation::Success;
    using Failure = HTTPRequestOperation::Failure;
    using MultipartBlock = std::function<void(MultipartFormData&)>;

    // An empty URL throws platform::InvalidArgument. Without an identity no User-Agent is sent.
    explicit HTTPClient(const QUrl& baseURL, const ClientIdentity& identity = {});
    HTTPClient() = delete;
    HTTPClient(const HTTPClient&) = delete;
    HTTPClient& operator=(const HTTPClient&) = delete;
    virtual ~HTTPClient();

    static std::shared_ptr<HTTPClient> clientWithBaseURL(const QUrl& baseURL,
                                                         const ClientIdentity& identity = {}) {
        return std::make_shared<HTTPClient>(baseURL, identity);
    }

    const QUrl& baseURL() const { return baseURL_; }
    QStringConverter::Encoding stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(QStringConverter::Encoding encoding) { stringEncoding_ = encoding; }
    int parameterEncoding() const { return parameterEncoding_; }
    void setParameterEncoding(int encoding) { parameterEncoding_ = encoding; }

    const HeaderList& defaultHeaders() const { return defaultHeaders_; }
    QByteArray defaultValueForHeader(const QByteArray& header) const;
    // A null value removes the header.
    void setDefaultHeader(const QByteArray& header, const QByteArray& value);
    void setAuthorizationHeaderWithUsername(const QString& username, const QString& password);
    virtual void setAuthorizationHeaderWithToken(const QString& token);
    void clearAuthorizationHeader();

    const std::optional<Credential>& defaultCredential() const { return defaultCredential_; }
    void setDefaultCredential(std::optional<Credential> credential) {
        defaultCredential_ = std::move(credential);
    }
    URLConnectionOperation::SSLPinningMode defaultSSLPinningMode() const { return pinningMode_; }
    void setDefaultSSLPinningMode(URLConnectionOperation::SSLPinningMode mode) { pinningMode_ = mode; }
    bool allowsInvalidSSLCertificate() const { return allowsInvalidSSLCertificate_; }
    void setAllowsInvalidSSLCertificate(bool allows) { allowsInvalidSSLCertificate_ = allows; }

    // Moves the class to the front; false for a class that is not an HTTPRequestOperation or that
    // lacks a name, a claim test or a factory.
    bool registerHTTPOperationClass(const HTTPOperationClass& operationClass);
    template <class Op> bool registerHTTPOperationClass() {
        if constexpr (std::is_base_of_v<HTTPRequestOperation, Op>)
            return registerHTTPOperationClass(HTTPOperationClass::of<Op>());
        else
            return false;
    }
    void unregisterHTTPOperationClass(const QString& name);
    template <class Op> void unregisterHTTPOperationClass() {
        unregisterHTTPOperationClass(QString::fromLatin1(typeid(Op).name()));
    }
    QStringList registeredHTTPOperationClassNames() const;

    // A null method throws platform::InvalidArgument; an invalid `parameters` means "none", while an
    // empty map still counts as parameters.
    virtual HTTPRequest requestWithMethod(const QByteArray& method, const QString& path,
                                          const QVariant& parameters = {}) const;
    // Refuses GET and HEAD. Without any part the request keeps no body.
    HTTPRequest multipartFormRequestWithMethod(const QByteArray& method, const QString& path,
                                               const QVariant& parameters, const MultipartBlock& block) const;

    std::shared_ptr<HTTPRequestOperation>
    HTTPRequestOperationWithRequest(HTTPRequest request, Success success, Failure failure) const;
    void enqueueHTTPRequestOperation(const std::shared_ptr<HTTPRequestOperation>& operation);
    // An empty method matches any method.
    void cancelAllHTTPOperationsWithMethod(const QByteArray& method, const QString& path);
    // Operations enqueued and not yet finished.
    QList<std::shared_ptr<HTTPRequestOperation>> operations() const;

    void getPath(const QString& path, const QVariant& parameters, Success success, Failure failure);
    void postPath(const QString& path, const QVariant& parameters, Success success, Failure failure);
    void putPath(const QString& path, const QVariant& parameters, Success success, Failure failure);
    void deletePath(const QString& path, const QVariant& parameters, Success success, Failure failure);
    void patchPath(const QString& path, const QVariant& parameters, Success success, Failure failure);

    // "lang;q=…" entries joined with ", ", stopping after the first entry with q at most 0.5.
    static QByteArray acceptLanguageHeader(const QStringList& preferredLanguages);
    // "name/version (system)", transliterated to Latin when it is not ASCII; empty without a name.
    static QByteArray userAgentHeader(const ClientIdentity& identity);

private:
    void runVerb(const QByteArray& method, const QString& path, const QVariant& parameters, Success success,
                 Failure failure);
    void pruneOperations();

    QUrl baseURL_;
    QStringConverter::Encoding stringEncoding_ = QStringConverter::Utf8;
    int parameterEncoding_ = FormURLParameterEncoding;
    QList<HTTPOperationClass> operationClasses_;
    HeaderList defaultHeaders_;
    std::optional<Credential> defaultCredential_;
    URLConnectionOperation::SSLPinningMode pinningMode_ = URLConnectionOperation::SSLPinningModeNone;
    bool allowsInvalidSSLCertificate_ = false;
    QList<std::shared_ptr<HTTPRequestOperation>> queue_;
};

using QNHTTPClient = HTTPClient;

} // namespace qm::net
