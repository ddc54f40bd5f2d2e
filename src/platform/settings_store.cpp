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
#include <limits>

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
    return qint64(d);  // truncates toward zero
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
    static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?"));
    const auto match = number.match(withoutLeadingSpace(s).toString());
    return match.hasMatch() ? match.captured(0).toDouble() : 0.0;
}

} // namespace

bool SettingsStore::FileStamp::operator==(const FileStamp& o) const {
    if (!exists || !o.exists)
        return exists == o.exists;
    return device == o.device && inode == o.inode && size == o.size
           && nanoseconds(modified) == nanoseconds(o.modified) && nanoseconds(changed) == nanoseconds(o.changed);
}

SettingsStore::FileStamp SettingsStore::stampOf(const struct stat& info) {
    return FileStamp{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

QString SettingsStore::errorDomain() {
    return QStringLiteral("qm.platform.SettingsStore");
}

SettingsStore::SettingsStore(QString filePath) : path_(std::move(filePath)) {}

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
    damaged_ = false;
    user_.clear();
    stamp_ = {};
    racy_ = false;

    const QByteArray nativePath = QFile::encodeName(path_);
    struct stat info {};
    if (::stat(nativePath.constData(), &info) != 0)
        return;
    stamp_ = stampOf(info);

    QString problem;
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly)) {
        // The stamp of the file actually read, in case it was replaced after stat().
        if (::fstat(file.handle(), &info) == 0)
            stamp_ = stampOf(info);
        const auto parsed = plist::parse(file.readAll(), &problem);
        if (parsed && parsed->typeId() == QMetaType::QVariantMap)
            user_ = parsed->toMap();
        else if (parsed)
            problem = QStringLiteral("its root is not a dictionary");
    } else {
        problem = file.errorString();
    }
    racy_ = nanoseconds(now) - nanoseconds(stamp_.changed) < kRacyWindowNs;

    if (problem.isEmpty())
        return;
    damaged_ = true;
    if (reportedDamage_ != stamp_) {
        reportedDamage_ = stamp_;
        SystemLog::write(QStringLiteral("Settings file %1 is damaged and is read as empty: %2").arg(path_, problem));
    }
}

QVariantMap SettingsStore::userLayerLocked() const {
    if (loaded_ && !racy_) {
        struct stat info {};
        const FileStamp current = ::stat(QFile::encodeName(path_).constData(), &info) == 0 ? stampOf(info) : FileStamp{};
        if (current == stamp_)
            return user_;
    }
    loadLocked();
    return user_;
}

std::optional<Error> SettingsStore::modify(const QString& key, const std::optional<QVariant>& value) {
    QMutexLocker threads(&writeMutex_);
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(dir)) {
        QDir().mkpath(QFileInfo(dir).absolutePath());
        QDir().mkdir(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        if (lock.error() == QLockFile::LockFailedError)
            return Error(errorDomain(), LockTimeout,
                         QStringLiteral("The settings could not be saved because %1 is locked by another program.")
                             .arg(path_));
        return Error(errorDomain(), WriteFailed,
                     QStringLiteral("The settings could not be saved to %1: its lock file cannot be created.")
                         .arg(path_));
    }

    QMutexLocker cache(&mutex_);
    loadLocked();  // the current content: another process may have written since our last read
    if (!value && !user_.contains(key))
        return std::nullopt;
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
    if (damaged_ && stamp_.exists) {
        const QString aside = path_ + QStringLiteral(".damaged");
        if (std::rename(QFile::encodeName(path_).constData(), QFile::encodeName(aside).constData()) != 0)
            return writeFailed(QStringLiteral("the damaged file could not be moved aside (%1)")
                                   .arg(QString::fromLocal8Bit(strerror(errno))));
        SystemLog::write(QStringLiteral("Moved the damaged settings file aside to %1 and started a new one at %2")
                             .arg(aside, path_));
    }

    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly) || out.write(xml) != xml.size() || !out.commit())
        return writeFailed(out.errorString());
    loaded_ = false;
    return std::nullopt;
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

std::optional<Error> SettingsStore::setBool(bool value, const QString& key) {
    return modify(key, QVariant(value));
}

std::optional<Error> SettingsStore::setInteger(qint64 value, const QString& key) {
    return modify(key, QVariant(value));
}

std::optional<Error> SettingsStore::setFloat(double value, const QString& key) {
    return modify(key, QVariant(value));
}

std::optional<Error> SettingsStore::setObject(const QVariant& value, const QString& key) {
    return value.isValid() ? modify(key, value) : modify(key, std::nullopt);
}

std::optional<Error> SettingsStore::removeObjectForKey(const QString& key) {
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
