#include "plugin/attachment_compressor.h"

#include "platform/zip_archiver.h"
#include "plugin/attachment_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace qm::plugin {
namespace {

bool removePath(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
}

platform::Error fileSystemError(const QString& what, const QString& why) {
    return platform::Error(QString::fromLatin1(platform::kZipArchiverErrorDomain),
                           platform::ZipDestinationUnwritable, QStringLiteral("%1: %2").arg(what, why));
}

using Result = AttachmentCompressor::Result;

// The archiver writes beside the archive under its name plus seven characters, then renames.
constexpr int maxArchiveNameBytes = maxFileNameBytes - 7;

Result failed(Result::Failure failure, QString name, platform::Error error, const QStringList& made) {
    for (const QString& path : made)
        removePath(path);
    Result result;
    result.failure = failure;
    result.failedName = std::move(name);
    result.error = std::move(error);
    return result;
}

// Moves the copies of the run into a folder of their own and archives that folder with itself as the top
// entry. The folder is new for each run, so nothing of an earlier message can get into this archive, and
// no copy's name can stand in its way. Moving instead of copying needs no second copy's worth of disk.
Result singleArchive(const QStringList& paths, const QString& subject, const QDir& work) {
    const auto fail = [&paths](platform::Error error) {
        return failed(Result::Failure::SingleArchive, arrayDescription(paths), std::move(error), paths);
    };
    // Room for the extension; the archive's own name is fitted once more when it needs a number.
    const QString name = fitFileName(singleArchiveName(subject), maxArchiveNameBytes - 4);
    QTemporaryDir run(work.filePath(QStringLiteral(".single-XXXXXX")));
    if (!run.isValid())
        return fail(fileSystemError(QStringLiteral("The folder for the archive could not be made"),
                                    run.errorString()));
    const QDir folder(run.filePath(name));
    if (::mkdir(QFile::encodeName(folder.path()).constData(), 0777) != 0) // the archive keeps its mode
        return fail(fileSystemError(QStringLiteral("The folder “%1” could not be made").arg(name),
                                    qt_error_string(errno)));
    for (const QString& path : paths) {
        const QString target = folder.filePath(QFileInfo(path).fileName());
        if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) != 0)
            return fail(fileSystemError(QStringLiteral("“%1” could not be moved into the archive's folder")
                                            .arg(QFileInfo(path).fileName()),
                                        qt_error_string(errno)));
    }
    const QString archive =
        nextAvailableFilePath(work.filePath(name + QStringLiteral(".zip")), maxArchiveNameBytes);
    if (const auto zipped =
            platform::ZipArchiver::archive(folder.path(), archive, platform::ZipOptions{true});
        !zipped)
        return fail(zipped.error());
    Result result;
    result.paths = {archive};
    return result;
}

} // namespace

bool AttachmentCompressor::Result::failedOnTheFile() const {
    return error && error->code != platform::ZipDestinationUnwritable;
}

AttachmentCompressor::Result AttachmentCompressor::compress(const QStringList& paths, const QString& subject,
                                                            const QString& workingDirectory,
                                                            Settings settings) {
    const QDir work(workingDirectory);
    if (paths.size() >= 2 && settings.compressToSingleZip)
        return singleArchive(paths, subject, work);

    Result result;
    QStringList made;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.suffix() == QLatin1String("zip") || (!settings.compressFiles && !info.isDir())) {
            result.paths.append(path);
            continue;
        }
        // The user's own "<name>.zip" may stand beside it: the archive takes a free name like any copy.
        const QString archive = nextAvailableFilePath(work.filePath(info.fileName() + QStringLiteral(".zip")),
                                                      maxArchiveNameBytes);
        if (const auto zipped =
                platform::ZipArchiver::archive(path, archive, platform::ZipOptions{info.isDir()});
            !zipped)
            return failed(Result::Failure::FileArchive, info.fileName(), zipped.error(), paths + made);
        made.append(archive);
        removePath(path);
        result.paths.append(archive);
    }
    return result;
}

} // namespace qm::plugin
