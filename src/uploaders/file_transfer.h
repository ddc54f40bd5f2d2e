#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace qm::upload {

// Errors of the file-transfer layer. Library failures carry libcurl's code under "CURLcode", HTTP
// refusals the status under "HTTPStatus".
inline constexpr char kFileTransferErrorDomain[] = "QuillmoorFileTransferErrorDomain";
enum FileTransferErrorCode : int {
    TransferCancelled = 1,      // by cancel() or by a cancelled challenge; already dealt with by the caller
    TransferLibraryFailure = 2, // connection, protocol, file-system or TLS failure
    TransferHTTPStatus = 3,     // the server answered with an error status
    TransferHostKeyChanged = 4, // an SSH server presented a key other than the one on record
    TransferUnsupportedScheme = 5,
    TransferLocalFileFailure = 6, // the local source could not be read
    TransferHostKeyUnknown = 7,   // an SSH server whose key is not on record; see HostKey::fromError()
};

// An SSH server's key as the user is asked to accept it.
struct HostKey {
    QString host;
    QString fingerprint;    // "SHA256:" and the unpadded Base64 digest, as ssh-keygen -l shows it
    QString knownHostsLine; // the entry that records it
    QString knownHostsFile; // where it is to be recorded

    // The TransferHostKeyUnknown error that carries this key.
    platform::Error error() const;
    // The key an unknown-host error carries; nullopt for any other error.
    static std::optional<HostKey> fromError(const platform::Error& error);
};

bool isTransferCancelled(const std::optional<platform::Error>& error);

// What a challenge answer logs in with: a password, or a private key file whose pass phrase is `password`.
struct TransferCredential {
    QString user;
    QString password;
    QString privateKeyFile; // empty: password log-in
};

enum class AuthenticationMethod {
    Default, // FTP, FTPS and SFTP log-ins
    HTTPBasic,
    HTTPDigest,
    Other, // an HTTP scheme this layer cannot answer with a user and password
};

struct TransferChallenge {
    QUrl url;
    AuthenticationMethod method = AuthenticationMethod::Default;
    // Answered credentials the server has refused so far in this operation.
    int previousFailureCount = 0;
    // Why the last attempt was refused, when the protocol says more than "refused" (FTP, SFTP).
    std::optional<platform::Error> error;
};

// The answer to one challenge. Copies share one answer: the first call counts, and when the last copy
// goes away unanswered the challenge is cancelled, so a transfer never waits for a reply that cannot come.
class ChallengeReply {
public:
    struct State;
    explicit ChallengeReply(std::shared_ptr<State> state);

    void useCredential(const TransferCredential& credential);
    // Go on without a credential: the refusal, if any, becomes the operation's error.
    void performDefaultHandling();
    // Stop the operation; it completes with TransferCancelled.
    void cancel();

private:
    struct Guard;
    std::shared_ptr<Guard> guard_;
};

// One running operation; cancel() aborts its transfer at the next progress tick.
class TransferOperation {
public:
    void cancel() { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }

private:
    std::atomic<bool> cancelled_{false};
};

// Whether a fetch may log in; credentials belong to their own server only.
enum class FetchAccess { Anonymous, LogIn };

struct FileTransferOptions {
    // SSH host keys on record; a changed key is always refused. Empty: the default file.
    QString knownHostsFile;
    // Record an unknown host's key and go on, for tools that have the user's consent already; otherwise
    // the operation fails with TransferHostKeyUnknown and the key is recorded only by acceptHostKey().
    bool recordUnknownHostKeys = false;
    int connectTimeoutSeconds = 20;
    // A transfer that moves less than a byte a second for this long counts as dead.
    int lowSpeedSeconds = 60;
};

// Lists, creates, deletes and fetches files on servers addressed by URL: sftp, ftp, ftps (implicit TLS),
// http and https with WebDAV methods, and file. Each operation runs on the global pool with blocking
// libcurl calls; every callback (challenges, progress, completions) arrives on the main thread, and none
// arrives after the FileTransfer is destroyed.
class FileTransfer {
public:
    using Options = FileTransferOptions;

    using ChallengeHandler = std::function<void(const TransferChallenge&, ChallengeReply)>;
    using Completion = std::function<void(const std::optional<platform::Error>&)>;
    using Progress = std::function<void(qint64 written, qint64 total)>;

    explicit FileTransfer(Options options = {});
    ~FileTransfer(); // cancels what is still running
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    // Without a handler every challenge is cancelled.
    void setChallengeHandler(ChallengeHandler handler);

    // Names (not paths) of the folder's entries, hidden ones (leading ".") left out.
    std::shared_ptr<TransferOperation> contentsOfDirectory(
        const QUrl& folder,
        std::function<void(const QStringList&, const std::optional<platform::Error>&)> completion);
    // Streams the local file to `url`; progress counts bytes written of the file's size.
    std::shared_ptr<TransferOperation> createFile(const QUrl& url, const QString& localPath,
                                                  bool withIntermediateDirectories, Progress progress,
                                                  Completion completion);
    std::shared_ptr<TransferOperation> createFile(const QUrl& url, const QByteArray& data,
                                                  bool withIntermediateDirectories, Completion completion);
    // Picks the name to store under from the names known to be taken.
    using NameChooser = std::function<QString(const QStringList& taken)>;
    using StoreCompletion = std::function<void(const QString& name, const std::optional<platform::Error>&)>;
    // Streams the local file into the existing `folder` under `choose(taken)`, never replacing a file: the
    // bytes go to a hidden temporary name first and take their final name only whole, by a step that
    // fails when the name exists (it then joins the taken names and another is chosen), so that two
    // senders to one folder never share a name. A failed or cancelled store removes what it sent.
    std::shared_ptr<TransferOperation> storeFile(const QUrl& folder, const QString& localPath,
                                                 QStringList taken, NameChooser choose, Progress progress,
                                                 StoreCompletion completion);
    std::shared_ptr<TransferOperation> removeItem(const QUrl& url, Completion completion);
    // The body of a small resource; fails beyond `maxBytes`. Anonymous: http(s) and file only, redirects
    // followed, never a challenge. LogIn: every scheme above, with challenges as the other operations.
    std::shared_ptr<TransferOperation>
    fetchContents(const QUrl& url, FetchAccess access,
                  std::function<void(const QByteArray&, const std::optional<platform::Error>&)> completion,
                  qint64 maxBytes = 1 << 20);

    // Asks an http(s) address for its head, anonymously and following redirects: no error for a 2xx
    // answer, else an error naming the address and (under "HTTPStatus") the status.
    std::shared_ptr<TransferOperation> checkAddress(const QUrl& url, Completion completion);

    // `base` (scheme, user, host, port) with the absolute `path` (decoded text).
    static QUrl urlWithPath(const QUrl& base, const QString& path);
    // Adds the key to the known hosts, after the user agreed to it.
    static platform::Result<void> acceptHostKey(const HostKey& key);
    // $XDG_DATA_HOME/quillmoor/known_hosts (~/.local/share when unset).
    static QString defaultKnownHostsFile();

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

} // namespace qm::upload
