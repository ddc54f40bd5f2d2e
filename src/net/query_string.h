#pragma once

#include <QList>
#include <QString>
#include <QStringConverter>
#include <QVariant>
#include <QVariantList>

namespace qm::net {

// Flattened in place of its elements under the unchanged key; QVariantList stands for an array
// and gets "[]" appended, so a set needs a type of its own.
struct ValueSet {
    QVariantList elements;
};

// One name/value pair of a query or form body. An invalid or nullptr value is "no value".
class QueryStringPair {
public:
    QueryStringPair() = default;
    QueryStringPair(QVariant field, QVariant value);

    const QVariant& field() const { return field_; }
    const QVariant& value() const { return value_; }
    bool hasValue() const;
    QString fieldText() const;
    QString valueText() const; // empty when there is no value

    QString urlEncodedStringValue(QStringConverter::Encoding encoding = QStringConverter::Utf8) const;

private:
    QVariant field_;
    QVariant value_;
};

// The text a value stands for on the wire: numbers in decimal, booleans as 1/0.
QString textForm(const QVariant& value);

QList<QueryStringPair> queryStringPairsFromDictionary(const QVariant& dictionary);
// An invalid key means "no outer key".
QList<QueryStringPair> queryStringPairsFromKeyAndValue(const QVariant& key, const QVariant& value);
QString queryStringFromParameters(const QVariant& parameters,
                                  QStringConverter::Encoding encoding = QStringConverter::Utf8);
QString percentEscapedQueryStringKeyFromString(const QString& string,
                                               QStringConverter::Encoding encoding = QStringConverter::Utf8);
QString
percentEscapedQueryStringValueFromString(const QString& string,
                                         QStringConverter::Encoding encoding = QStringConverter::Utf8);

} // namespace qm::net

Q_DECLARE_METATYPE(qm::net::ValueSet)
