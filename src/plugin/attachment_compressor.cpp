#include "plugin/attachment_compressor.h"

#include "platform/zip_archiver.h"
#include "plugin/attachment_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qm::plugin {
namespace {

bool removePath(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
}

// Copies a file or a folder; errors are left for the archiver to meet.
void copyInto(const QString& source, const QString& target) {
    const QFileInfo info(source);
    if (!info.isDir()) {
        QFile::copy(source, target);
        return;
    }
    QDir().mkpath(target);
    const QDir dir(source);
    for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        copyInto(entry.filePath(), QDir(target).filePath(entry.fileName()));
}

} // namespace

AttachmentCompressor::Result AttachmentCompressor::compress(const QStringList& paths, const QString& subject,
                                                            const QString& workingDirectory, Settings settings) {
    const QDir work(workingDirectory);
    Result result;

    if (paths.size() >= 2 && settings.compressToSingleZip) {
        const QString name = singleArchiveName(subject);
        const QString folder = work.filePath(name);
        QDir().mkpath(folder);
        for (const QString& path : paths)
            copyInto(path, QDir(folder).filePath(QFileInfo(path).fileName()));
        const QString archive = work.filePath(name + QStringLiteral(".zip"));
        if (platform::ZipArchiver::archive(folder, archive, platform::ZipOptions{true})) {
            result.failure = Result::Failure::SingleArchive;
            result.failedName = arrayDescription(paths);
            result.paths = paths;
            return result;
        }
        for (const QString& path : paths)
            removePath(path);
        result.paths = {archive};
        return result;
    }

    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.suffix() == QLatin1String("zip") && info.completeSuffix().endsWith(QLatin1String("zip")) &&
            info.fileName().endsWith(QLatin1String(".zip"))) {
            result.paths.append(path);
            continue;
        }
        if (!settings.compressFiles && !info.isDir()) {
            result.paths.append(path);
            continue;
        }
        const QString archive = work.filePath(info.fileName() + QStringLiteral(".zip"));
        if (platform::ZipArchiver::archive(path, archive, platform::ZipOptions{info.isDir()})) {
            result.failure = Result::Failure::FileArchive;
            result.failedName = info.fileName();
            return result;
        }
        removePath(path);
        result.paths.append(archive);
    }
    return result;
}

} // namespace qm::plugin
