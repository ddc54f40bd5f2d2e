#include "platform/bundle.h"

#include "platform/property_list.h"
#include "platform/strings_table.h"
#include "platform/system_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>

namespace qm::platform {
namespace {

QString normalizedTag(const QString& tag) {
    return QString(tag).replace(u'_', u'-').toLower();
}

QString baseLanguage(const QString& normalized) {
    return normalized.section(u'-', 0, 0);
}

} // namespace

struct Bundle::Impl {
    QString path;
    QString resources;
    QVariantMap info;
    QStringList localizations;
    QStringList preferred;
    QMutex mutex;
    // Keyed by "<localization>/<table>"; null for a table that is missing or damaged, so it is not retried.
    QHash<QString, std::shared_ptr<const StringsTable>> tables;
};

Bundle::Bundle(QString bundlePath, QStringList preferredLanguages)
    : d(std::make_shared<Impl>()) {
    d->path = QDir::cleanPath(QFileInfo(bundlePath).absoluteFilePath());
    d->resources = d->path + QStringLiteral("/Contents/Resources");

    const QString infoPath = d->path + QStringLiteral("/Contents/Info.plist");
    if (QFileInfo::exists(infoPath)) {
        QString problem;
        const auto info = plist::readFile(infoPath, &problem);
        if (info && info->typeId() == QMetaType::QVariantMap)
            d->info = info->toMap();
        else
            SystemLog::write(
                QStringLiteral("Bundle information %1 is damaged: %2")
                    .arg(infoPath, info ? QStringLiteral("its root is not a dictionary") : problem));
    }

    for (const QString& entry : QDir(d->resources).entryList({QStringLiteral("*.lproj")}, QDir::Dirs))
        d->localizations.append(entry.chopped(int(qstrlen(".lproj"))));
    d->localizations.sort(); // by name without the suffix: "pt" before "pt-BR"

    auto add = [this](const QString& localization) {
        if (!d->preferred.contains(localization))
            d->preferred.append(localization);
    };
    for (const QString& language : preferredLanguages) {
        const QString wanted = normalizedTag(language);
        const QString base = baseLanguage(wanted);
        bool matched = false;
        // An exact language-region match, then the bare language ("pt-BR" takes pt-BR, then pt).
        for (const QString& target : {wanted, base})
            for (const QString& localization : std::as_const(d->localizations))
                if (normalizedTag(localization) == target) {
                    add(localization);
                    matched = true;
                }
        // Only another region of the language is left ("pt" with just pt-BR.lproj).
        if (!matched)
            for (const QString& localization : std::as_const(d->localizations))
                if (baseLanguage(normalizedTag(localization)) == base)
                    add(localization);
    }
    add(developmentLocalization());
}

std::optional<Bundle> Bundle::locate() {
    const QString forced = qEnvironmentVariable("QUILLMOOR_BUNDLE");
    if (!forced.isEmpty()) {
        // An explicit choice is not silently replaced by another bundle.
        if (QFileInfo(forced).isDir())
            return Bundle(forced);
        SystemLog::write(QStringLiteral("QUILLMOOR_BUNDLE names %1, which is not a folder").arg(forced));
        return std::nullopt;
    }
    const QString executableDir =
        QCoreApplication::instance()
            ? QCoreApplication::applicationDirPath()
            : QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    for (const QString& candidate : {executableDir + QStringLiteral("/Quillmoor.bundle"),
                                     executableDir + QStringLiteral("/../share/quillmoor/Quillmoor.bundle")})
        if (QFileInfo(candidate).isDir())
            return Bundle(candidate);
    return std::nullopt;
}

QStringList Bundle::systemPreferredLanguages() {
    QStringList languages;
    for (QString language : QLocale::system().uiLanguages()) {
        if (language == u"C" || language == u"POSIX")
            language = QStringLiteral("en");
        if (!languages.contains(language))
            languages.append(language);
    }
    if (languages.isEmpty())
        languages.append(QStringLiteral("en"));
    return languages;
}

QString Bundle::bundlePath() const {
    return d->path;
}

QString Bundle::resourcePath() const {
    return d->resources;
}

QVariantMap Bundle::infoDictionary() const {
    return d->info;
}

QVariant Bundle::objectForInfoDictionaryKey(const QString& key) const {
    return d->info.value(key);
}

QString Bundle::name() const {
    return d->info.value(QStringLiteral("CFBundleName")).toString();
}

QString Bundle::version() const {
    return d->info.value(QStringLiteral("CFBundleVersion")).toString();
}

QString Bundle::shortVersion() const {
    return d->info.value(QStringLiteral("CFBundleShortVersionString")).toString();
}

QString Bundle::identifier() const {
    return d->info.value(QStringLiteral("CFBundleIdentifier")).toString();
}

QStringList Bundle::localizations() const {
    return d->localizations;
}

QString Bundle::developmentLocalization() const {
    const QVariant region = d->info.value(QStringLiteral("CFBundleDevelopmentRegion"));
    return region.typeId() == QMetaType::QString && !region.toString().isEmpty() ? region.toString()
                                                                                 : QStringLiteral("en");
}

QStringList Bundle::preferredLocalizations() const {
    return d->preferred;
}

QString Bundle::pathForResource(const QString& name, const QString& type, const QString& localization) const {
    if (name.isEmpty())
        return {};
    const QString extension = type.startsWith(u'.') ? type.mid(1) : type;
    const QString fileName = extension.isEmpty() ? name : name + u'.' + extension;
    auto probe = [&](const QString& folder) {
        const QString path = folder + u'/' + fileName;
        return QFileInfo::exists(path) ? path : QString();
    };
    auto lproj = [this](const QString& l) { return d->resources + u'/' + l + QStringLiteral(".lproj"); };

    if (!localization.isEmpty())
        return probe(lproj(localization));
    if (QString path = probe(d->resources); !path.isNull())
        return path;
    for (const QString& l : std::as_const(d->preferred))
        if (QString path = probe(lproj(l)); !path.isNull())
            return path;
    return {};
}

QStringList Bundle::pathsForResourcesOfType(const QString& type) const {
    const QString extension = type.startsWith(u'.') ? type.mid(1) : type;
    const QStringList filter =
        extension.isEmpty() ? QStringList() : QStringList{QStringLiteral("*.") + extension};
    QStringList paths;
    for (const QString& entry :
         QDir(d->resources).entryList(filter, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        paths.append(d->resources + u'/' + entry);
    return paths;
}

std::optional<QString> Bundle::lookup(const QString& key, const QString& table,
                                      const QString& localization) const {
    const QString tableName = table.isEmpty() ? QStringLiteral("Localizable") : table;
    const QString cacheKey = localization + u'/' + tableName;
    std::shared_ptr<const StringsTable> strings;
    {
        QMutexLocker lock(&d->mutex);
        if (auto it = d->tables.constFind(cacheKey); it != d->tables.cend()) {
            strings = *it;
        } else {
            const QString path = d->resources + u'/' + localization + QStringLiteral(".lproj/") + tableName +
                                 QStringLiteral(".strings");
            if (QFileInfo::exists(path)) {
                QString problem;
                if (auto parsed = StringsTable::read(path, &problem))
                    strings = std::make_shared<const StringsTable>(std::move(*parsed));
                else
                    SystemLog::write(
                        QStringLiteral("Localization table is damaged and is ignored: %1").arg(problem));
            }
            d->tables.insert(cacheKey, strings);
        }
    }
    if (strings && strings->contains(key))
        return strings->value(key);
    return std::nullopt;
}

QString Bundle::localizedString(const QString& key, const QString& value, const QString& table) const {
    for (const QString& localization : std::as_const(d->preferred))
        if (auto text = lookup(key, table, localization))
            return *text;
    return value.isEmpty() ? key : value;
}

QString Bundle::localizedStringForLocalization(const QString& key, const QString& value, const QString& table,
                                               const QString& localization) const {
    if (auto text = lookup(key, table, localization))
        return *text;
    return value.isEmpty() ? key : value;
}

} // namespace qm::platform
