#include "services/yousendit/async_connection.h"

#include "net/url_connection_operation.h"
#include "platform/dispatch.h"
#include "services/yousendit/ys_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qm::yousendit {

AsyncConnection::AsyncConnection(net::HTTPRequest request, QString destination,
                                 std::shared_ptr<ConnectionDataDelegate> delegate)
    : request_(std::move(request))
    , destination_(std::move(destination))
    , partPath_(destination_ + QStringLiteral(".part"))
    , delegate_(std::move(delegate)) {}

AsyncConnection::~AsyncConnection() {
    cancel();
}

void AsyncConnection::start() {
    const auto fail = [this](const platform::Error& error) {
        platform::dispatch::onMain([delegate = delegate_, error] {
            if (delegate)
                delegate->connectionFinishedWithError(error);
        });
        delegate_.reset();
    };
    if (!QDir().mkpath(QFileInfo(destination_).absolutePath())) {
        platform::dispatch::onMain([delegate = delegate_] {
            if (delegate)
                delegate->connectionFinishedWithStatus(false);
        });
        delegate_.reset();
        return;
    }
    auto file = std::make_shared<QFile>(partPath_);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(makeError(file->error(), file->errorString()));
    operation_ = net::URLConnectionOperation::create(request_);
    operation_->setOutputDevice(file);
    const std::weak_ptr<AsyncConnection> weak = weak_from_this();
    operation_->setDownloadProgressBlock([weak](qint64 bytes, qint64, qint64) {
        const auto self = weak.lock();
        if (!self || !self->delegate_ || !self->operation_)
            return;
        const auto response = self->operation_->response();
        if (!response || response->statusCode < 200 || response->statusCode > 299)
            return;
        if (!self->started_) {
            self->started_ = true;
            self->delegate_->connectionDidStart();
        }
        self->delegate_->connectionReceivedDataLength(bytes);
    });
    operation_->setCompletionBlock([weak, file] {
        file->close();
        platform::dispatch::onMain([weak] {
            if (const auto self = weak.lock())
                self->finished();
        });
    });
    operation_->start();
}

void AsyncConnection::finished() {
    const auto delegate = std::move(delegate_);
    const auto operation = std::move(operation_);
    if (!delegate || !operation)
        return;
    const auto response = operation->response();
    std::optional<platform::Error> error = operation->transportError();
    if (!error && (!response || response->statusCode < 200 || response->statusCode > 299)) {
        const long status = response ? response->statusCode : 0;
        error = makeError(
            int(status), QStringLiteral("The server answered the download with HTTP status %1.").arg(status));
    }
    if (error) {
        QFile::remove(partPath_);
        delegate->connectionFinishedWithError(*error);
        return;
    }
    if (!started_)
        delegate->connectionDidStart();
    QFile::remove(destination_);
    const bool written = QFile::rename(partPath_, destination_);
    if (!written)
        QFile::remove(partPath_);
    delegate->connectionFinishedWithStatus(written);
}

void AsyncConnection::cancel() {
    delegate_.reset();
    if (const auto operation = std::move(operation_)) {
        operation->cancel();
        QFile::remove(partPath_);
    }
}

} // namespace qm::yousendit
