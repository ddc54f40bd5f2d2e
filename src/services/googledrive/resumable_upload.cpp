#include "services/googledrive/resumable_upload.h"

#include "net/file_range_device.h"
#include "net/url_connection_operation.h"
#include "platform/dispatch.h"

#include <algorithm>

namespace qm::upload::gdrive {

namespace {

constexpr qint64 kChunkQuantum = 256 * 1024; // every chunk but the last is a multiple of this

platform::Error unreadableAnswer() {
    return platform::Error(QString::fromLatin1(kDriveErrorDomain), 0,
                           QStringLiteral("Google Drive sent an answer Quillmoor cannot read."));
}

// The bytes Google holds after a 308: "Range: bytes=0-B" means B + 1; no Range header, none.
std::optional<qint64> confirmedBytes(const DriveReply& reply) {
    const QByteArray range = reply.header("Range").trimmed();
    if (range.isEmpty())
        return 0;
    const qsizetype dash = range.lastIndexOf('-');
    if (!range.startsWith("bytes=0-") || dash < 0)
        return std::nullopt;
    bool isNumber = false;
    const qint64 last = range.mid(dash + 1).toLongLong(&isNumber);
    if (!isNumber || last < 0)
        return std::nullopt;
    return last + 1;
}

} // namespace

void ResumableUpload::start(std::shared_ptr<DriveClient> client, File file, Progress progress, Done done) {
    std::shared_ptr<ResumableUpload> upload(
        new ResumableUpload(std::move(client), std::move(file), std::move(progress), std::move(done)));
    upload->openSession();
}

ResumableUpload::ResumableUpload(std::shared_ptr<DriveClient> client, File file, Progress progress, Done done)
    : client_(std::move(client))
    , file_(std::move(file))
    , progress_(std::move(progress))
    , done_(std::move(done))
    , generation_(client_->generation()) {}

void ResumableUpload::openSession() {
    const QVariantMap metadata{{QStringLiteral("name"), file_.name},
                               {QStringLiteral("parents"), QVariantList{file_.folderId}}};
    QUrl url = client_->endpoints().uploadEndpoint();
    // Without "fields" the answer carries neither webContentLink nor iconLink.
    url.setQuery(QStringLiteral("uploadType=resumable&fields=id%2Cname%2CwebContentLink%2CiconLink"));
    auto self = shared_from_this();
    client_->send(
        [self, url, metadata] {
            net::HTTPRequest request = DriveClient::withJson(self->client_->request("POST", url), metadata);
            request.setHeader("X-Upload-Content-Type", self->file_.mimeType.toUtf8());
            request.setHeader("X-Upload-Content-Length", QByteArray::number(self->file_.size));
            return request;
        },
        [self](const DriveReply& reply) {
            if (!reply.isSuccess()) {
                self->finish(DriveClient::errorFor(reply));
                return;
            }
            self->session_ = QUrl(QString::fromUtf8(reply.header("Location")));
            if (!self->session_.isValid() || self->session_.isRelative()) {
                self->finish(platform::Error(QString::fromLatin1(kDriveErrorDomain), 0,
                                             QStringLiteral("Google Drive did not open an upload session.")));
                return;
            }
            self->sendChunk();
        });
}

void ResumableUpload::sendChunk() {
    if (cancelled())
        return;
    const qint64 chunk =
        std::max(kChunkQuantum, client_->options().chunkSize / kChunkQuantum * kChunkQuantum);
    const qint64 offset = offset_;
    const qint64 length = std::min(chunk, file_.size - offset);
    auto self = shared_from_this();
    client_->send(
        [self, offset, length] {
            net::HTTPRequest request = self->client_->request("PUT", self->session_);
            const qint64 total = self->file_.size;
            if (length <= 0) {
                // Nothing (left) to send: the empty request closes the upload.
                request.setHeader("Content-Range", "bytes */" + QByteArray::number(total));
                return request;
            }
            request.setHeader("Content-Range", "bytes " + QByteArray::number(offset) + '-' +
                                                   QByteArray::number(offset + length - 1) + '/' +
                                                   QByteArray::number(total));
            request.setHeader("Content-Type", self->file_.mimeType.toUtf8());
            // Streamed from the file window by window: no chunk ever sits in memory.
            request.bodyDevice = std::make_shared<net::FileRangeDevice>(self->file_.path, offset, length);
            request.bodyLength = length;
            return request;
        },
        [self](const DriveReply& reply) { self->answered(reply, true); }, true, false,
        [self, offset](qint64 sent, qint64) {
            if (self->progress_ && !self->cancelled())
                self->progress_(std::min(offset + sent, self->file_.size), self->file_.size);
        });
}

void ResumableUpload::askStatus() {
    if (cancelled())
        return;
    auto self = shared_from_this();
    client_->send(
        [self] {
            net::HTTPRequest request = self->client_->request("PUT", self->session_);
            request.setHeader("Content-Range", "bytes */" + QByteArray::number(self->file_.size));
            return request;
        },
        [self](const DriveReply& reply) { self->answered(reply, false); }, true, false);
}

void ResumableUpload::answered(const DriveReply& reply, bool fromChunk) {
    if (reply.isSuccess()) {
        const auto json = reply.object();
        const DriveFile file = json ? DriveFile::fromJson(*json) : DriveFile();
        if (file.id.isEmpty()) {
            finish(unreadableAnswer());
            return;
        }
        if (progress_)
            progress_(file_.size, file_.size);
        finish(file);
        return;
    }
    if (!reply.transportError && reply.status == 308) {
        const std::optional<qint64> confirmed = confirmedBytes(reply);
        if (!confirmed || *confirmed > file_.size) {
            finish(unreadableAnswer());
            return;
        }
        if (*confirmed > offset_)
            failures_ = 0;
        else if (fromChunk && ++failures_ > client_->options().resumeAttempts) {
            finish(platform::Error(QString::fromLatin1(kDriveErrorDomain), 308,
                                   QStringLiteral("Google Drive does not take the bytes of the upload.")));
            return;
        }
        offset_ = *confirmed;
        sendChunk();
        return;
    }
    if (reply.transportError && reply.transportError->domain != QLatin1String(net::kURLErrorDomain)) {
        finish(*reply.transportError); // the sign-in, not the connection, failed
        return;
    }
    if (reply.transportError || reply.isTransient()) {
        failedAttempt(reply);
        return;
    }
    if (reply.status == 404 || reply.status == 410) {
        // Google forgets sessions (after a week, or sooner): the upload starts over once in a new one.
        if (!restarted_) {
            restarted_ = true;
            offset_ = 0;
            failures_ = 0;
            openSession();
            return;
        }
        finish(platform::Error(QString::fromLatin1(kDriveErrorDomain), int(reply.status),
                               QStringLiteral("The Google Drive upload session has expired.")));
        return;
    }
    finish(DriveClient::errorFor(reply));
}

void ResumableUpload::failedAttempt(const DriveReply& reply) {
    if (++failures_ > client_->options().resumeAttempts) {
        finish(DriveClient::errorFor(reply));
        return;
    }
    // Google may hold part of what was sent: after a pause, ask how far it got and go on from there.
    const auto wait = std::min<std::chrono::milliseconds>(
        client_->options().backoff * (1LL << (failures_ - 1)), client_->options().maxWait);
    auto self = shared_from_this();
    platform::dispatch::after(static_cast<int>(wait.count()), [self] { self->askStatus(); });
}

void ResumableUpload::finish(platform::Result<DriveFile> outcome) {
    if (cancelled() || !done_)
        return;
    auto done = std::exchange(done_, nullptr);
    done(std::move(outcome));
}

} // namespace qm::upload::gdrive
