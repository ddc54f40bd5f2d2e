#include "json/json.h"

#include "platform/system_log.h"
#include "json/parser.h"
#include "json/writer.h"

namespace qm::json {

QVariant jsonValue(const QString& text) {
    Parser parser;
    QVariant value = parser.objectWithString(text);
    if (!value.isValid())
        platform::SystemLog::write(QStringLiteral("-JSONValue failed. Error is: %1").arg(parser.error()));
    return value;
}

QString jsonRepresentation(const QVariant& value) {
    Writer writer;
    QString text = writer.stringWithObject(value);
    if (text.isNull())
        platform::SystemLog::write(
            QStringLiteral("-JSONRepresentation failed. Error is: %1").arg(writer.error()));
    return text;
}

} // namespace qm::json
