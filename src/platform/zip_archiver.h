#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QString>

namespace qm::platform {

inline constexpr char kZipArchiverErrorDomain[] = "QMZipArchiverErrorDomain";
enum ZipArchiverErrorCode : int {
    ZipSourceMissing = 1,         // the source does not exist
    ZipSourceUnreadable = 2,      // a file or folder of the source could not be read
    ZipDestinationUnwritable = 3, // the archive could not be created or renamed into place
    ZipArchiveFailed = 4,         // any other failure inside the archiver
};

struct ZipOptions {
    bool keepParent = false;
};

// Packs a file or folder into a plain PKZip archive that every unarchiver opens.
//
// A file source is stored under its own name. A folder source contributes its contents at the top level,
// or, with keepParent, itself as the single top entry ("Folder/", "Folder/a.txt", ...). Folders get their
// own entry so empty ones survive. Names are UTF-8; modification times and Unix permission bits are kept.
// Extended attributes and resource forks are not kept: the recipients' systems could not use them.
//
// Symbolic links inside a folder are not followed but stored as links (like `zip -y`), so a link cannot
// pull files from outside the folder into the archive. A link given as the source itself is followed.
// Sockets, pipes and devices are skipped.
//
// Each file is stored or deflated depending on how well a sample of its data compresses, so photos,
// videos and archives are not run through the compressor for nothing.
class ZipArchiver {
public:
    // Packs `source` into a new archive at `archivePath` (replaced if present). Blocking: call it on a pool
    // thread. Success, or an Error in kZipArchiverErrorDomain otherwise, leaving no partial archive
    // behind (an archive that was already at `archivePath` then stays as it was). userInfo carries "path"
    // (the file at fault) and "libzipError" when known.
    static Result<void> archive(const QString& source, const QString& archivePath, ZipOptions options = {});
};

} // namespace qm::platform
