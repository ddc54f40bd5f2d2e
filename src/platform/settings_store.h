#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>
#include <sys/stat.h>

namespace qm::platform {

// The user's preferences: a map from key to property-list value in two layers, the user's own values
// (kept in an XML property-list file, shared with other processes) over defaults registered in memory.
// Thread-safe.
class SettingsStore {
public:
    enum ErrorCode { LockTimeout = 1, WriteFailed = 2, NotAPropertyList = 3, Unreadable = 4, Damaged = 5 };
    static QString errorDomain();

    explicit SettingsStore(QString filePath);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The process's shared instance at defaultFilePath().
    static SettingsStore& standard();
    // $QUILLMOOR_CONFIG_DIR/settings.plist, else $XDG_CONFIG_HOME/quillmoor/settings.plist (~/.config when
    // unset).
    static QString defaultFilePath();
    QString filePath() const;

    QString stringForKey(const QString& key) const; // null unless the value is a string
    bool boolForKey(const QString& key) const;      // false when absent
    qint64 integerForKey(const QString& key) const; // 0 when absent
    double floatForKey(const QString& key) const;   // 0.0 when absent
    std::optional<QVariant> objectForKey(const QString& key) const;

    // Each write reaches the file before it returns.
    Result<void> setBool(bool value, const QString& key);
    Result<void> setInteger(qint64 value, const QString& key);
    Result<void> setFloat(double value, const QString& key);
    Result<void> setObject(const QVariant& value, const QString& key); // invalid QVariant removes
    Result<void> removeObjectForKey(const QString& key);

    // Why the user layer is read as empty although the file is there: it is damaged (the next write moves it
    // aside under a name no earlier copy has) or cannot be read (writes fail and leave it alone). One line,
    // for the user.
    std::optional<Error> fileProblem() const;

    void registerDefaults(const QVariantMap& defaults);
    QVariantMap userValues() const;
    QVariantMap dictionaryRepresentation() const;

private:
    struct FileStamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const FileStamp& other) const;
    };

    static FileStamp stampOf(const struct stat& info);
    QVariantMap userLayerLocked() const;
    void loadLocked() const;
    Result<void> modify(const QString& key, const std::optional<QVariant>& value);

    const QString path_;
    mutable QMutex mutex_;
    QMutex writeMutex_; // QLockFile does not exclude threads of one process
    QVariantMap registered_;
    mutable bool loaded_ = false;
    mutable bool racy_ = false; // written too recently for the stamp to tell a later write apart
    mutable FileStamp stamp_;
    mutable QVariantMap user_;
    enum class FileState { Absent, Valid, Damaged, Unreadable };
    QString backupPath() const;          // the first free name for a damaged file
    int moveAside(QString* aside) const; // renames the damaged file to backupPath(); 0 or an errno
    mutable FileState state_ = FileState::Absent;
    mutable QString problem_;
    mutable std::optional<FileStamp> reportedDamage_;
};

} // namespace qm::platform
