#include "platform/settings_store.h"

#include "platform/property_list.h"
#include "platform/system_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace qm::platform {
namespace {

constexpr int kLockWaitMs = 5000;

// Coarser than the timestamp granularity of the file systems a config folder lives on (1 s at worst):
// a file changed within it may be rewritten without any stat(2) field changing.
constexpr qint64 kRacyWindowNs = 1'000'000'000;

qint64 nanoseconds(const timespec& t) {
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

bool isFloating(const QVariant& v) {
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

QStringView withoutLeadingSpace(QStringView s) {
    qsizetype i = 0;
    while (i < s.size() && s[i].isSpace())
        ++i;
    return s.mid(i);
}

qint64 clampToInteger(double d) {
    if (std::isnan(d))
        return 0;
    if (d >= 9.2233720368547758e18)
        return std::numeric_limits<qint64>::max();
    if (d <= -9.2233720368547758e18)
        return std::numeric_limits<qint64>::min();
    return qint64(d); // truncates toward zero
}

qint64 integerPrefix(QStringView s) {
    s = withoutLeadingSpace(s);
    bool negative = false;
    if (!s.isEmpty() && (s[0] == u'-' || s[0] == u'+')) {
        negative = s[0] == u'-';
        s = s.mid(1);
    }
    quint64 magnitude = 0;
    constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max()) + 1;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            break;
        magnitude = std::min(limit, magnitude * 10 + quint64(c.unicode() - u'0'));
    }
    if (negative)
        return magnitude >= limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
    return magnitude >= limit ? std::numeric_limits<qint64>::max() : qint64(magnitude);
}

double decimalPrefix(QStringView s) {
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?"));
    const auto match = number.match(withoutLeadingSpace(s).toString());
    return match.hasMatch() ? match.captured(0).toDouble() : 0.0;
}

} // namespace

bool SettingsStore::FileStamp::operator==(const FileStamp& o) const {
    if (!exists || !o.exists)
        return exists == o.exists;
    return device == o.device && inode == o.inode && size == o.size &&
           nanoseconds(modified) == nanoseconds(o.modified) && nanoseconds(changed) == nanoseconds(o.changed);
}

