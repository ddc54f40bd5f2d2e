// file: URLs: plain file I/O through a fixed buffer, so large files never sit in memory.

#include "uploaders/file_transfer_internal.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qm::upload::transfer {

namespace {

using platform::Error;
using platform::Result;

constexpr qint64 kBufferSize = 1 << 20;

Error fileError(const QString& text, const QString& path) {
    return makeError(TransferLibraryFailure, text.arg(path));
}

// Copies `source` into the open `file`; the caller removes the file on failure.
Result<void> copyInto(Context& context, QFileDevice& file, UploadSource& source,
                      const ProgressSink& progress) {
    ProgressThrottle throttle(progress);
    QByteArray buffer(static_cast<qsizetype>(std::min(kBufferSize, std::max<qint64>(source.size(), 1))),
                      Qt::Uninitialized);
    qint64 written = 0;
    for (;;) {
        if (context.cancelled())
            return cancelledError();
        const qint64 read = source.read(buffer.data(), buffer.size());
        if (read < 0)
            return makeError(TransferLocalFileFailure, QStringLiteral("The file to send could not be read."));
        if (read == 0)
            break;
        if (file.write(buffer.constData(), read) != read)
            return fileError(QStringLiteral("The file %1 could not be written: ") + file.errorString(),
                             file.fileName());
        written += read;
        throttle.update(written, source.size());
    }
    if (!file.flush())
        return fileError(QStringLiteral("The file %1 could not be written: ") + file.errorString(),
                         file.fileName());
    throttle.update(source.size(), source.size());
    return {};
}

// 0, or the errno of the failure; EEXIST when `to` exists.
int renameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a hard link refuses an existing name just the same.
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    ::unlink(source.constData());
    return 0;
}

} // namespace

Result<void> localStore(Context& context, const QUrl& folderURL, UploadSource& source, QStringList taken,
                        const FileTransfer::NameChooser& choose, const ProgressSink& progress,
                        QString& name) {
    const QDir folder(folderURL.toLocalFile());
    if (folderURL.toLocalFile().isEmpty() || !folder.exists())
        return fileError(QStringLiteral("The folder %1 does not exist."), folderURL.toLocalFile());
    QFile file(folder.filePath(temporaryName()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fileError(QStringLiteral("The file %1 could not be created: ") + file.errorString(),
                         file.fileName());
    Result<void> copied = copyInto(context, file, source, progress);
    file.close();
    for (int attempt = 0; copied && attempt < kMaxNameAttempts; ++attempt) {
        name = choose(taken);
        const int failure = renameWithoutReplacing(file.fileName(), folder.filePath(name));
        if (failure == 0)
            return {};
        if (failure != EEXIST)
            copied = fileError(QStringLiteral("The file %1 could not be stored: ") +
                                   QString::fromLocal8Bit(std::strerror(failure)),
                               folder.filePath(name));
        taken.append(name);
    }
    file.remove();
    return copied ? Result<void>(noFreeName(folderURL)) : copied;
}

Result<QStringList> localContents(Context&, const QUrl& folder) {
    const QString path = folder.toLocalFile();
    const QDir directory(path);
    if (path.isEmpty() || !directory.exists())
        return fileError(QStringLiteral("The folder %1 does not exist."), path);
    return visibleNames(directory.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot));
}

Result<void> localCreate(Context& context, const QUrl& url, UploadSource& source,
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
    if (auto copied = copyInto(context, file, source, progress); !copied) {
        file.cancelWriting();
        return copied;
    }
    if (!file.commit())
        return fileError(QStringLiteral("The file %1 could not be written: ") + file.errorString(), path);
    return {};
}

Result<void> localRemove(Context&, const QUrl& url) {
    const QString path = url.toLocalFile();
    QFile file(path);
    if (!file.remove())
        return fileError(QStringLiteral("The file %1 could not be deleted: ") + file.errorString(), path);
    return {};
}

Result<QByteArray> localFetch(Context&, const QUrl& url, qint64 maxBytes) {
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return fileError(QStringLiteral("The file %1 could not be read."), url.toLocalFile());
    QByteArray body = file.read(maxBytes + 1);
    if (body.size() > maxBytes)
        return fileError(QStringLiteral("The file %1 is larger than expected."), url.toLocalFile());
    return body;
}

} // namespace qm::upload::transfer
