#pragma once

#include <QStringList>
#include <QVariant>
#include <QVariantList>

namespace qm::yousendit {

// How every record reads a decoded answer: a member that is missing, JSON null or an empty string reads
// as the placeholder "N\A"; numbers and booleans in their text form.
QString valueForKey(const QString& key, const QVariantMap& dictionary);
// The integer value of a member's text; 0 for the placeholder or anything that is not a number.
qint64 integerForKey(const QString& key, const QVariantMap& dictionary);
bool boolForKey(const QString& key, const QVariantMap& dictionary);
double doubleForKey(const QString& key, const QVariantMap& dictionary);
// A member that may hold one element or a list of them (XML answers give a map for a lone element).
QVariantList listForKey(const QString& key, const QVariantMap& dictionary);
// The member's text split at ",".
QStringList splitForKey(const QString& key, const QVariantMap& dictionary);

// The text of a value, the way the records store it: strings as they are, numbers in decimal.
QString textOf(const QVariant& value);

// "\n<element>" for each element, or the placeholder for an empty list.
QString prettyPrint(const QStringList& list);

} // namespace qm::yousendit
