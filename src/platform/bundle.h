#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace qm::platform {

// A resource folder laid out like a macOS bundle: <bundle>/Contents/Info.plist and
// <bundle>/Contents/Resources/ with plain resources and <lang>.lproj/ folders of localized ones.
// Info.plist and the folder list are read once, at construction; copies share one table cache.
class Bundle {
public:
    explicit Bundle(QString bundlePath, QStringList preferredLanguages = systemPreferredLanguages());

    // $QUILLMOOR_BUNDLE when set; else Quillmoor.bundle beside the executable, else in ../share/quillmoor/.
    static std::optional<Bundle> locate();
    // The user's languages, most wanted first, e.g. {"de-DE", "de", "en"}.
    static QStringList systemPreferredLanguages();

    QString bundlePath() const;
    QString resourcePath() const;
    QVariantMap infoDictionary() const; // empty when Info.plist is missing or damaged
    QVariant objectForInfoDictionaryKey(const QString& key) const;
    QString name() const;
    QString version() const;
    QString shortVersion() const;
    QString identifier() const;

    QStringList localizations() const; // sorted
    QString developmentLocalization() const;
    QStringList preferredLocalizations() const;

    // Resources/name.type, then the same in each preferred localization's folder; with `localization`
    // only in that one. An empty type means `name` is the whole file name. Null when missing.
    QString pathForResource(const QString& name, const QString& type, const QString& localization = {}) const;
    QStringList pathsForResourcesOfType(const QString& type) const;

    // The translation of `key` in `table` (default "Localizable") of the first preferred localization
    // that has it; else `value` when non-empty, else `key`.
    QString localizedString(const QString& key, const QString& value = {}, const QString& table = {}) const;
    QString localizedStringForLocalization(const QString& key, const QString& value, const QString& table,
                                           const QString& localization) const;
    // User-visible texts use their English wording as key.
    QString localized(const QString& englishText) const { return localizedString(englishText, englishText); }

private:
    struct Impl;
    std::optional<QString> lookup(const QString& key, const QString& table,
                                  const QString& localization) const;
    std::shared_ptr<Impl> d;
};

} // namespace qm::platform
