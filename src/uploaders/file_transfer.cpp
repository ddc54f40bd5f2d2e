#include "uploaders/file_transfer.h"

#include "platform/data_additions.h"
#include "platform/dispatch.h"
#include "uploaders/file_transfer_internal.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <curl/curl.h>

namespace qm::upload {

namespace dispatch = platform::dispatch;

namespace {

// The completions report an optional error.
std::optional<platform::Error> errorOf(const platform::Result<void>& result) {
    if (result)
        return std::nullopt;
    return result.error();
}

} // namespace

bool isTransferCancelled(const std::optional<platform::Error>& error) {
    return error && error->domain == QLatin1String(kFileTransferErrorDomain) &&
           error->code == TransferCancelled;
}

// ---- challenge replies

void ChallengeReply::State::answer(Kind answerKind, const TransferCredential& answerCredential) {
    {
        std::lock_guard lock(mutex);
        if (kind != Kind::None)
            return;
        kind = answerKind;
        credential = answerCredential;
    }
    answered.notify_all();
}

struct ChallengeReply::Guard {
    explicit Guard(std::shared_ptr<State> replyState)
        : state(std::move(replyState)) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() { state->answer(State::Kind::Cancel); }
    std::shared_ptr<State> state;
};

ChallengeReply::ChallengeReply(std::shared_ptr<State> state)
    : guard_(std::make_shared<Guard>(std::move(state))) {}

void ChallengeReply::useCredential(const TransferCredential& credential) {
    guard_->state->answer(State::Kind::Credential, credential);
}

void ChallengeReply::performDefaultHandling() {
    guard_->state->answer(State::Kind::Default);
}

void ChallengeReply::cancel() {
    guard_->state->answer(State::Kind::Cancel);
}

// ---- shared pieces

namespace transfer {

void postToMain(const CoreRef& core, std::function<void()> work) {
    dispatch::onMain([core, work = std::move(work)] {
        const auto alive = core.lock();
        if (alive && alive->alive)
            work();
    });
}

platform::Error makeError(int code, const QString& description, QVariantMap userInfo) {
    return platform::Error(QString::fromLatin1(kFileTransferErrorDomain), code, description,
                           std::move(userInfo));
}

platform::Error cancelledError() {
    return makeError(TransferCancelled, QStringLiteral("The transfer was cancelled."));
}

QString temporaryName() {
    return QStringLiteral(".quillmoor-%1.part")
        .arg(QString::fromLatin1(platform::randomDataWithBytes(8).toHex()));
}

platform::Error noFreeName(const QUrl& folder) {
    return makeError(TransferLibraryFailure,
                     QStringLiteral("No free name was found in %1.").arg(displayString(folder)));
}

QString displayString(const QUrl& url) {
    return url.toDisplayString(QUrl::RemovePassword);
}

QStringList visibleNames(const QStringList& names) {
    QStringList visible;
    for (const QString& name : names)
        if (!name.isEmpty() && !name.startsWith(QLatin1Char('.')))
            visible.append(name);
    return visible;
}

platform::Result<void> FileSource::open() {
    // Unbuffered: the transfer reads large pieces, which a buffer would only copy once more.
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return makeError(
            TransferLocalFileFailure,
            QStringLiteral("The file %1 could not be read: %2").arg(file_.fileName(), file_.errorString()));
    size_ = file_.size();
    return {};
}

qint64 DataSource::read(char* buffer, qint64 maxBytes) {
    const qint64 count = std::min(maxBytes, data_.size() - position_);
    std::memcpy(buffer, data_.constData() + position_, static_cast<size_t>(count));
    position_ += count;
    return count;
}

bool DataSource::seek(qint64 position) {
    if (position < 0 || position > data_.size())
        return false;
    position_ = position;
    return true;
}

void ProgressThrottle::update(qint64 written, qint64 total) {
    if (!sink_ || written <= lastWritten_)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (written < total && now - lastTime_ < 50)
        return;
    lastWritten_ = written;
    lastTime_ = now;
    sink_(written, total);
}

} // namespace transfer

// ---- operations

namespace {

using transfer::Context;

bool isLocal(const QUrl& url) {
    return url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0;
}

// Runs `work` on the pool for a new operation and hands its outcome to the main thread.
std::shared_ptr<TransferOperation> launch(const std::shared_ptr<FileTransfer::Core>& core,
                                          std::function<std::function<void()>(Context&)> work) {
    auto operation = std::make_shared<TransferOperation>();
    {
        std::lock_guard lock(core->mutex);
        std::erase_if(core->operations, [](const auto& weak) { return weak.expired(); });
        core->operations.push_back(operation);
    }
    Context context{core, operation, core->options};
    dispatch::onGlobalPool([context, work = std::move(work)]() mutable {
        std::function<void()> deliver = work(context);
        transfer::postToMain(context.core, std::move(deliver));
    });
    return operation;
}

// The pool-side sink that hands each progress report to the main thread; none without a receiver.
transfer::ProgressSink progressOnMain(const Context& context, const FileTransfer::Progress& progress) {
    if (!progress)
        return {};
    return [core = context.core, progress](qint64 written, qint64 total) {
        transfer::postToMain(core, [progress, written, total] { progress(written, total); });
    };
}

} // namespace

FileTransfer::FileTransfer(Options options)
    : core_(std::make_shared<Core>()) {
    static std::once_flag curlInitialized;
    dispatch::once(curlInitialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (options.knownHostsFile.isEmpty())
        options.knownHostsFile = defaultKnownHostsFile();
    core_->options = std::move(options);
}

FileTransfer::~FileTransfer() {
    core_->alive = false;
    std::lock_guard lock(core_->mutex);
    for (const auto& weak : core_->operations)
        if (const auto operation = weak.lock())
            operation->cancel();
}

void FileTransfer::setChallengeHandler(ChallengeHandler handler) {
    core_->challengeHandler = std::move(handler);
}

std::shared_ptr<TransferOperation> FileTransfer::contentsOfDirectory(
    const QUrl& folder,
    std::function<void(const QStringList&, const std::optional<platform::Error>&)> completion) {
    return launch(
        core_, [folder, completion = std::move(completion)](Context& context) -> std::function<void()> {
            const auto listed = isLocal(folder) ? transfer::localContents(context, folder)
                                                : transfer::remoteContents(context, folder);
            return [completion, names = listed.valueOr(QStringList()),
                    error = listed ? std::nullopt : std::optional<platform::Error>(listed.error())] {
                completion(names, error);
            };
        });
}

std::shared_ptr<TransferOperation> FileTransfer::createFile(const QUrl& url, const QString& localPath,
                                                            bool withIntermediateDirectories,
                                                            Progress progress, Completion completion) {
    return launch(core_, [=](Context& context) -> std::function<void()> {
        transfer::FileSource source(localPath);
        platform::Result<void> created = source.open();
        const transfer::ProgressSink sink = progressOnMain(context, progress);
        if (created)
            created = isLocal(url)
                          ? transfer::localCreate(context, url, source, withIntermediateDirectories, sink)
                          : transfer::remoteCreate(context, url, source, withIntermediateDirectories, sink);
        return [completion, error = errorOf(created)] { completion(error); };
    });
}

std::shared_ptr<TransferOperation> FileTransfer::createFile(const QUrl& url, const QByteArray& data,
                                                            bool withIntermediateDirectories,
                                                            Completion completion) {
    return launch(core_, [=](Context& context) -> std::function<void()> {
        transfer::DataSource source(data);
        const transfer::ProgressSink none;
        const auto created =
            isLocal(url) ? transfer::localCreate(context, url, source, withIntermediateDirectories, none)
                         : transfer::remoteCreate(context, url, source, withIntermediateDirectories, none);
        return [completion, error = errorOf(created)] { completion(error); };
    });
}

std::shared_ptr<TransferOperation> FileTransfer::storeFile(const QUrl& folder, const QString& localPath,
                                                           QStringList taken, NameChooser choose,
                                                           Progress progress, StoreCompletion completion) {
    return launch(core_, [=](Context& context) -> std::function<void()> {
        transfer::FileSource source(localPath);
        platform::Result<void> stored = source.open();
        const transfer::ProgressSink sink = progressOnMain(context, progress);
        QString name;
        if (stored)
            stored = isLocal(folder)
                         ? transfer::localStore(context, folder, source, taken, choose, sink, name)
                         : transfer::remoteStore(context, folder, source, taken, choose, sink, name);
        return [completion, name, error = errorOf(stored)] { completion(error ? QString() : name, error); };
    });
}

std::shared_ptr<TransferOperation> FileTransfer::removeItem(const QUrl& url, Completion completion) {
    return launch(core_, [=](Context& context) -> std::function<void()> {
        const auto removed =
            isLocal(url) ? transfer::localRemove(context, url) : transfer::remoteRemove(context, url);
        return [completion, error = errorOf(removed)] { completion(error); };
    });
}

std::shared_ptr<TransferOperation> FileTransfer::fetchContents(
    const QUrl& url, FetchAccess access,
    std::function<void(const QByteArray&, const std::optional<platform::Error>&)> completion,
    qint64 maxBytes) {
    return launch(core_, [=](Context& context) -> std::function<void()> {
        const auto fetched = isLocal(url) ? transfer::localFetch(context, url, maxBytes)
                                          : transfer::remoteFetch(context, url, access, maxBytes);
        return [completion, body = fetched.valueOr(QByteArray()),
                error = fetched ? std::nullopt : std::optional<platform::Error>(fetched.error())] {
            completion(body, error);
        };
    });
}

std::shared_ptr<TransferOperation> FileTransfer::checkAddress(const QUrl& url, Completion completion) {
    return launch(core_, [=](Context& context) -> std::function<void()> {
        return [completion, error = errorOf(transfer::remoteCheck(context, url))] { completion(error); };
    });
}

QUrl FileTransfer::urlWithPath(const QUrl& base, const QString& path) {
    QUrl url = base;
    url.setQuery(QString());
    url.setFragment(QString());
    url.setPath(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path, QUrl::DecodedMode);
    return url;
}

platform::Error HostKey::error() const {
    return transfer::makeError(
        TransferHostKeyUnknown,
        QStringLiteral(
            "The server %1 is not known yet. Its host key has the fingerprint %2; link the service "
            "again to check and accept it.")
            .arg(host, fingerprint),
        {{QStringLiteral("HostKeyHost"), host},
         {QStringLiteral("HostKeyFingerprint"), fingerprint},
         {QStringLiteral("KnownHostsLine"), knownHostsLine},
         {QStringLiteral("KnownHostsFile"), knownHostsFile}});
}

std::optional<HostKey> HostKey::fromError(const platform::Error& error) {
    if (error.domain != QLatin1String(kFileTransferErrorDomain) || error.code != TransferHostKeyUnknown)
        return std::nullopt;
    return HostKey{error.userInfo.value(QStringLiteral("HostKeyHost")).toString(),
                   error.userInfo.value(QStringLiteral("HostKeyFingerprint")).toString(),
                   error.userInfo.value(QStringLiteral("KnownHostsLine")).toString(),
                   error.userInfo.value(QStringLiteral("KnownHostsFile")).toString()};
}

platform::Result<void> FileTransfer::acceptHostKey(const HostKey& key) {
    const QString path = key.knownHostsFile.isEmpty() ? defaultKnownHostsFile() : key.knownHostsFile;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (key.knownHostsLine.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(key.knownHostsLine.toLatin1() + '\n') < 0)
        return transfer::makeError(
            TransferLibraryFailure,
            QStringLiteral("The host key could not be recorded in %1: %2").arg(path, file.errorString()));
    return {};
}

QString FileTransfer::defaultKnownHostsFile() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/quillmoor/known_hosts");
}

} // namespace qm::upload
