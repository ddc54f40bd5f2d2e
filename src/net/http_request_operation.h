#pragma once

#include "net/net_error.h"
#include "net/url_connection_operation.h"

#include <QPointer>
#include <QSet>
#include <QVariant>
#include <set>

namespace qm::net {

inline constexpr auto kFailingURLRequestErrorKey = "QMNetOperationFailingURLRequestErrorKey";
inline constexpr auto kFailingURLResponseErrorKey = "QMNetOperationFailingURLResponseErrorKey";

using StatusCodeSet = std::set<int>;
// No value: every content type is acceptable.
using ContentTypeSet = std::optional<QSet<QString>>;

// The class-level acceptable sets of one operation class. Each class keeps one as a static and
// answers through the virtuals below, so later registrations reach every later operation of it.
class AcceptableSets {
public:
    AcceptableSets(StatusCodeSet codes, ContentTypeSet types)
        : codes_(std::move(codes))
        , types_(std::move(types)) {}
    StatusCodeSet statusCodes() const;
    ContentTypeSet contentTypes() const;
    void addStatusCodes(const StatusCodeSet& codes);
    void addContentTypes(const QSet<QString>& types);

private:
    mutable std::mutex mutex_;
    StatusCodeSet codes_;
    ContentTypeSet types_;
};

// Judges the response (status code, content type) and calls a success or a failure callback.
class HTTPRequestOperation : public URLConnectionOperation {
public:
    using Success = std::function<void(HTTPRequestOperation&, const QVariant& responseObject)>;
    using Failure = std::function<void(HTTPRequestOperation&, const platform::Error&)>;

    static std::shared_ptr<HTTPRequestOperation> create(HTTPRequest request) {
        return std::shared_ptr<HTTPRequestOperation>(new HTTPRequestOperation(std::move(request)));
    }

    // Class level, for this class itself: 200-299 and any content type.
    static StatusCodeSet acceptableStatusCodes() { return classSets().statusCodes(); }
    static ContentTypeSet acceptableContentTypes() { return classSets().contentTypes(); }
    static void addAcceptableStatusCodes(const StatusCodeSet& codes) { classSets().addStatusCodes(codes); }
    static void addAcceptableContentTypes(const QSet<QString>& types) { classSets().addContentTypes(types); }
    static bool canProcessRequest(const HTTPRequest&) { return true; }

    // The class-level sets of the operation's own class; subclasses return their AcceptableSets.
    virtual const AcceptableSets& sets() const { return classSets(); }

    bool hasAcceptableStatusCode() const;
    bool hasAcceptableContentType() const;
    // The HTTP error when the response is unacceptable, else the transport error; kept once computed.
    std::optional<platform::Error> error();
    QByteArray responseStringEncoding() override;
    // What the success callback receives; decoding subclasses return their decoded object.
    virtual QVariant responseObject() { return responseData(); }

    // Callbacks run on the main thread unless a context object (living on another thread) is given. A
    // decoding subclass decodes first, and its decoding error fails the operation, however it was made.
    void setCompletionBlockWithSuccess(Success success, Failure failure) {
        installCompletion(std::move(success), std::move(failure));
    }
    void setSuccessCallbackContext(QObject* context);
    void setFailureCallbackContext(QObject* context);

protected:
    explicit HTTPRequestOperation(HTTPRequest request)
        : URLConnectionOperation(std::move(request)) {}
    void didPause() override;
    virtual void installCompletion(Success success, Failure failure);
    static AcceptableSets& classSets();
    // For subclasses: whether the media types of the request's Accept header meet `types`.
    static bool acceptHeaderMeets(const HTTPRequest& request, const ContentTypeSet& types);

private:
    std::optional<std::optional<platform::Error>> httpError_;
    QPointer<QObject> successContext_, failureContext_;
    bool hasSuccessContext_ = false, hasFailureContext_ = false;
};

// "200-299" style: runs of consecutive codes as ranges, joined with ",".
QString describeStatusCodes(const StatusCodeSet& codes);

} // namespace qm::net
