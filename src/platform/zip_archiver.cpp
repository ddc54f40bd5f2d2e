#include "platform/zip_archiver.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace qm::platform {
namespace {

// Below this size a sample costs as much as deflating the whole file.
constexpr qint64 kSampleThreshold = 4 * 1024;
// Eight windows at the middles of eight equal slices: each window stands for an equal share of the file,
// so a compressible header does not outweigh an incompressible body (or the other way round).
constexpr int kSampleWindows = 8;
constexpr qint64 kSampleWindow = 16 * 1024;
constexpr qint64 kFirstPiece = 4 * 1024;
// Deflate at level 1 must save at least 5% of the sample. Photos, videos, archives and compressed PDFs
// save under 3%; screenshots saved with weak PNG compression still save 10% and more, so they are deflated.
constexpr double kStoreAboveRatio = 0.95;
// Level 6 matches `zip -6` in time and size on text; level 5 takes 30% less time for archives 4% larger.
constexpr zip_uint32_t kDeflateLevel = 6;

constexpr zip_uint16_t kExtendedTimestampField = 0x5455;
constexpr zip_uint32_t kMsDosDirectory = 0x10;

QString display(const QByteArray& localPath) {
    return QFile::decodeName(localPath);
}

Error makeError(int code, const QString& text, const QByteArray& path = {}, const QString& libzipError = {}) {
    QVariantMap info;
    if (!path.isEmpty())
        info.insert(QStringLiteral("path"), display(path));
    if (!libzipError.isEmpty())
        info.insert(QStringLiteral("libzipError"), libzipError);
    return Error(QString::fromLatin1(kZipArchiverErrorDomain), code, text, info);
}

// `error` 0: the file is shorter than when the folder was walked.
Error unreadable(const QByteArray& path, int error) {
    const QString why =
        error ? qt_error_string(error) : QStringLiteral("it changed while it was being archived");
    return makeError(ZipSourceUnreadable,
                     QStringLiteral("“%1” could not be read: %2").arg(display(path), why), path);
}

ssize_t preadFully(int fd, char* buffer, size_t length, off_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, buffer + done, length - done, offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += size_t(n);
    }
    return ssize_t(done);
}

// Whether deflating the file is worth it, judged from how a fast deflate does on a sample of its data.
// Returns 0 or the errno of a failed read.
int worthDeflating(const QByteArray& path, qint64 size, bool* deflate) {
    *deflate = true;
    if (size < kSampleThreshold)
        return 0;
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    struct Span {
        qint64 offset, length;
    };
    std::vector<Span> spans;
    if (size <= kSampleWindows * kSampleWindow) {
        spans.push_back({0, size});
    } else {
        for (int i = 0; i < kSampleWindows; ++i)
            spans.push_back({size * (2 * i + 1) / (2 * kSampleWindows) - kSampleWindow / 2, kSampleWindow});
    }
    const qint64 planned = std::min<qint64>(size, kSampleWindows * kSampleWindow);

    char buffer[kSampleWindow];
    qint64 sampled = 0, packed = 0;
    int readError = 0;
    for (const Span& span : spans) {
        for (qint64 done = 0; done < span.length;) {
            // A small first piece settles most text files at once (see below).
            const qint64 piece = std::min(sampled == 0 ? kFirstPiece : kSampleWindow, span.length - done);
            const ssize_t n = preadFully(fd, buffer, size_t(piece), off_t(span.offset + done));
            if (n <= 0) {
                readError = n < 0 ? errno : 0;
                break;
            }
            // qCompress adds a 4-byte length and 6 bytes of zlib framing that the archive does not carry.
            packed += qCompress(reinterpret_cast<const uchar*>(buffer), n, 1).size() - 10;
            sampled += n;
            done += n;
            // Deflate is settled once even an incompressible rest (deflate grows it by far less than 1%)
            // could not lift the ratio over the bar; the answer is the one the whole sample would give.
            if (double(packed) + 1.01 * double(planned - sampled) <= kStoreAboveRatio * double(planned)) {
                close(fd);
                return 0;
            }
        }
        if (readError)
            break;
    }
    close(fd);
    if (readError)
        return readError;
    if (sampled >= kSampleThreshold)
        *deflate = double(packed) <= kStoreAboveRatio * double(sampled);
    return 0;
}

// Why a source failed while libzip was reading it, which libzip's own error does not name.
struct Failure {
    QByteArray path;
    int error = 0;
};

