#pragma once

#include <QString>
#include <QVariant>

namespace qm::json {

// The value of JSON text (an object or an array), or an invalid QVariant after logging the parser's error.
QVariant jsonValue(const QString& text);

// JSON text of an object or an array, or a null QString after logging the writer's error.
QString jsonRepresentation(const QVariant& value);

} // namespace qm::json
