#pragma once

#include "platform/result.h"
#include "services/googledrive/drive_client.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace qm::upload::gdrive {

// One file into a Drive folder through a resumable upload session, streamed from the file chunk by chunk.
//
//   open session --Location--> send chunk --308 + Range--> send chunk ... --200/201--> done
//                                 |    ^
//        dropped, stalled, 5xx,   |    | 308 + Range: go on from the last byte Google has
//        429 (after a wait)       v    |
//                           ask "bytes */TOTAL" --200/201--> done
//
// A session Google no longer knows (404, 410) starts over once in a new one. Any other answer, or too many
// failed chunks in a row, fails the upload. Reports once, on the main
// thread, and nothing after the client's cancelAll().
class ResumableUpload : public std::enable_shared_from_this<ResumableUpload> {
public:
    using Progress = std::function<void(qint64 sent, qint64 total)>;
    using Done = std::function<void(platform::Result<DriveFile>)>;

    struct File {
        QString path;
        qint64 size = 0;
        QString name;
        QString mimeType;
        QString folderId;
    };

    static void start(std::shared_ptr<DriveClient> client, File file, Progress progress, Done done);

private:
    ResumableUpload(std::shared_ptr<DriveClient> client, File file, Progress progress, Done done);

    void openSession();
    void sendChunk();
    void askStatus();
    // `fromChunk`: the answer to bytes sent, which must move on; else to a question how far it got.
    void answered(const DriveReply& reply, bool fromChunk);
    void failedAttempt(const DriveReply& reply);
    void finish(platform::Result<DriveFile> outcome);
    bool cancelled() const { return client_->generation() != generation_; }

    std::shared_ptr<DriveClient> client_;
    File file_;
    Progress progress_;
    Done done_;
    quint64 generation_;
    QUrl session_;
    qint64 offset_ = 0;      // bytes Google has confirmed
    int failures_ = 0;       // in a row, without a byte of progress
    bool restarted_ = false; // in a new session, after Google forgot the first
};

} // namespace qm::upload::gdrive