SettingsStore::FileStamp SettingsStore::stampOf(const struct stat& info) {
    return FileStamp{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

QString SettingsStore::errorDomain() {
    return QStringLiteral("qm.platform.SettingsStore");
}

SettingsStore::SettingsStore(QString filePath)
    : path_(std::move(filePath)) {}

SettingsStore& SettingsStore::standard() {
    static SettingsStore instance(defaultFilePath());
    return instance;
}

QString SettingsStore::defaultFilePath() {
    const QString configDir = qEnvironmentVariable("QUILLMOOR_CONFIG_DIR");
    if (!configDir.isEmpty())
        return QDir(configDir).filePath(QStringLiteral("settings.plist"));
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir(base).filePath(QStringLiteral("quillmoor/settings.plist"));
}

QString SettingsStore::filePath() const {
    return path_;
}

void SettingsStore::loadLocked() const {
    // Taken before reading, so that any later write to the file stamps it with a later ctime.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    loaded_ = true;
    state_ = FileState::Absent;
    problem_.clear();
    user_.clear();
    stamp_ = {};
    racy_ = false;

    const QByteArray nativePath = QFile::encodeName(path_);
    struct stat info {};
    if (::stat(nativePath.constData(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            state_ = FileState::Unreadable;
            problem_ = QString::fromLocal8Bit(strerror(errno));
        }
    } else {
        stamp_ = stampOf(info);
        QFile file(path_);
        if (file.open(QIODevice::ReadOnly)) {
            // The stamp of the file actually read, in case it was replaced after stat().
            if (::fstat(file.handle(), &info) == 0)
                stamp_ = stampOf(info);
            const auto parsed = plist::parse(file.readAll(), &problem_);
            if (file.error() != QFileDevice::NoError) {
                state_ = FileState::Unreadable;
                problem_ = file.errorString();
            } else if (parsed && parsed->typeId() == QMetaType::QVariantMap) {
                state_ = FileState::Valid;
                user_ = parsed->toMap();
            } else {
                state_ = FileState::Damaged;
                if (parsed)
                    problem_ = QStringLiteral("its root is not a dictionary");
            }
        } else {
            state_ = FileState::Unreadable;
            problem_ = file.errorString();
        }
        racy_ = nanoseconds(now) - nanoseconds(stamp_.changed) < kRacyWindowNs;
    }

    if (state_ != FileState::Damaged && state_ != FileState::Unreadable)
        return;
    if (reportedDamage_ != stamp_) {
        reportedDamage_ = stamp_;
        SystemLog::write(
            QStringLiteral("Settings file %1 is %2 and is read as empty: %3")
                .arg(path_,
                     state_ == FileState::Damaged ? QStringLiteral("damaged") : QStringLiteral("unreadable"),
                     problem_));
    }
}

QString SettingsStore::backupPath() const {
    QString candidate = path_ + QStringLiteral(".damaged");
    struct stat info {};
    for (int n = 2; ::lstat(QFile::encodeName(candidate).constData(), &info) == 0; ++n)
        candidate = path_ + QStringLiteral(".damaged.%1").arg(n);
    return candidate;
}

std::optional<Error> SettingsStore::fileProblem() const {
    QMutexLocker lock(&mutex_);
    userLayerLocked();
    if (state_ == FileState::Damaged)
        return Error(
            errorDomain(), Damaged,
            QStringLiteral("The settings file %1 is damaged (%2) and is read as empty; the next change "
                           "moves it aside to %3.")
                .arg(path_, problem_, QFileInfo(backupPath()).fileName()));
    if (state_ == FileState::Unreadable)
        return Error(
            errorDomain(), Unreadable,
            QStringLiteral("The settings file %1 cannot be read (%2); the settings are read as empty and "
                           "cannot be changed.")
                .arg(path_, problem_));
    return std::nullopt;
}

QVariantMap SettingsStore::userLayerLocked() const {
    if (loaded_ && !racy_) {
        struct stat info {};
        const FileStamp current =
            ::stat(QFile::encodeName(path_).constData(), &info) == 0 ? stampOf(info) : FileStamp{};
        if (current == stamp_)
            return user_;
    }
    loadLocked();
    return user_;
}

int SettingsStore::moveAside(QString* aside) const {
    const QByteArray from = QFile::encodeName(path_);
    // Bounded: a name is taken only by a file that exists, and each attempt starts from the first free one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        *aside = backupPath();
        const QByteArray to = QFile::encodeName(*aside);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno == EINVAL || errno == ENOSYS) { // a file system without it: a hard link is exclusive too
            if (::link(from.constData(), to.constData()) == 0)
                return ::unlink(from.constData()) == 0 ? 0 : errno;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

Result<void> SettingsStore::modify(const QString& key, const std::optional<QVariant>& value) {
    QMutexLocker threads(&writeMutex_);
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(dir)) {
        QDir().mkpath(QFileInfo(dir).absolutePath());
        QDir().mkdir(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        if (lock.error() == QLockFile::LockFailedError)
            return Error(
                errorDomain(), LockTimeout,
                QStringLiteral("The settings could not be saved because %1 is locked by another program.")
                    .arg(path_));
        return Error(errorDomain(), WriteFailed,
                     QStringLiteral("The settings could not be saved to %1: its lock file cannot be created.")
                         .arg(path_));
    }

    QMutexLocker cache(&mutex_);
    loadLocked(); // the current content: another process may have written since our last read
    // Replacing what could not be read would lose it.
    if (state_ == FileState::Unreadable)
        return Error(
            errorDomain(), Unreadable,
            QStringLiteral("The settings could not be saved: %1 cannot be read (%2).").arg(path_, problem_));
    if (!value && !user_.contains(key))
        return {};
    QVariantMap next = user_;
    if (value)
        next.insert(key, *value);
    else
        next.remove(key);

    const QByteArray xml = plist::toXml(next);
    if (xml.isEmpty())
        return Error(errorDomain(), NotAPropertyList,
                     QStringLiteral("The value for “%1” cannot be stored in the settings.").arg(key));

    auto writeFailed = [&](const QString& why) {
        return Error(errorDomain(), WriteFailed,
                     QStringLiteral("The settings could not be saved to %1: %2").arg(path_, why));
    };
    if (state_ == FileState::Damaged) {
        QString aside;
        if (const int error = moveAside(&aside))
            return writeFailed(QStringLiteral("the damaged file could not be moved aside (%1)")
                                   .arg(QString::fromLocal8Bit(strerror(error))));
        SystemLog::write(
            QStringLiteral("Moved the damaged settings file aside to %1 and started a new one at %2")
                .arg(aside, path_));
    }

    QSaveFile out(path_);
    // It may hold a service token: private to the user, also when an earlier version left it readable.
    if (!out.open(QIODevice::WriteOnly) ||
        !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        out.write(xml) != xml.size() || !out.commit())
        return writeFailed(out.errorString());
    loaded_ = false;
    return {};
}

std::optional<QVariant> SettingsStore::objectForKey(const QString& key) const {
    QMutexLocker lock(&mutex_);
    const QVariantMap user = userLayerLocked();
    if (auto it = user.constFind(key); it != user.cend())
        return *it;
    if (auto it = registered_.constFind(key); it != registered_.cend())
        return *it;
    return std::nullopt;
}

QString SettingsStore::stringForKey(const QString& key) const {
    const auto v = objectForKey(key);
    return v && v->typeId() == QMetaType::QString ? v->toString() : QString();
}

bool SettingsStore::boolForKey(const QString& key) const {
    const auto v = objectForKey(key);
    if (!v)
        return false;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool();
    if (isNumber(*v))
        return isFloating(*v) ? v->toDouble() != 0.0 : v->toLongLong() != 0;
    if (v->typeId() == QMetaType::QString) {
        const QStringView s = withoutLeadingSpace(v->toString());
        return !s.isEmpty() && (QStringView(u"YyTt").contains(s[0]) || (s[0] >= u'1' && s[0] <= u'9'));
    }
    return false;
}

qint64 SettingsStore::integerForKey(const QString& key) const {
    const auto v = objectForKey(key);
    if (!v)
        return 0;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool() ? 1 : 0;
    if (isNumber(*v))
        return isFloating(*v) ? clampToInteger(v->toDouble()) : v->toLongLong();
    if (v->typeId() == QMetaType::QString)
        return integerPrefix(v->toString());
    return 0;
}

double SettingsStore::floatForKey(const QString& key) const {
    const auto v = objectForKey(key);
    if (!v)
        return 0.0;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool() ? 1.0 : 0.0;
    if (isNumber(*v))
        return v->toDouble();
    if (v->typeId() == QMetaType::QString)
        return decimalPrefix(v->toString());
    return 0.0;
}

Result<void> SettingsStore::setBool(bool value, const QString& key) {
    return modify(key, QVariant(value));
}

Result<void> SettingsStore::setInteger(qint64 value, const QString& key) {
    return modify(key, QVariant(value));
}

Result<void> SettingsStore::setFloat(double value, const QString& key) {
    return modify(key, QVariant(value));
}

Result<void> SettingsStore::setObject(const QVariant& value, const QString& key) {
    return value.isValid() ? modify(key, value) : modify(key, std::nullopt);
}

Result<void> SettingsStore::removeObjectForKey(const QString& key) {
    return modify(key, std::nullopt);
}

void SettingsStore::registerDefaults(const QVariantMap& defaults) {
    QMutexLocker lock(&mutex_);
    registered_.insert(defaults);
}

QVariantMap SettingsStore::userValues() const {
    QMutexLocker lock(&mutex_);
    return userLayerLocked();
}

QVariantMap SettingsStore::dictionaryRepresentation() const {
    QMutexLocker lock(&mutex_);
    QVariantMap merged = registered_;
    merged.insert(userLayerLocked());
    return merged;
}

} // namespace qm::platform
