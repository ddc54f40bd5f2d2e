#include "json/writer.h"

#include "json/stream_writer.h"
#include "json/value.h"

#include <QAssociativeIterable>
#include <QSequentialIterable>

#include <algorithm>
#include <cmath>

namespace qm::json {
namespace {

bool isText(const QVariant& value) {
    const int id = value.metaType().id();
    return id == QMetaType::QString || id == QMetaType::QByteArray;
}

bool isObject(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<Object>() || value.canView<QAssociativeIterable>();
}

bool isArray(const QVariant& value) {
    return !isText(value) && value.canView<QSequentialIterable>();
}

bool convertsToObject(const QVariant& value) {
    return value.isValid() && QMetaType::canConvert(value.metaType(), QMetaType::fromType<Object>());
}

} // namespace

bool Writer::fail(const QString& message) {
    error_ = message;
    return false;
}

platform::Result<QByteArray> Writer::dataWithObject(const QVariant& value) {
    registerTypes();
    error_.clear();
    StreamWriter stream(maxDepth_, humanReadable_);
    bool written = false;
    if (!isObject(value) && !isArray(value) && !convertsToObject(value))
        fail(QStringLiteral("Not valid type for JSON"));
    else
        written = write(stream, value) && stream.error().isEmpty();
    if (written)
        return stream.data();
    if (error_.isEmpty())
        error_ = stream.error();
    return makeError(error_);
}

platform::Result<QString> Writer::stringWithObject(const QVariant& value) {
    const auto data = dataWithObject(value);
    if (!data)
        return data.error();
    return QString::fromUtf8(*data);
}

bool Writer::write(StreamWriter& stream, const QVariant& value) {
    const QMetaType type = value.metaType();
    if (!value.isValid() || type.id() == QMetaType::Nullptr)
        return stream.writeLiteral("null");
    if (type.id() == QMetaType::Bool)
        return stream.writeLiteral(value.toBool() ? "true" : "false");
    if (type.id() == QMetaType::QString)
        return stream.writeString(value.toString());
    if (type == QMetaType::fromType<Object>()) {
        QList<QPair<QVariant, QVariant>> members;
        for (const Object::Member& member : value.value<Object>())
            members.append({member.first, member.second});
        return writeObject(stream, std::move(members));
    }
    if (type.id() != QMetaType::QByteArray && value.canView<QAssociativeIterable>()) {
        QList<QPair<QVariant, QVariant>> members;
        const QAssociativeIterable iterable = value.value<QAssociativeIterable>();
        for (auto it = iterable.begin(); it != iterable.end(); ++it)
            members.append({it.key(), it.value()});
        return writeObject(stream, std::move(members));
    }
    if (isArray(value)) {
        if (!stream.writeArrayOpen())
            return false;
        for (const QVariant& element : value.value<QSequentialIterable>()) {
            if (!write(stream, element))
                return false;
        }
        return stream.writeArrayClose();
    }
    if (convertsToObject(value))
        return write(stream, QVariant::fromValue(value.value<Object>()));
    return writeNumber(stream, value);
}

bool Writer::writeObject(StreamWriter& stream, QList<QPair<QVariant, QVariant>> members) {
    for (const auto& member : members) {
        if (member.first.metaType().id() != QMetaType::QString)
            return fail(QStringLiteral("JSON object key must be string: %1").arg(member.first.toString()));
    }
    if (sortKeys_) {
        std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
            return a.first.toString() < b.first.toString();
        });
    }
    if (!stream.writeObjectOpen())
        return false;
    for (const auto& member : members) {
        if (!stream.writeKey(member.first.toString()) || !write(stream, member.second))
            return false;
    }
    return stream.writeObjectClose();
}

bool Writer::writeNumber(StreamWriter& stream, const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return stream.writeLiteral(QString::asprintf("%lld", value.toLongLong()).toLatin1());
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return stream.writeLiteral(QString::asprintf("%llu", value.toULongLong()).toLatin1());
    case QMetaType::Float:
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (std::isnan(number))
            return fail(QStringLiteral("NaN is not a valid number in JSON"));
        if (std::isinf(number)) {
            return fail(number > 0 ? QStringLiteral("+Infinity is not a valid number in JSON")
                                   : QStringLiteral("-Infinity is not a valid number in JSON"));
        }
        // QString::asprintf formats in the C locale whatever the process locale is.
        return stream.writeLiteral(QString::asprintf("%g", number).toLatin1());
    }
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<Decimal>()) {
        const Decimal decimal = value.value<Decimal>();
        if (decimal.isNaN())
            return fail(QStringLiteral("NaN is not a valid number in JSON"));
        return stream.writeLiteral(decimal.text.toLatin1());
    }
    return fail(
        QStringLiteral("JSON serialisation not supported for %1").arg(QString::fromLatin1(value.typeName())));
}

} // namespace qm::json
