#pragma once

#include "platform/settings_store.h"

#include <QIODevice>
#include <optional>
#include <variant>

namespace qm::cli {

// `quillmoor config`: reads and writes the settings store. Values given on the command line are typed by
// their form: YES and NO are booleans, whole numbers integers, other numbers reals, anything else a string.
class ConfigCommand {
public:
    ConfigCommand(platform::SettingsStore& settings, QIODevice& out, QIODevice& err);

    int list();                  // every key, "(default)" after registered values
    int get(const QString& key); // 1 when the key has no value
    // A key the program reads takes only values of its type and range, stored with that type; any other
    // key is refused unless `force`, and then typed by its form.
    int set(const QString& key, const QString& value, bool force = false);
    int unset(const QString& key);

    static QVariant parseValue(const QString& text);
    // The value `text` gives the known `key`, or what the key takes instead; nullopt for unknown keys.
    static std::optional<std::variant<QVariant, QString>> checkedValue(const QString& key,
                                                                       const QString& text);
    // YES/NO, numbers (reals always with a fraction or exponent, so they read back as reals), strings as
    // they are; arrays and dictionaries as JSON. `singleLine` escapes line breaks for listings.
    static QString formatValue(const QVariant& value, bool singleLine = false);

private:
    platform::SettingsStore& settings_;
    QIODevice& out_;
    QIODevice& err_;
};

} // namespace qm::cli
