#pragma once

#include <QString>
#include <QStringList>

namespace qm::plugin {

// Packs the copies of a run into ZIP archives as the settings ask. Touches only the file system: it runs
// as one task on the global pool.
class AttachmentCompressor {
public:
    struct Settings {
        bool compressToSingleZip = false;   // two or more files go into one archive named after the subject
        bool compressFiles = false;         // each file into its own archive (folders always are)
    };

    struct Result {
        enum class Failure { None, SingleArchive, FileArchive };
        QStringList paths;            // what to upload, archives in place of what they hold
        Failure failure = Failure::None;
        QString failedName;           // the path list's description or the file name that failed
    };

    static Result compress(const QStringList& paths, const QString& subject, const QString& workingDirectory,
                           Settings settings);
};

} // namespace qm::plugin
