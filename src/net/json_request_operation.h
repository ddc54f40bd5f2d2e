#pragma once

#include "net/http_request_operation.h"
#include "platform/result.h"

#include <QThreadPool>

namespace qm::net {

// Shared by the decoding operations: the body is decoded on the class's own pool before the callbacks
// run, and a decoding error outranks the inherited one.
class DecodingRequestOperation : public HTTPRequestOperation {
public:
    // Hide the base ones: the decoding completion delivers through its own contexts.
    void setSuccessCallbackContext(QObject* context);
    void setFailureCallbackContext(QObject* context);

protected:
    using HTTPRequestOperation::HTTPRequestOperation;
    // Runs on decodingPool(); computes and keeps the decoded field.
    virtual void decode() = 0;
    virtual std::optional<platform::Error> decodingError() = 0;
    virtual QThreadPool& decodingPool() const = 0;
    // The callbacks get the operation as its own class and the decoded body, read through `decoded`.
    template <typename Op, typename Decoded, typename Success, typename Failure>
    void setDecodingCompletion(Decoded (Op::*decoded)(), Success success, Failure failure) {
        std::function<void(DecodingRequestOperation&)> onSuccess;
        std::function<void(DecodingRequestOperation&, const platform::Error&)> onFailure;
        if (success)
            onSuccess = [decoded, success](DecodingRequestOperation& op) {
                auto& typed = static_cast<Op&>(op);
                success(typed, (typed.*decoded)());
            };
        if (failure)
            onFailure = [decoded, failure](DecodingRequestOperation& op, const platform::Error& error) {
                auto& typed = static_cast<Op&>(op);
                failure(typed, error, (typed.*decoded)());
            };
        setDecodingCallbacks(std::move(onSuccess), std::move(onFailure));
    }
    static bool pathExtensionIs(const HTTPRequest& request, const QString& extension);
    // The plain callbacks (as the client installs them) get the decoded object as the response object.
    void installCompletion(Success success, Failure failure) override;

private:
    void setDecodingCallbacks(std::function<void(DecodingRequestOperation&)> success,
                              std::function<void(DecodingRequestOperation&, const platform::Error&)> failure);

    QPointer<QObject> successContext_, failureContext_;
    bool hasSuccessContext_ = false, hasFailureContext_ = false;
};

// Decodes JSON text as the operation does; exposed for the encoding-failure case.
platform::Result<QVariant> decodeJSONText(const QString& text);

class JSONRequestOperation : public DecodingRequestOperation {
public:
    using JSONSuccess = std::function<void(JSONRequestOperation&, const QVariant& json)>;
    using JSONFailure =
        std::function<void(JSONRequestOperation&, const platform::Error&, const QVariant& json)>;

    // Not started.
    static std::shared_ptr<JSONRequestOperation> create(HTTPRequest request, JSONSuccess success = {},
                                                        JSONFailure failure = {});

    static StatusCodeSet acceptableStatusCodes() { return jsonSets().statusCodes(); }
    static ContentTypeSet acceptableContentTypes() { return jsonSets().contentTypes(); }
    static void addAcceptableStatusCodes(const StatusCodeSet& codes) { jsonSets().addStatusCodes(codes); }
    static void addAcceptableContentTypes(const QSet<QString>& types) { jsonSets().addContentTypes(types); }
    static bool canProcessRequest(const HTTPRequest& request);
    const AcceptableSets& sets() const override { return jsonSets(); }

    // Invalid when there is none; computed once, after the end, from a non-empty body.
    QVariant responseJSON();
    std::optional<platform::Error> JSONError();
    QVariant responseObject() override { return responseJSON(); }
    void setCompletionBlockWithSuccess(JSONSuccess success, JSONFailure failure);

protected:
    using DecodingRequestOperation::DecodingRequestOperation;
    void decode() override { responseJSON(); }
    std::optional<platform::Error> decodingError() override { return JSONError(); }
    QThreadPool& decodingPool() const override;

private:
    static AcceptableSets& jsonSets();
    bool decoded_ = false;
    QVariant json_;
    std::optional<platform::Error> jsonError_;
};

} // namespace qm::net
