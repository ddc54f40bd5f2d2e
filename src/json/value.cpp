#include "json/value.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

#include <mutex>

namespace qm::json {

bool Decimal::isNaN() const {
    static const QRegularExpression number(
        QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][-+]?[0-9]+)?$"));
    return !number.match(text).hasMatch();
}

namespace {

bool isIntegerText(const QString& text) {
    return !text.contains(u'.') && !text.contains(u'e') && !text.contains(u'E');
}

// What an integer read of a double gives (rounded half away from zero), where the double fits.
template <typename Integer> Integer roundedInteger(double value, bool* ok) {
    const double rounded = std::round(value);
    constexpr bool isSigned = std::numeric_limits<Integer>::is_signed;
    *ok = rounded >= (isSigned ? -0x1p63 : 0.0) && rounded < (isSigned ? 0x1p63 : 0x1p64); // false for NaN
    return *ok ? Integer(rounded) : Integer(0);
}

} // namespace

qint64 Decimal::toLongLong(bool* ok) const {
    bool converted = false;
    qint64 value = 0;
    if (isIntegerText(text))
        value = text.toLongLong(&converted);
    else
        value = roundedInteger<qint64>(toDouble(), &converted);
    if (ok)
        *ok = converted;
    return converted ? value : 0;
}

quint64 Decimal::toULongLong(bool* ok) const {
    bool converted = false;
    quint64 value = 0;
    if (isIntegerText(text))
        value = text.toULongLong(&converted);
    else
        value = roundedInteger<quint64>(toDouble(), &converted);
    if (ok)
        *ok = converted;
    return converted ? value : 0;
}

Object::Object(std::initializer_list<Member> members) {
    for (const Member& member : members)
        insert(member.first, member.second);
}

void Object::insert(const QString& key, const QVariant& value) {
    for (Member& member : members_) {
        if (member.first == key) {
            member.second = value;
            return;
        }
    }
    members_.append({key, value});
}

QVariant Object::value(const QString& key) const {
    for (const Member& member : members_) {
        if (member.first == key)
            return member.second;
    }
    return {};
}

bool Object::contains(const QString& key) const {
    for (const Member& member : members_) {
        if (member.first == key)
            return true;
    }
    return false;
}

QStringList Object::keys() const {
    QStringList keys;
    keys.reserve(members_.size());
    for (const Member& member : members_)
        keys.append(member.first);
    return keys;
}

QVariantMap Object::toVariantMap() const {
    QVariantMap map;
    for (const Member& member : members_)
        map.insert(member.first, member.second);
    return map;
}

void registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        QMetaType::registerConverter<Decimal, QString>([](const Decimal& d) { return d.text; });
        QMetaType::registerConverter<Decimal, double>([](const Decimal& d) { return d.toDouble(); });
        QMetaType::registerConverter<Decimal, qlonglong>(&Decimal::toLongLong);
        QMetaType::registerConverter<Decimal, qulonglong>(&Decimal::toULongLong);
        QMetaType::registerConverter<Object, QVariantMap>([](const Object& o) { return o.toVariantMap(); });
    });
}

platform::Error makeError(const QString& message) {
    return platform::Error(kErrorDomain, 0, message);
}

} // namespace qm::json
