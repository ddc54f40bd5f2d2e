#include "net/http_request_operation.h"

#include "platform/bundle.h"
#include "platform/dispatch.h"

#include <QStringList>

namespace qm::net {

using platform::Error;

StatusCodeSet AcceptableSets::statusCodes() const {
    std::lock_guard guard(mutex_);
    return codes_;
}

ContentTypeSet AcceptableSets::contentTypes() const {
    std::lock_guard guard(mutex_);
    return types_;
}

void AcceptableSets::addStatusCodes(const StatusCodeSet& codes) {
    std::lock_guard guard(mutex_);
    codes_.insert(codes.begin(), codes.end());
}

void AcceptableSets::addContentTypes(const QSet<QString>& types) {
    std::lock_guard guard(mutex_);
    types_ = types_.value_or(QSet<QString>()).unite(types);
}

AcceptableSets& HTTPRequestOperation::classSets() {
    static AcceptableSets sets = [] {
        StatusCodeSet codes;
        for (int code = 200; code < 300; ++code)
            codes.insert(code);
        return AcceptableSets(std::move(codes), std::nullopt);
    }();
    return sets;
}

QString describeStatusCodes(const StatusCodeSet& codes) {
    QStringList ranges;
    for (auto it = codes.begin(); it != codes.end();) {
        const int first = *it;
        int last = first;
        while (++it != codes.end() && *it == last + 1)
            ++last;
        ranges << (first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last));
    }
    return ranges.join(QLatin1Char(','));
}

namespace {

// The way the platform prints a set of strings inside a message.
QString describeContentTypes(const ContentTypeSet& types) {
    QStringList items = types.value_or(QSet<QString>()).values();
    items.sort();
    QString text = QStringLiteral("{(");
    for (qsizetype i = 0; i < items.size(); ++i)
        text += (i ? QStringLiteral(",\n    \"") : QStringLiteral("\n    \"")) + items[i] + QLatin1Char('"');
    return text + QStringLiteral("\n)}");
}

QString localized(const QString& english) {
    if (const auto bundle = platform::Bundle::locate())
        return bundle->localizedString(english, english, QStringLiteral("QMNet"));
    return english;
}

} // namespace

bool HTTPRequestOperation::acceptHeaderMeets(const HTTPRequest& request, const ContentTypeSet& types) {
    if (!types)
        return false;
    for (const QByteArray& item : request.header("Accept").split(',')) {
        const qsizetype semicolon = item.indexOf(';');
        const QString type = QString::fromLatin1(semicolon < 0 ? item : item.left(semicolon)).trimmed();
        if (!type.isEmpty() && types->contains(type))
            return true;
    }
    return false;
}

bool HTTPRequestOperation::hasAcceptableStatusCode() const {
    const auto current = response();
    if (!current)
        return false;
    return sets().statusCodes().count(int(current->statusCode)) > 0;
}

bool HTTPRequestOperation::hasAcceptableContentType() const {
    const auto current = response();
    if (!current)
        return false;
    const ContentTypeSet types = sets().contentTypes();
    if (!types)
        return true;
    QString mime = current->mimeType();
    if (mime.isEmpty())
        mime = QStringLiteral("application/octet-stream");
    return types->contains(mime);
}

