#include "net/json_request_operation.h"

#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "json/parser.h"

#include <QStringEncoder>

namespace qm::net {

using platform::Error;
using platform::Result;

namespace {

void deliver(bool hasContext, const QPointer<QObject>& context, std::function<void()> work) {
    if (!hasContext) {
        platform::dispatch::onMain(std::move(work));
        return;
    }
    if (context)
        QMetaObject::invokeMethod(context.data(), std::move(work), Qt::QueuedConnection);
}

QString localized(const QString& english) {
    if (const auto bundle = platform::Bundle::locate())
        return bundle->localizedString(english, english, QStringLiteral("QMNet"));
    return english;
}

} // namespace

void DecodingRequestOperation::setSuccessCallbackContext(QObject* context) {
    std::lock_guard guard(lock_);
    successContext_ = context;
    hasSuccessContext_ = context != nullptr;
    HTTPRequestOperation::setSuccessCallbackContext(context);
}

void DecodingRequestOperation::setFailureCallbackContext(QObject* context) {
    std::lock_guard guard(lock_);
    failureContext_ = context;
    hasFailureContext_ = context != nullptr;
    HTTPRequestOperation::setFailureCallbackContext(context);
}

bool DecodingRequestOperation::pathExtensionIs(const HTTPRequest& request, const QString& extension) {
    const QString path = request.url.path();
    const QString last = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && last.mid(dot + 1) == extension;
}

void DecodingRequestOperation::installCompletion(Success success, Failure failure) {
    std::function<void(DecodingRequestOperation&)> onSuccess;
    std::function<void(DecodingRequestOperation&, const Error&)> onFailure;
    if (success)
        onSuccess = [success](DecodingRequestOperation& op) { success(op, op.responseObject()); };
    if (failure)
        onFailure = [failure](DecodingRequestOperation& op, const Error& error) { failure(op, error); };
    setDecodingCallbacks(std::move(onSuccess), std::move(onFailure));
}

void DecodingRequestOperation::setDecodingCallbacks(
    std::function<void(DecodingRequestOperation&)> success,
    std::function<void(DecodingRequestOperation&, const Error&)> failure) {
    // Weak: the block belongs to the operation.
    std::weak_ptr<URLConnectionOperation> weak = weak_from_this();
    setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
        auto self = std::static_pointer_cast<DecodingRequestOperation>(weak.lock());
        if (!self)
            return;
        // Even a failure decodes first (off the network and main threads): its callback gets the decoded
        // body.
        self->decodingPool().start([self, success, failure] {
            const std::optional<Error> inherited = self->error();
            self->decode();
            std::optional<Error> failed = inherited;
            if (!failed)
                failed = self->decodingError();
            bool hasContext = false;
            QPointer<QObject> context;
            {
                std::lock_guard guard(self->lock_);
                hasContext = failed ? self->hasFailureContext_ : self->hasSuccessContext_;
                context = failed ? self->failureContext_ : self->successContext_;
            }
            if (failed && failure)
                deliver(hasContext, context, [self, failure, error = *failed] { failure(*self, error); });
            else if (!failed && success)
                deliver(hasContext, context, [self, success] { success(*self); });
        });
    });
}

Result<QVariant> decodeJSONText(const QString& text) {
    // A lone space is how some servers say "nothing".
    if (text == QStringLiteral(" "))
        return QVariant();
    QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
    const QByteArray utf8 = encoder.encode(text);
    if (encoder.hasError() ||
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); })) {
        const QString description =
            localized(QStringLiteral("Operation responseData failed decoding as a UTF-8 string"));
        const QString reason =
            localized(QStringLiteral("Could not decode string: %@")).replace(QStringLiteral("%@"), text);
        return Error(QString::fromLatin1(kNetErrorDomain), kNetErrorCannotDecodeContentData, description,
                     {{QStringLiteral("NSLocalizedDescription"), description},
                      {QStringLiteral("NSLocalizedFailureReason"), reason}});
    }
    return json::Parser().objectWithData(utf8);
}

std::shared_ptr<JSONRequestOperation> JSONRequestOperation::create(HTTPRequest request, JSONSuccess success,
                                                                   JSONFailure failure) {
    auto op = std::shared_ptr<JSONRequestOperation>(new JSONRequestOperation(std::move(request)));
    if (success || failure)
        op->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    return op;
}

AcceptableSets& JSONRequestOperation::jsonSets() {
    static AcceptableSets sets(HTTPRequestOperation::acceptableStatusCodes(),
                               QSet<QString>{QStringLiteral("application/json"), QStringLiteral("text/json"),
                                             QStringLiteral("text/javascript")});
    return sets;
}

bool JSONRequestOperation::canProcessRequest(const HTTPRequest& request) {
    return pathExtensionIs(request, QStringLiteral("json")) ||
           acceptHeaderMeets(request, jsonSets().contentTypes());
}

QThreadPool& JSONRequestOperation::decodingPool() const {
    static QThreadPool* pool = new QThreadPool; // left alive: pool threads may outlast static destruction
    return *pool;
}

QVariant JSONRequestOperation::responseJSON() {
    std::lock_guard guard(lock_);
    if (!decoded_ && isFinished() && !responseData().isEmpty()) {
        decoded_ = true;
        if (auto decoded = decodeJSONText(responseString()))
            json_ = std::move(*decoded);
        else
            jsonError_ = decoded.error();
    }
    return json_;
}

std::optional<Error> JSONRequestOperation::JSONError() {
    std::lock_guard guard(lock_);
    return jsonError_;
}

void JSONRequestOperation::setCompletionBlockWithSuccess(JSONSuccess success, JSONFailure failure) {
    setDecodingCompletion(&JSONRequestOperation::responseJSON, std::move(success), std::move(failure));
}

} // namespace qm::net
