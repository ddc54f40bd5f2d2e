#include "services/droplr/operation.h"

#include "net/mime_type.h"
#include "platform/dispatch.h"
#include "services/droplr/functions.h"

#include <QFile>
#include <QFileInfo>

namespace qm::droplr {

namespace {

constexpr char kErrorCodeHeader[] = "droplr-errorcode";
constexpr char kErrorDetailsHeader[] = "droplr-errordetails";
constexpr char kFailureReasonKey[] = "NSLocalizedFailureReason";
constexpr char kUnderlyingErrorKey[] = "NSUnderlyingError";

} // namespace

Operation::Operation(net::HTTPRequest request, std::shared_ptr<const ResponseParser> parser)
    : HTTPRequestOperation(std::move(request))
    , parser_(std::move(parser)) {}

std::shared_ptr<Operation> Operation::create(const QUrl& url, const QByteArray& verb,
                                             std::shared_ptr<const ResponseParser> parser) {
    return std::shared_ptr<Operation>(new Operation(net::HTTPRequest(url, verb), std::move(parser)));
}

void Operation::setHeader(const QByteArray& name, const QByteArray& value) {
    net::HTTPRequest changed = request();
    changed.setHeader(name, value);
    setRequest(std::move(changed));
}

void Operation::setBody(const QByteArray& body, const QByteArray& contentType) {
    net::HTTPRequest changed = request();
    changed.body = body;
    changed.setHeader("Content-Type", contentType);
    setRequest(std::move(changed));
}

void Operation::setUploadFilePath(const QString& path) {
    uploadFilePath_ = path;
    setHeader("Content-Type", net::mimeTypeForPathExtension(path).toUtf8());
}

void Operation::setSigner(std::function<void(net::HTTPRequest&)> signer) {
    net::HTTPRequest signed_ = request();
    signer(signed_);
    setRequest(std::move(signed_));
    setStartHook([signer = std::move(signer)](net::HTTPRequest& request) {
        request.setHeader("Date", QByteArray::number(currentTimeMillis()));
        signer(request);
    });
}

void Operation::setUploadProgressBlock(net::ProgressBlock block) {
    HTTPRequestOperation::setUploadProgressBlock(
        [weak = std::weak_ptr<URLConnectionOperation>(weak_from_this()),
         block = std::move(block)](qint64 written, qint64 totalWritten, qint64 totalExpected) {
            if (const auto self = std::static_pointer_cast<Operation>(weak.lock())) {
                self->totalBytesExpectedToWrite_ = totalExpected;
                self->totalBytesSent_ = totalWritten;
            }
            if (block)
                block(written, totalWritten, totalExpected);
        });
}

void Operation::execute(Success success, Failure failure, Handler cancelled, Handler finally) {
    if (!uploadFilePath_.isEmpty()) {
        // Streamed: the file is read window by window on the network thread, never whole.
        auto file = std::make_shared<QFile>(uploadFilePath_);
        if (!file->open(QIODevice::ReadOnly)) {
            const platform::Error error(QStringLiteral("NSCocoaErrorDomain"), 260,
                                        QStringLiteral("The file “%1” couldn’t be opened: %2")
                                            .arg(QFileInfo(uploadFilePath_).fileName(), file->errorString()));
            platform::dispatch::onMain([error, failure, finally] {
                if (failure)
                    failure(error);
                if (finally)
                    finally();
            });
            return;
        }
        uploadSize_ = static_cast<quint64>(file->size());
        net::HTTPRequest changed = request();
        changed.bodyDevice = file;
        changed.bodyLength = file->size();
        setRequest(std::move(changed));
    }
    // The handlers hold the operation only through their argument: no cycle keeps it alive.
    auto ended = [](Operation& op) {
        op.endTimestamp_ = currentTimeMillis();
        if (op.finishBlock_)
            op.finishBlock_();
    };
    setCompletionBlockWithSuccess(
        [success, failure, finally, ended](HTTPRequestOperation& base, const QVariant&) {
            auto& op = static_cast<Operation&>(base);
            ended(op);
            platform::Result<QVariant> parsed = op.result();
            if (!parsed) {
                if (failure)
                    failure(parsed.error());
            } else if (success) {
                success(*parsed);
            }
            if (finally)
                finally();
        },
        [failure, cancelled, finally, ended](HTTPRequestOperation& base, const platform::Error& error) {
            auto& op = static_cast<Operation&>(base);
            ended(op);
            if (op.isCancelled() && cancelled)
                cancelled();
            else if (failure)
                failure(op.failureFor(error));
            if (finally)
                finally();
        });
    startTimestamp_ = currentTimeMillis();
    if (startBlock_)
        startBlock_();
    start();
}

bool Operation::hasSuccessfulResponse() {
    const std::optional<net::HTTPResponse> answer = response();
    return isFinished() && !error() && answer && answer->statusCode < 400;
}

platform::Result<QVariant> Operation::result() {
    if (!hasSuccessfulResponse() || !parser_)
        return QVariant();
    const std::optional<net::HTTPResponse> answer = response();
    return parser_->parse(answer->headers, responseData());
}

double Operation::uploadTransferRate() const {
    if (startTimestamp_ <= 0 || uploadSize_ == 0)
        return 0;
    const qint64 end = endTimestamp_ > 0 ? endTimestamp_ : currentTimeMillis();
    const qint64 elapsed = std::max<qint64>(end - startTimestamp_, 1);
    return static_cast<double>(totalBytesSent_) * 1000.0 / static_cast<double>(elapsed);
}

QString Operation::errorCode() const {
    const std::optional<net::HTTPResponse> answer = response();
    return answer ? QString::fromUtf8(answer->header(kErrorCodeHeader)) : QString();
}

QString Operation::errorDescription() {
    const std::optional<net::HTTPResponse> answer = response();
    const QString details = answer ? QString::fromUtf8(answer->header(kErrorDetailsHeader)) : QString();
    if (!details.isEmpty())
        return details;
    if (const std::optional<platform::Error> httpError = error())
        return httpError->localizedDescription;
    return QStringLiteral("Operation failed");
}

platform::Error Operation::failureFor(const platform::Error& httpError) {
    const std::optional<net::HTTPResponse> answer = response();
    if (!answer || answer->statusCode < 400)
        return httpError; // transport: the HTTP layer says it best
    const QString code = errorCode();
    const QString details = errorDescription();
    QVariantMap info = httpError.userInfo;
    info.insert(QString::fromLatin1(kFailureReasonKey), code);
    info.insert(QString::fromLatin1(kUnderlyingErrorKey),
                QVariant::fromValue(httpError.localizedDescription));
    const QString text = localizer_ && !code.isEmpty() ? localizer_(code, details) : details;
    return platform::Error(kErrorDomain, static_cast<int>(answer->statusCode), text, info);
}

} // namespace qm::droplr
