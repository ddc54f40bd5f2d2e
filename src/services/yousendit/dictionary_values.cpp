#include "services/yousendit/dictionary_values.h"

#include "services/yousendit/ys_error.h"

namespace qm::yousendit {

QString textOf(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::QVariantMap: {
        // An XML element with text only reads as that text.
        const QVariantMap map = value.toMap();
        return map.value(QStringLiteral("text")).toString().trimmed();
    }
    default:
        return value.canConvert<QString>() ? value.toString() : QString();
    }
}

QString valueForKey(const QString& key, const QVariantMap& dictionary) {
    const auto found = dictionary.constFind(key);
    if (found == dictionary.constEnd() || found->typeId() == QMetaType::Nullptr || !found->isValid())
        return QString::fromLatin1(kNotAvailable);
    const QString text = textOf(*found);
    return text.isEmpty() ? QString::fromLatin1(kNotAvailable) : text;
}

qint64 integerForKey(const QString& key, const QVariantMap& dictionary) {
    const QString text = valueForKey(key, dictionary);
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (ok)
        return value;
    const double number = text.toDouble(&ok);
    return ok ? qint64(number) : 0;
}

bool boolForKey(const QString& key, const QVariantMap& dictionary) {
    const QString text = valueForKey(key, dictionary).trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes"))
        return true;
    return integerForKey(key, dictionary) != 0;
}

double doubleForKey(const QString& key, const QVariantMap& dictionary) {
    return valueForKey(key, dictionary).toDouble();
}

QVariantList listForKey(const QString& key, const QVariantMap& dictionary) {
    const QVariant value = dictionary.value(key);
    if (value.typeId() == QMetaType::QVariantList)
        return value.toList();
    if (value.typeId() == QMetaType::QVariantMap)
        return {value};
    return {};
}

QStringList splitForKey(const QString& key, const QVariantMap& dictionary) {
    return valueForKey(key, dictionary).split(u',');
}

QString prettyPrint(const QStringList& list) {
    if (list.isEmpty())
        return QString::fromLatin1(kNotAvailable);
    QString text;
    for (const QString& element : list)
        text += u'\n' + element;
    return text;
}

} // namespace qm::yousendit
