#pragma once

#include "platform/error.h"
#include "services/dropbox/dropbox_session.h"

#include <QList>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace qm::net {
class HTTPClient;
} // namespace qm::net

namespace qm::dropbox {

// What a RestClient reports, on the main thread.
class RestClientDelegate {
public:
    virtual ~RestClientDelegate() = default;
    virtual void uploadedFileChunk(const QString& uploadId, qint64 newOffset, const QString& fromFile) = 0;
    // `progress` (0 to 1) of the chunk that starts at `offset`.
    virtual void uploadFileChunkProgress(double progress, const QString& path, qint64 offset) = 0;
    virtual void uploadFileChunkFailed(const platform::Error& error) = 0;
    virtual void uploadedFile(const QString& uploadId, const QVariantMap& metadata) = 0;
    virtual void uploadFromUploadIdFailed(const platform::Error& error) = 0;
    virtual void loadedSharableLink(const QString& link, const QString& path) = 0;
    virtual void loadSharableLinkFailed(const platform::Error& error) = 0;
};

// Dropbox's API v2 for the uploader: upload sessions in chunks, the commit, and the shared link.
// A request answered 401 is sent again once with a renewed token; 429 waits the Retry-After seconds and
// 5xx backs off (1, 2, 4 s), three times at most; a chunk whose connection dropped is sent again from the
// offset the server reports (409 incorrect_offset), up to three times. Everything else fails the call.
class RestClient {
public:
    // Large enough that the per-request cost vanishes on a fast line, small enough that a chunk sent again
    // after a dropped connection costs little. Against the fake on loopback (bench/dropbox) 16 MiB was
    // the fastest of 4 to 128 MiB; memory stays flat at any size, as chunks are streamed from the file.
    static constexpr qint64 defaultChunkSize = 16 * 1024 * 1024;
    static constexpr int maxRetries = 3;

    // `chunkSize`: the bytes of each upload request but the last of a file (at least 1).
    RestClient(Session& session, RestClientDelegate* delegate, qint64 chunkSize = defaultChunkSize);
    ~RestClient();

    qint64 chunkSize() const { return chunkSize_; }

    // Sends the chunk of `path` at `offset` (up to chunkSize() bytes) into the session `uploadId`, or
    // starts a session with it when `uploadId` is empty.
    void uploadFileChunk(const QString& uploadId, qint64 offset, const QString& path);
    // Commits the session as `folder`/`name` (an existing name gets a free one, Dropbox's autorename).
    void uploadFile(const QString& name, const QString& folder, const QString& uploadId, qint64 size);
    void loadSharableLink(const QString& path);
    // Drops every request under way: none of them reports anything more.
    void cancelAllRequests();

private:
    struct Call;
    void send(std::shared_ptr<Call> call);
    void retryLater(std::shared_ptr<Call> call, int milliseconds);
    std::shared_ptr<net::HTTPClient> client(const QUrl& base, const QString& token);

    Session& session_;
    RestClientDelegate* delegate_;
    qint64 chunkSize_;
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
    QList<std::shared_ptr<net::HTTPClient>> clients_;
};

} // namespace qm::dropbox
