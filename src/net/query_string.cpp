#include "net/query_string.h"

#include "json/value.h"

#include <QStringEncoder>
#include <QStringList>
#include <algorithm>

namespace qm::net {

namespace {

bool isNullObject(const QVariant& value) {
    return !value.isValid() || value.typeId() == QMetaType::Nullptr;
}

// Parsed JSON objects count too, so an answer can be sent back as parameters.
bool isDictionary(const QVariant& value) {
    return value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantHash ||
           value.typeId() == qMetaTypeId<json::Object>();
}

QVariantMap dictionaryOf(const QVariant& value) {
    QVariantMap map;
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.typeId() == QMetaType::QVariantHash) {
        const QVariantHash hash = value.toHash();
        for (auto it = hash.begin(); it != hash.end(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    for (const auto& [key, member] : value.value<json::Object>())
        map.insert(key, member);
    return map;
}

bool isArray(const QVariant& value) {
    return value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList;
}

QString percentEscape(const QString& string, QStringConverter::Encoding encoding, const QByteArray& keep) {
    QStringEncoder encoder(encoding);
    const QByteArray bytes = encoder(string);
    // toPercentEncoding keeps exactly the RFC 3986 unreserved set and writes upper-case hex.
    return QString::fromLatin1(bytes.toPercentEncoding(keep));
}

void flatten(const QVariant& key, const QVariant& value, QList<QueryStringPair>& out) {
    const bool hasKey = key.isValid();
    if (isDictionary(value)) {
        const QVariantMap map = dictionaryOf(value);
        QStringList keys = map.keys();
        // Stable on the map's case-sensitive order so keys differing only in case stay deterministic.
        std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        });
        for (const QString& nestedKey : keys) {
            const QVariant nestedValue = map.value(nestedKey);
            if (!nestedValue.isValid())
                continue;
            const QString name = hasKey ? QStringLiteral("%1[%2]").arg(textForm(key), nestedKey) : nestedKey;
            flatten(name, nestedValue, out);
        }
    } else if (isArray(value)) {
        const QString name = textForm(key) + QStringLiteral("[]");
        for (const QVariant& element : value.toList())
            flatten(name, element, out);
    } else if (value.typeId() == qMetaTypeId<ValueSet>()) {
        for (const QVariant& element : value.value<ValueSet>().elements)
            flatten(key, element, out);
    } else {
        out.append(QueryStringPair(key, value));
    }
}

} // namespace

QString textForm(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    return value.toString();
}

QueryStringPair::QueryStringPair(QVariant field, QVariant value)
    : field_(std::move(field))
    , value_(std::move(value)) {}

bool QueryStringPair::hasValue() const {
    return !isNullObject(value_);
}

QString QueryStringPair::fieldText() const {
    return textForm(field_);
}

QString QueryStringPair::valueText() const {
    return hasValue() ? textForm(value_) : QString();
}

QString QueryStringPair::urlEncodedStringValue(QStringConverter::Encoding encoding) const {
    const QString name = percentEscapedQueryStringKeyFromString(fieldText(), encoding);
    if (!hasValue())
        return name;
    return name + u'=' + percentEscapedQueryStringValueFromString(valueText(), encoding);
}

QList<QueryStringPair> queryStringPairsFromDictionary(const QVariant& dictionary) {
    return queryStringPairsFromKeyAndValue(QVariant(), dictionary);
}

QList<QueryStringPair> queryStringPairsFromKeyAndValue(const QVariant& key, const QVariant& value) {
    QList<QueryStringPair> pairs;
    flatten(key, value, pairs);
    return pairs;
}

QString queryStringFromParameters(const QVariant& parameters, QStringConverter::Encoding encoding) {
    QStringList parts;
    for (const QueryStringPair& pair : queryStringPairsFromDictionary(parameters))
        parts.append(pair.urlEncodedStringValue(encoding));
    return parts.join(u'&');
}

QString percentEscapedQueryStringKeyFromString(const QString& string, QStringConverter::Encoding encoding) {
    // Brackets stay readable in names so nested keys like files[] reach the server as written.
    return percentEscape(string, encoding, QByteArrayLiteral("[]"));
}

QString percentEscapedQueryStringValueFromString(const QString& string, QStringConverter::Encoding encoding) {
    return percentEscape(string, encoding, QByteArray());
}

} // namespace qm::net