// A file opened only when libzip reads it in zip_close, so a folder of thousands of files never holds more
// than one of them open; zip_source_file in this libzip would do the same, but could not name the file that
// failed. Reads stop at the size found when the folder was walked, which libzip has already used to decide
// on Zip64; a file that has shrunk since is an error rather than a silently truncated entry.
struct FileSource {
    QByteArray path;
    zip_uint64_t size = 0;
    time_t mtime = 0;
    Failure* failure = nullptr;
    int fd = -1;
    zip_uint64_t left = 0;
    zip_error_t error;

    zip_int64_t fail(int zipError, int systemError) {
        zip_error_set(&error, zipError, systemError);
        if (failure->path.isEmpty()) {
            failure->path = path;
            failure->error = systemError;
        }
        return -1;
    }

    static zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto* self = static_cast<FileSource*>(state);
        switch (command) {
        case ZIP_SOURCE_OPEN:
            self->fd = open(self->path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            if (self->fd < 0)
                return self->fail(ZIP_ER_OPEN, errno);
            posix_fadvise(self->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
            self->left = self->size;
            return 0;
        case ZIP_SOURCE_READ: {
            const size_t want = size_t(std::min(length, self->left));
            if (want == 0)
                return 0;
            ssize_t n;
            do
                n = read(self->fd, data, want);
            while (n < 0 && errno == EINTR);
            if (n < 0)
                return self->fail(ZIP_ER_READ, errno);
            if (n == 0)
                return self->fail(ZIP_ER_EOF, 0);
            self->left -= zip_uint64_t(n);
            return n;
        }
        case ZIP_SOURCE_CLOSE:
            if (self->fd >= 0)
                close(self->fd);
            self->fd = -1;
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &self->error);
            if (!st)
                return -1;
            zip_stat_init(st);
            st->size = self->size;
            st->mtime = self->mtime;
            st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&self->error, data, length);
        case ZIP_SOURCE_FREE:
            if (self->fd >= 0)
                close(self->fd);
            zip_error_fini(&self->error);
            delete self;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_READABLE;
        default:
            zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

class Writer {
public:
    Writer(zip_t* zip, Failure* failure, dev_t skipDevice, ino_t skipInode)
        : zip_(zip)
        , failure_(failure)
        , skipDevice_(skipDevice)
        , skipInode_(skipInode) {}

    int entries() const { return entries_; }

    Result<void> addFolderContents(const QByteArray& path, const QByteArray& prefix) {
        // The listing is read completely and closed before descending, so deep trees hold no descriptors.
        DIR* dir = opendir(path.constData());
        if (!dir)
            return unreadable(path, errno);
        std::vector<QByteArray> names;
        errno = 0;
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
            errno = 0;
        }
        const int listError = errno;
        closedir(dir);
        if (listError)
            return unreadable(path, listError);
        std::sort(names.begin(), names.end());

        for (const QByteArray& name : names) {
            const QByteArray child = path + '/' + name;
            struct stat st;
            if (lstat(child.constData(), &st) != 0)
                return unreadable(child, errno);
            Result<void> added;
            if (S_ISDIR(st.st_mode)) {
                added = addFolder(child, prefix + name + '/', st);
                if (added)
                    added = addFolderContents(child, prefix + name + '/');
            } else if (S_ISREG(st.st_mode)) {
                if (st.st_dev == skipDevice_ && st.st_ino == skipInode_)
                    continue; // the archive being replaced, when it lies inside the source
                added = addFile(child, prefix + name, st);
            } else if (S_ISLNK(st.st_mode)) {
                added = addLink(child, prefix + name, st);
            }
            if (!added)
                return added;
        }
        return {};
    }

    Result<void> addFolder(const QByteArray& path, const QByteArray& name, const struct stat& st) {
        const zip_int64_t index = zip_dir_add(zip_, stripSlash(name).constData(), nameFlags(name));
        if (index < 0)
            return libzipError(path);
        return describe(index, path, st, kMsDosDirectory);
    }

    Result<void> addFile(const QByteArray& path, const QByteArray& name, const struct stat& st) {
        bool deflate = true;
        if (const int error = worthDeflating(path, st.st_size, &deflate))
            return unreadable(path, error);
        if (st.st_size == 0)
            deflate = false;

        auto* state = new FileSource;
        state->path = path;
        state->size = zip_uint64_t(st.st_size);
        state->mtime = st.st_mtime;
        state->failure = failure_;
        zip_error_init(&state->error);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_function_create(&FileSource::callback, state, &error);
        if (!source) {
            zip_error_fini(&state->error);
            delete state;
            const QString why = QString::fromUtf8(zip_error_strerror(&error));
            zip_error_fini(&error);
            return makeError(ZipArchiveFailed,
                             QStringLiteral("The archive could not be prepared: %1").arg(why), path, why);
        }
        zip_error_fini(&error);
        return addSource(source, path, name, st, deflate);
    }

    Result<void> addLink(const QByteArray& path, const QByteArray& name, const struct stat& st) {
        // The entry's data is the link's target, as zip -y stores it; unzip recreates the link.
        QByteArray target(std::max<qint64>(st.st_size, 0) + 1, Qt::Uninitialized);
        ssize_t n;
        while ((n = readlink(path.constData(), target.data(), size_t(target.size()))) == target.size())
            target.resize(target.size() * 2);
        if (n < 0)
            return unreadable(path, errno);
        void* copy = malloc(size_t(n) + 1);
        if (!copy)
            return makeError(ZipArchiveFailed, QStringLiteral("Out of memory."), path);
        std::memcpy(copy, target.constData(), size_t(n));
        zip_source_t* source = zip_source_buffer(zip_, copy, zip_uint64_t(n), 1);
        if (!source) {
            free(copy);
            return libzipError(path);
        }
        return addSource(source, path, name, st, false);
    }

private:
    static QByteArray stripSlash(const QByteArray& name) {
        return name.endsWith('/') ? name.chopped(1) : name;
    }

    // libzip rejects UTF-8-flagged names that are not UTF-8; such names keep their bytes unflagged.
    static zip_flags_t nameFlags(const QByteArray& name) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        [[maybe_unused]] const QString decoded = decoder(name);
        return decoder.hasError() ? ZIP_FL_ENC_GUESS : ZIP_FL_ENC_UTF_8;
    }

