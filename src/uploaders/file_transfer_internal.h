#pragma once

// Shared by the file-transfer layer's sources only.

#include "platform/result.h"
#include "uploaders/file_transfer.h"

#include <QFile>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace qm::upload {

struct FileTransfer::Core {
    Options options;
    bool alive = true;                 // main thread only
    ChallengeHandler challengeHandler; // main thread only
    std::mutex mutex;
    std::vector<std::weak_ptr<TransferOperation>> operations;
};

struct ChallengeReply::State {
    enum class Kind { None, Credential, Default, Cancel };
    std::mutex mutex;
    std::condition_variable answered;
    Kind kind = Kind::None;
    TransferCredential credential;

    void answer(Kind answerKind, const TransferCredential& answerCredential = {});
};

namespace transfer {

using CoreRef = std::weak_ptr<FileTransfer::Core>;

// Runs `work` on the main thread while the FileTransfer lives; otherwise drops it there.
void postToMain(const CoreRef& core, std::function<void()> work);

// Called on the transfer's thread with bytes written so far and the total.
using ProgressSink = std::function<void(qint64 written, qint64 total)>;

// What one operation's worker needs.
struct Context {
    CoreRef core;
    std::shared_ptr<TransferOperation> operation;
    FileTransfer::Options options;
    bool cancelled() const { return operation->isCancelled(); }
};

platform::Error makeError(int code, const QString& description, QVariantMap userInfo = {});
platform::Error cancelledError();
// A hidden name for bytes on their way to their final name; listings leave it out.
QString temporaryName();
// Bounds the search for a free name when every candidate turns out taken.
inline constexpr int kMaxNameAttempts = 1000;
platform::Error noFreeName(const QUrl& folder);
QString displayString(const QUrl& url);
// Entry names of a listing with hidden ones left out.
QStringList visibleNames(const QStringList& names);

// A body pulled piece by piece; never held whole.
class UploadSource {
public:
    virtual ~UploadSource() = default;
    virtual platform::Result<void> open() = 0;
    virtual qint64 size() const = 0;
    virtual qint64 read(char* buffer, qint64 maxBytes) = 0; // -1 on error
    virtual bool seek(qint64 position) = 0;
};

class FileSource final : public UploadSource {
public:
    explicit FileSource(const QString& path)
        : file_(path) {}
    platform::Result<void> open() override;
    qint64 size() const override { return size_; }
    qint64 read(char* buffer, qint64 maxBytes) override { return file_.read(buffer, maxBytes); }
    bool seek(qint64 position) override { return file_.seek(position); }

private:
    QFile file_;
    qint64 size_ = 0;
};

class DataSource final : public UploadSource {
public:
    explicit DataSource(QByteArray data)
        : data_(std::move(data)) {}
    platform::Result<void> open() override { return {}; }
    qint64 size() const override { return data_.size(); }
    qint64 read(char* buffer, qint64 maxBytes) override;
    bool seek(qint64 position) override;

private:
    QByteArray data_;
    qint64 position_ = 0;
};

// Remote schemes, on libcurl.
platform::Result<QStringList> remoteContents(Context& context, const QUrl& folder);
platform::Result<void> remoteCreate(Context& context, const QUrl& url, UploadSource& source,
                                    bool withIntermediateDirectories, const ProgressSink& progress);
platform::Result<void> remoteStore(Context& context, const QUrl& folder, UploadSource& source,
                                   QStringList taken, const FileTransfer::NameChooser& choose,
                                   const ProgressSink& progress, QString& name);
platform::Result<void> remoteRemove(Context& context, const QUrl& url);
platform::Result<void> remoteCheck(Context& context, const QUrl& url);
platform::Result<QByteArray> remoteFetch(Context& context, const QUrl& url, FetchAccess access,
                                         qint64 maxBytes);

// file: URLs, with plain file I/O.
platform::Result<QStringList> localContents(Context& context, const QUrl& folder);
platform::Result<void> localCreate(Context& context, const QUrl& url, UploadSource& source,
                                   bool withIntermediateDirectories, const ProgressSink& progress);
platform::Result<void> localStore(Context& context, const QUrl& folder, UploadSource& source,
                                  QStringList taken, const FileTransfer::NameChooser& choose,
                                  const ProgressSink& progress, QString& name);
platform::Result<void> localRemove(Context& context, const QUrl& url);
platform::Result<QByteArray> localFetch(Context& context, const QUrl& url, qint64 maxBytes);

// Names of a WebDAV multistatus body relative to `folderPath` (decoded, ending in "/"); the folder itself
// and nested entries left out.
platform::Result<QStringList> namesFromMultistatus(const QByteArray& body, const QString& folderPath);

// Progress reports no more often than every 50 ms, the last one always.
class ProgressThrottle {
public:
    explicit ProgressThrottle(const ProgressSink& sink)
        : sink_(sink) {}
    void update(qint64 written, qint64 total);

private:
    const ProgressSink& sink_;
    qint64 lastWritten_ = -1;
    qint64 lastTime_ = 0;
};

} // namespace transfer
} // namespace qm::upload
