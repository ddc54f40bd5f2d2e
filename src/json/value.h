#pragma once

#include "platform/error.h"

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QVariant>

// How JSON values travel as QVariant (read -> / <- written):
//   object      <-> qm::json::Object, which keeps member order; QVariantMap, QVariantHash and other
//                   string-keyed associative containers are written too
//   array       <-> QVariantList; QStringList and other sequential containers are written too
//   string      <-> QString
//   true/false  <-> bool
//   null        <-> QVariant::fromValue(nullptr) (std::nullptr_t); an invalid QVariant is written as null
//   number       -> qint64 (integer of at most 11 characters), double (fraction or exponent, at most 6
//                   characters), else qm::json::Decimal, kept exactly as its text
//               <-  any signed or unsigned integer kind, float, double, Decimal
namespace qm::json {

inline const QString kErrorDomain = QStringLiteral("org.quillmoor.json");

// A number kept exactly as written, for values a double would round.
struct Decimal {
    QString text;

    // True when the text is not a JSON number (the decimal not-a-number).
    bool isNaN() const;
    double toDouble() const { return text.toDouble(); }
    // Integer reads: exact for an integer that fits the type, a double's rounding for other numbers that
    // fit; *ok is false (and the result 0) otherwise.
    qint64 toLongLong(bool* ok) const;
    quint64 toULongLong(bool* ok) const;
    bool operator==(const Decimal&) const = default;
};

// A JSON object: members in the order they were read or inserted, each key at most once.
class Object {
public:
    using Member = QPair<QString, QVariant>;

    Object() = default;
    Object(std::initializer_list<Member> members);

    // Replaces the value of an existing key in place, keeping its position.
    void insert(const QString& key, const QVariant& value);
    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    QStringList keys() const;
    qsizetype size() const { return members_.size(); }
    bool isEmpty() const { return members_.isEmpty(); }
    QVariantMap toVariantMap() const;

    QList<Member>::const_iterator begin() const { return members_.begin(); }
    QList<Member>::const_iterator end() const { return members_.end(); }
    bool operator==(const Object&) const = default;

private:
    QList<Member> members_;
};

// Registers the conversions Decimal -> QString/double/qint64/quint64 and Object -> QVariantMap, so
// toString(), toDouble(), toLongLong(), toULongLong() and toMap() work on parsed values. Idempotent and
// thread-safe; the parser calls it.
void registerTypes();

platform::Error makeError(const QString& message);

} // namespace qm::json

Q_DECLARE_METATYPE(qm::json::Decimal)
Q_DECLARE_METATYPE(qm::json::Object)