    Result<void> addSource(zip_source_t* source, const QByteArray& path, const QByteArray& name,
                           const struct stat& st, bool deflate) {
        const zip_int64_t index = zip_file_add(zip_, name.constData(), source, nameFlags(name));
        if (index < 0) {
            zip_source_free(source);
            return libzipError(path);
        }
        if (zip_set_file_compression(zip_, zip_uint64_t(index), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                     deflate ? kDeflateLevel : 0) != 0)
            return libzipError(path);
        return describe(index, path, st, 0);
    }

    Result<void> describe(zip_int64_t index, const QByteArray& path, const struct stat& st,
                          zip_uint32_t msDosAttributes) {
        const auto i = zip_uint64_t(index);
        // Unix mode in the high half, as Info-ZIP writes it; type bits included so links and folders
        // come back as such.
        const zip_uint32_t attributes = (zip_uint32_t(st.st_mode & 0xFFFF) << 16) | msDosAttributes;
        if (zip_file_set_external_attributes(zip_, i, 0, ZIP_OPSYS_UNIX, attributes) != 0 ||
            zip_file_set_mtime(zip_, i, st.st_mtime, 0) != 0)
            return libzipError(path);
        // The DOS time libzip writes is local time at 2-second steps; the extended timestamp gives unzip
        // the exact UTC second.
        if (st.st_mtime >= INT32_MIN && st.st_mtime <= INT32_MAX) {
            const auto t = zip_uint32_t(qint32(st.st_mtime));
            const zip_uint8_t field[5] = {0x01, zip_uint8_t(t), zip_uint8_t(t >> 8), zip_uint8_t(t >> 16),
                                          zip_uint8_t(t >> 24)};
            if (zip_file_extra_field_set(zip_, i, kExtendedTimestampField, ZIP_EXTRA_FIELD_NEW, field,
                                         sizeof field, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) != 0)
                return libzipError(path);
        }
        ++entries_;
        return {};
    }

    Error libzipError(const QByteArray& path) const {
        const QString why = QString::fromUtf8(zip_strerror(zip_));
        return makeError(ZipArchiveFailed,
                         QStringLiteral("“%1” could not be added to the archive: %2").arg(display(path), why),
                         path, why);
    }

    zip_t* zip_;
    Failure* failure_;
    dev_t skipDevice_;
    ino_t skipInode_;
    int entries_ = 0;
};

// libzip removes an archive left without entries instead of writing one; an empty folder still gives
// an archive, as it did before.
Result<void> writeEmptyArchive(const QString& archivePath) {
    static const char kEndOfCentralDirectory[22] = {'P', 'K', 5, 6};
    QSaveFile file(archivePath);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(kEndOfCentralDirectory, sizeof kEndOfCentralDirectory) !=
            qint64(sizeof kEndOfCentralDirectory) ||
        !file.commit())
        return makeError(
            ZipDestinationUnwritable,
            QStringLiteral("The archive “%1” could not be written: %2").arg(archivePath, file.errorString()),
            QFile::encodeName(archivePath));
    return {};
}

} // namespace

