#include "json/json.h"

#include "platform/system_log.h"
#include "json/parser.h"
#include "json/writer.h"

namespace qm::json {

QVariant jsonValue(const QString& text) {
    Parser parser;
    const auto value = parser.objectWithString(text);
    if (!value)
        platform::SystemLog::write(QStringLiteral("-JSONValue failed. Error is: %1").arg(parser.error()));
    return value.valueOr(QVariant());
}

QString jsonRepresentation(const QVariant& value) {
    Writer writer;
    const auto text = writer.stringWithObject(value);
    if (!text)
        platform::SystemLog::write(
            QStringLiteral("-JSONRepresentation failed. Error is: %1").arg(writer.error()));
    return text.valueOr(QString());
}

} // namespace qm::json
