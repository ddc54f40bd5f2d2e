#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

// Property lists (XML or binary) as QVariant trees:
// string->QString, true/false->bool, integer->qint64, real->double, date->QDateTime (UTC),
// data->QByteArray, array->QVariantList, dict->QVariantMap.
namespace qm::platform::plist {

// Returns nullopt and sets *error when the data is not a complete, well-formed property list.
std::optional<QVariant> parse(const QByteArray& data, QString* error = nullptr);
std::optional<QVariant> readFile(const QString& path, QString* error = nullptr);

// An XML property list. QStringList, QVariantHash and every integer type map to their plist kinds;
// dates keep whole seconds. Empty when `value` (or anything inside it) has no property-list form.
QByteArray toXml(const QVariant& value);

} // namespace qm::platform::plist
