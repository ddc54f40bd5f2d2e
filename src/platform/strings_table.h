#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

namespace qm::platform {

// A localization table of `"key" = "value";` pairs, as found in <lang>.lproj/<Table>.strings.
// UTF-8 or UTF-16 (either byte order), with or without a byte order mark.
class StringsTable {
public:
    // nullopt on a syntax error; *error then names the line.
    static std::optional<StringsTable> parse(const QByteArray& data, QString* error = nullptr);
    static std::optional<StringsTable> read(const QString& path, QString* error = nullptr);

    QString value(const QString& key) const; // null when absent
    bool contains(const QString& key) const;
    qsizetype size() const;
    const QHash<QString, QString>& entries() const;

private:
    QHash<QString, QString> entries_;
};

} // namespace qm::platform
