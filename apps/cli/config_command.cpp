#include "cli/config_command.h"

#include "cli/exit_status.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>

namespace qm::cli {

ConfigCommand::ConfigCommand(platform::SettingsStore& settings, QIODevice& out, QIODevice& err)
    : settings_(settings)
    , out_(out)
    , err_(err) {}

QVariant ConfigCommand::parseValue(const QString& text) {
    if (text == u"YES")
        return true;
    if (text == u"NO")
        return false;
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    static const QRegularExpression real(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    bool ok = false;
    if (integer.match(text).hasMatch()) {
        const qint64 value = text.toLongLong(&ok);
        if (ok)
            return value;
    }
    if (real.match(text).hasMatch()) {
        const double value = text.toDouble(&ok);
        if (ok)
            return value;
    }
    return text;
}

QString ConfigCommand::formatValue(const QVariant& value, bool singleLine) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("YES") : QStringLiteral("NO");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toString();
    case QMetaType::Double:
    case QMetaType::Float: {
        QString text = QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        if (!text.contains(u'.') && !text.contains(u'e') && !text.contains(u'n'))
            text += QStringLiteral(".0");
        return text;
    }
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    case QMetaType::QByteArray:
        return QStringLiteral("<data %1>").arg(QString::fromLatin1(value.toByteArray().toBase64()));
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
    default: {
        QString text = value.toString();
        if (singleLine)
            text.replace(u'\\', QStringLiteral("\\\\")).replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
        return text;
    }
    }
}

int ConfigCommand::list() {
    const QVariantMap all = settings_.dictionaryRepresentation();
    const QVariantMap user = settings_.userValues();
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        QString line = it.key() + QStringLiteral(" = ") + formatValue(it.value(), true);
        if (!user.contains(it.key()))
            line += QStringLiteral("  (default)");
        out_.write((line + u'\n').toUtf8());
    }
    return ExitSent;
}

int ConfigCommand::get(const QString& key) {
    const std::optional<QVariant> value = settings_.objectForKey(key);
    if (!value) {
        err_.write(QStringLiteral("quillmoor: %1 is not set\n").arg(key).toUtf8());
        return ExitNotSent;
    }
    out_.write((formatValue(*value) + u'\n').toUtf8());
    return ExitSent;
}

int ConfigCommand::set(const QString& key, const QString& value) {
    if (const auto error = settings_.setObject(parseValue(value), key)) {
        err_.write(QStringLiteral("quillmoor: %1 was not set: %2\n").arg(key, error->localizedDescription).toUtf8());
        return ExitNotSent;
    }
    return ExitSent;
}

int ConfigCommand::unset(const QString& key) {
    if (const auto error = settings_.removeObjectForKey(key)) {
        err_.write(QStringLiteral("quillmoor: %1 was not removed: %2\n").arg(key, error->localizedDescription).toUtf8());
        return ExitNotSent;
    }
    return ExitSent;
}

} // namespace qm::cli
