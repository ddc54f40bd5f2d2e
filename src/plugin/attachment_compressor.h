#pragma once

#include "platform/error.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace qm::plugin {

// Packs the copies of a run into ZIP archives as the settings ask. Touches only the file system: it runs
// as one task on the global pool.
class AttachmentCompressor {
public:
    struct Settings {
        bool compressToSingleZip = false; // two or more files go into one archive named after the subject
        bool compressFiles = false;       // each file into its own archive (folders always are)
    };

    struct Result {
        enum class Failure { None, SingleArchive, FileArchive };
        QStringList paths; // what to upload, archives in place of what they hold
        Failure failure = Failure::None;
        QString failedName;                   // the path list's description or the file name that failed
        std::optional<platform::Error> error; // why it failed
        // Whether the failure lies in the file (the archiver could not take it) rather than in the working
        // directory (full disk, no permission), where the file type is beside the point.
        bool failedOnTheFile() const;
    };

    // On failure every copy and archive of the run is removed again: a full disk gets its space back.
    static Result compress(const QStringList& paths, const QString& subject, const QString& workingDirectory,
                           Settings settings);
};

} // namespace qm::plugin