Result<void> ZipArchiver::archive(const QString& source, const QString& archivePath, ZipOptions options) {
    const QString absoluteSource = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    const QByteArray sourcePath = QFile::encodeName(absoluteSource);
    const QByteArray sourceName = QFile::encodeName(QFileInfo(absoluteSource).fileName());
    const QString destination = QFileInfo(archivePath).absoluteFilePath();
    const QByteArray destinationPath = QFile::encodeName(destination);

    struct stat sourceStat;
    if (source.isEmpty() || stat(sourcePath.constData(), &sourceStat) != 0) {
        const int error = source.isEmpty() ? ENOENT : errno;
        if (error == ENOENT || error == ENOTDIR)
            return makeError(ZipSourceMissing, QStringLiteral("“%1” does not exist.").arg(source),
                             sourcePath);
        return unreadable(sourcePath, error);
    }
    if (!S_ISDIR(sourceStat.st_mode) && !S_ISREG(sourceStat.st_mode))
        return makeError(ZipSourceUnreadable,
                         QStringLiteral("“%1” is neither a file nor a folder.").arg(source), sourcePath);

    // Found before any work: libzip would only notice when it creates its temporary file at the very end.
    const QByteArray destinationFolder = QFile::encodeName(QFileInfo(destination).absolutePath());
    struct stat folderStat;
    if (stat(destinationFolder.constData(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
        access(destinationFolder.constData(), W_OK | X_OK) != 0)
        return makeError(
            ZipDestinationUnwritable,
            QStringLiteral("The archive cannot be created in “%1”.").arg(display(destinationFolder)),
            destinationFolder);
    struct stat existing;
    const bool replacing = stat(destinationPath.constData(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode))
        return makeError(ZipDestinationUnwritable,
                         QStringLiteral("The archive cannot replace the folder “%1”.").arg(destination),
                         destinationPath);
    if (replacing && existing.st_dev == sourceStat.st_dev && existing.st_ino == sourceStat.st_ino)
        return makeError(ZipDestinationUnwritable,
                         QStringLiteral("The archive cannot replace its own source “%1”.").arg(destination),
                         destinationPath);

    // libzip writes to a temporary file beside the archive and renames it into place in zip_close, or
    // removes it when closing fails; until then an archive already at the path stays untouched.
    int openError = 0;
    zip_t* zip = zip_open(destinationPath.constData(), ZIP_CREATE | ZIP_TRUNCATE, &openError);
    if (!zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, openError);
        const QString why = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        return makeError(ZipDestinationUnwritable,
                         QStringLiteral("The archive “%1” could not be created: %2").arg(destination, why),
                         destinationPath, why);
    }

    Failure failure;
    Writer writer(zip, &failure, replacing ? existing.st_dev : 0, replacing ? existing.st_ino : 0);
    Result<void> added;
    if (S_ISREG(sourceStat.st_mode)) {
        // Files are opened without following links, so a linked source is read at its target; the entry
        // keeps the name the user chose.
        char* resolved = realpath(sourcePath.constData(), nullptr);
        const QByteArray target = resolved ? QByteArray(resolved) : sourcePath;
        free(resolved);
        added = writer.addFile(target, sourceName, sourceStat);
    } else {
        if (options.keepParent && !sourceName.isEmpty()) {
            added = writer.addFolder(sourcePath, sourceName + '/', sourceStat);
            if (added)
                added = writer.addFolderContents(sourcePath, sourceName + '/');
        } else {
            added = writer.addFolderContents(sourcePath, {});
        }
    }
    if (!added) {
        zip_discard(zip);
        return added;
    }
    if (writer.entries() == 0) {
        zip_discard(zip);
        return writeEmptyArchive(destination);
    }

    if (zip_close(zip) == 0)
        return {};
    const zip_error_t* zipError = zip_get_error(zip);
    const int code = zip_error_code_zip(zipError);
    const QString why = QString::fromUtf8(zip_strerror(zip));
    zip_discard(zip);
    if (!failure.path.isEmpty()) {
        Error result = unreadable(failure.path, failure.error);
        result.userInfo.insert(QStringLiteral("libzipError"), why);
        return result;
    }
    const bool writing = code == ZIP_ER_TMPOPEN || code == ZIP_ER_WRITE || code == ZIP_ER_RENAME ||
                         code == ZIP_ER_CLOSE || code == ZIP_ER_SEEK || code == ZIP_ER_TELL;
    return makeError(writing ? ZipDestinationUnwritable : ZipArchiveFailed,
                     QStringLiteral("The archive “%1” could not be written: %2").arg(destination, why),
                     destinationPath, why);
}

} // namespace qm::platform
