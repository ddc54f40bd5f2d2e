// file: URLs: plain file I/O through a fixed buffer, so large files never sit in memory.

#include "uploaders/file_transfer_internal.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace qm::upload::transfer {

namespace {

using platform::Error;

constexpr qint64 kBufferSize = 1 << 20;

Error fileError(const QString& text, const QString& path) {
    return makeError(TransferLibraryFailure, text.arg(path));
}

} // namespace

QStringList localContents(Context&, const QUrl& folder, std::optional<Error>& error) {
    const QString path = folder.toLocalFile();
    const QDir directory(path);
    if (path.isEmpty() || !directory.exists()) {
        error = fileError(QStringLiteral("The folder %1 does not exist."), path);
        return {};
    }
    return visibleNames(directory.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot));
}

std::optional<Error> localCreate(Context& context, const QUrl& url, UploadSource& source,
                                 bool withIntermediateDirectories, const ProgressSink& progress) {
    const QString path = url.toLocalFile();
    const QString parent = QFileInfo(path).absolutePath();
    if (withIntermediateDirectories && !QDir().mkpath(parent))
        return fileError(QStringLiteral("The folder %1 could not be created."), parent);
    if (!QFileInfo(parent).isDir())
        return fileError(QStringLiteral("The folder %1 does not exist."), parent);

    // Written beside the target and renamed at the end: a cancelled or failed copy leaves nothing behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fileError(QStringLiteral("The file %1 could not be created: ") + file.errorString(), path);
    ProgressThrottle throttle(progress);
    QByteArray buffer(static_cast<qsizetype>(std::min(kBufferSize, std::max<qint64>(source.size(), 1))),
                      Qt::Uninitialized);
    qint64 written = 0;
    for (;;) {
        if (context.cancelled()) {
            file.cancelWriting();
            return cancelledError();
        }
        const qint64 read = source.read(buffer.data(), buffer.size());
        if (read < 0)
            return makeError(TransferLocalFileFailure, QStringLiteral("The file to send could not be read."));
        if (read == 0)
            break;
        if (file.write(buffer.constData(), read) != read)
            return fileError(QStringLiteral("The file %1 could not be written: ") + file.errorString(), path);
        written += read;
        throttle.update(written, source.size());
    }
    if (!file.commit())
        return fileError(QStringLiteral("The file %1 could not be written: ") + file.errorString(), path);
    throttle.update(source.size(), source.size());
    return std::nullopt;
}

std::optional<Error> localRemove(Context&, const QUrl& url) {
    const QString path = url.toLocalFile();
    QFile file(path);
    if (!file.remove())
        return fileError(QStringLiteral("The file %1 could not be deleted: ") + file.errorString(), path);
    return std::nullopt;
}

QByteArray localFetch(Context&, const QUrl& url, qint64 maxBytes, std::optional<Error>& error) {
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly)) {
        error = fileError(QStringLiteral("The file %1 could not be read."), url.toLocalFile());
        return {};
    }
    QByteArray body = file.read(maxBytes + 1);
    if (body.size() > maxBytes) {
        error = fileError(QStringLiteral("The file %1 is larger than expected."), url.toLocalFile());
        return {};
    }
    return body;
}

} // namespace qm::upload::transfer