std::optional<Error> HTTPRequestOperation::error() {
    std::lock_guard guard(lock_);
    if (httpError_)
        return *httpError_;
    const auto current = response();
    // Only a finished exchange has a final answer; until then nothing is kept.
    if (!current || (hasAcceptableStatusCode() && hasAcceptableContentType())) {
        const auto transport = transportError();
        if (isFinished())
            httpError_ = transport;
        return transport;
    }
    const HTTPRequest sent = request();
    QVariantMap info{{QStringLiteral("NSLocalizedRecoverySuggestion"), responseString()},
                     {QString::fromLatin1(kURLErrorFailingURLKey), sent.url},
                     {QString::fromLatin1(kFailingURLRequestErrorKey), QVariant::fromValue(sent)},
                     {QString::fromLatin1(kFailingURLResponseErrorKey), QVariant::fromValue(*current)}};
    std::optional<Error> result;
    if (!hasAcceptableStatusCode()) {
        const QString text = localized(QStringLiteral("Expected status code in (%@), got %ld"))
                                 .replace(QStringLiteral("%@"), describeStatusCodes(sets().statusCodes()))
                                 .replace(QStringLiteral("%ld"), QString::number(current->statusCode));
        info.insert(QStringLiteral("NSLocalizedDescription"), text);
        result = Error(QString::fromLatin1(kNetErrorDomain), kNetErrorBadServerResponse, text, info);
    } else if (!responseData().isEmpty()) {
        QString mime = current->mimeType();
        const QString format = localized(QStringLiteral("Expected content type %@, got %@"));
        const qsizetype first = format.indexOf(QStringLiteral("%@"));
        QString text = format;
        if (first >= 0) {
            const QString types = describeContentTypes(sets().contentTypes());
            text = format.left(first) + types +
                   QString(format.mid(first + 2)).replace(QStringLiteral("%@"), mime);
        }
        info.insert(QStringLiteral("NSLocalizedDescription"), text);
        result = Error(QString::fromLatin1(kNetErrorDomain), kNetErrorCannotDecodeContentData, text, info);
    } else {
        result = transportError();
    }
    if (isFinished())
        httpError_ = result;
    return result;
}

QByteArray HTTPRequestOperation::responseStringEncoding() {
    std::lock_guard guard(lock_);
    const auto current = response();
    if (current && current->textEncodingName().isEmpty() && !responseData().isEmpty()) {
        const QByteArray type = current->header("Content-Type");
        if (type.left(type.indexOf('/')).trimmed().compare("text", Qt::CaseInsensitive) == 0)
            return QByteArrayLiteral("ISO-8859-1");
    }
    return URLConnectionOperation::responseStringEncoding();
}

void HTTPRequestOperation::didPause() {
    std::lock_guard guard(lock_);
    HTTPRequest resumed = request();
    resumed.setHeader("Range",
                      QByteArrayLiteral("bytes=%1-").replace("%1", QByteArray::number(bytesReceived())));
    if (const auto current = response(); current && !current->header("ETag").isEmpty())
        resumed.setHeader("If-Range", current->header("ETag"));
    setRequest(std::move(resumed));
}

void HTTPRequestOperation::setSuccessCallbackContext(QObject* context) {
    std::lock_guard guard(lock_);
    successContext_ = context;
    hasSuccessContext_ = context != nullptr;
}

void HTTPRequestOperation::setFailureCallbackContext(QObject* context) {
    std::lock_guard guard(lock_);
    failureContext_ = context;
    hasFailureContext_ = context != nullptr;
}

namespace {

void deliver(bool hasContext, const QPointer<QObject>& context, std::function<void()> work) {
    if (!hasContext) {
        platform::dispatch::onMain(std::move(work));
        return;
    }
    if (context) // a context destroyed before the end drops the callback, as Qt does
        QMetaObject::invokeMethod(context.data(), std::move(work), Qt::QueuedConnection);
}

} // namespace

void HTTPRequestOperation::installCompletion(Success success, Failure failure) {
    // A weak reference: the block belongs to the operation, and a strong one would keep it forever.
    std::weak_ptr<URLConnectionOperation> weak = weak_from_this();
    setCompletionBlock([weak, success = std::move(success), failure = std::move(failure)] {
        auto self = std::static_pointer_cast<HTTPRequestOperation>(weak.lock());
        if (!self)
            return;
        bool hasContext = false;
        QPointer<QObject> context;
        if (const auto failed = self->error()) {
            {
                std::lock_guard guard(self->lock_);
                hasContext = self->hasFailureContext_;
                context = self->failureContext_;
            }
            if (failure)
                deliver(hasContext, context, [self, failure, error = *failed] { failure(*self, error); });
        } else {
            {
                std::lock_guard guard(self->lock_);
                hasContext = self->hasSuccessContext_;
                context = self->successContext_;
            }
            if (success)
                deliver(hasContext, context, [self, success] { success(*self, self->responseObject()); });
        }
    });
}

} // namespace qm::net
