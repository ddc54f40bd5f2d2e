#pragma once

#include "net/http_request_operation.h"
#include "services/droplr/json_parsers.h"

#include <QUrl>
#include <functional>
#include <memory>

namespace qm::droplr {

// One signed Droplr request and what its answer becomes. The service builds it (headers, body, then the
// signature, which reads the Date and Content-Type headers and so comes last); the caller attaches
// handlers and calls execute() once.
//
// The Date header is fixed when the request is built, and fixed again, with a fresh signature, when the
// operation actually starts: an operation that waited in a queue would otherwise carry a date the server
// finds stale.
class Operation final : public net::HTTPRequestOperation {
public:
    using Success = std::function<void(const QVariant& result)>; // invalid QVariant: no parser
    using Failure = std::function<void(const platform::Error&)>;
    using Handler = std::function<void()>;
    // Maps the service's "droplr-errorcode" to a text, with the details as the fallback.
    using ErrorLocalizer = std::function<QString(const QString& code, const QString& fallback)>;

    static std::shared_ptr<Operation> create(const QUrl& url, const QByteArray& verb,
                                             std::shared_ptr<const ResponseParser> parser);

    const std::shared_ptr<const ResponseParser>& parser() const { return parser_; }
    void setHeader(const QByteArray& name, const QByteArray& value);
    void setBody(const QByteArray& body, const QByteArray& contentType);
    // The body is streamed from this file when the operation runs; its type follows the extension.
    void setUploadFilePath(const QString& path);
    const QString& uploadFilePath() const { return uploadFilePath_; }
    quint64 uploadSize() const { return uploadSize_; }
    // Signs the request now, and again with a fresh Date each time the operation starts.
    void setSigner(std::function<void(net::HTTPRequest&)> signer);
    void setErrorLocalizer(ErrorLocalizer localizer) { localizer_ = std::move(localizer); }

    void setStartBlock(Handler block) { startBlock_ = std::move(block); }
    void setFinishBlock(Handler block) { finishBlock_ = std::move(block); }
    // Records the progress, then calls `block` with (bytes written, total written, total expected).
    void setUploadProgressBlock(net::ProgressBlock block);

    // Runs the request. Exactly one of success, failure or cancelled (when given; else failure) is called
    // on the main thread, then `finally`. A failure with an answer of 400 or more is in the Droplr domain:
    // code = status, the description from the service's "droplr-errordetails" (else the HTTP layer's),
    // "droplr-errorcode" as the failure reason.
    void execute(Success success, Failure failure, Handler cancelled = {}, Handler finally = {});

    bool hasSuccessfulResponse();
    // The parser's record, or its error; an invalid QVariant without a parser or a successful answer.
    platform::Result<QVariant> result();
    bool wasCancelled() const { return isCancelled(); }
    qint64 sentBytes() const { return totalBytesSent_; }
    qint64 totalUploadBytes() const { return totalBytesExpectedToWrite_; }
    qint64 startTimestamp() const { return startTimestamp_; }
    qint64 endTimestamp() const { return endTimestamp_; }
    // Bytes per second from the start to the end (or now); 0 before the start or without an upload.
    double uploadTransferRate() const;
    QUrl url() const { return request().url; }
    QString errorCode() const;
    QString errorDescription();

private:
    Operation(net::HTTPRequest request, std::shared_ptr<const ResponseParser> parser);
    platform::Error failureFor(const platform::Error& httpError);

    std::shared_ptr<const ResponseParser> parser_;
    QString uploadFilePath_;
    quint64 uploadSize_ = 0;
    ErrorLocalizer localizer_;
    Handler startBlock_, finishBlock_;
    std::atomic<qint64> totalBytesSent_{0}, totalBytesExpectedToWrite_{0};
    qint64 startTimestamp_ = 0, endTimestamp_ = 0;
};

} // namespace qm::droplr
