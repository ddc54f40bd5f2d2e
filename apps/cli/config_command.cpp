#include "cli/config_command.h"

#include "accounts/settings_keys.h"
#include "cli/cli_settings.h"
#include "cli/exit_status.h"
#include "cli/next_transport.h"
#include "cli/smtp_submitter.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>
#include <cmath>

namespace qm::cli {

namespace {

namespace keys = accounts::keys;

enum class Kind { Boolean, Integer, Real, String, Url, Template, SmtpUrl, UnattendedAnswer, Program };

struct KnownKey {
    const char* key;
    Kind kind;
    qint64 low = 0, high = 0; // Integer
    const char* takes = nullptr;
};

constexpr char kBooleanText[] = "YES or NO";
constexpr char kUrlText[] = "an absolute URL such as https://host/path";

// Every key the program reads or writes. A mistyped key or value would otherwise act as absent or as 0:
// "QuillmoorMinFileSize abc" is a threshold of 0 MiB, and every attachment goes up.
const KnownKey kKnownKeys[] = {
    {keys::selectedService, Kind::Integer, 0, 10, "a service identifier from 0 to 10 (10: none)"},
    {keys::fileSizeMode, Kind::Integer, 0, 1,
     "0 or 1 (1: each attachment on its own, 0: all of them together)"},
    {keys::minFileSize, Kind::Real, 0, 0, "a number of MiB, 0 or more"},
    {keys::askBeforeUpload, Kind::Boolean},
    {keys::autoSendEmail, Kind::Boolean},
    {keys::compressFiles, Kind::Boolean},
    {keys::compressToSingleZip, Kind::Boolean},
    {keys::translateInfoBox, Kind::Boolean},
    {keys::infoBoxTemplate, Kind::Template, 0, 0, "an HTML template that contains BOX_LINKLIST"},
    {keys::version, Kind::String},
    {keys::downloadBetaUpdates, Kind::Boolean},
    {keys::suppressMissingManagerAlert, Kind::Boolean},
    {keys::dontAskForPlugins, Kind::Boolean},
    {keys::dropboxLinked, Kind::Boolean},
    {keys::youSendItEmail, Kind::String},
    {keys::cloudAppEmail, Kind::String},
    {keys::cloudAppLinked, Kind::Boolean},
    {keys::cloudAppBaseURL, Kind::Url},
    {keys::droplrEmail, Kind::String},
    {keys::droplrLinked, Kind::Boolean},
    {keys::dropmarkEmail, Kind::String},
    {keys::dropmarkLinked, Kind::Boolean},
    {keys::dropmarkUserID, Kind::String},
    {keys::dropmarkToken, Kind::String},
    {keys::dropmarkCollectionID, Kind::String},
    {keys::mediaFireEmail, Kind::String},
    {keys::mediaFireLinked, Kind::Boolean},
    {keys::mediaFireFolderKey, Kind::String},
    {keys::boxFolderId, Kind::String},
    {keys::googleDriveFolderId, Kind::String},
    {keys::ownCloudEmail, Kind::String},
    {keys::ownCloudLinked, Kind::Boolean},
    {keys::ownCloudURL, Kind::Url},
    {keys::ownCloudDirectoryName, Kind::String},
    {keys::genericLogin, Kind::String},
    {keys::genericLinked, Kind::Boolean},
    {keys::genericServer, Kind::Url},
    {keys::genericPrivateKey, Kind::String},
    {keys::genericPublicURL, Kind::Url},
    {settings::unattendedAnswer, Kind::UnattendedAnswer, 0, 0, "upload, send or cancel"},
    {settings::smtpURL, Kind::SmtpUrl, 0, 0, "an smtp:// or smtps:// URL such as smtps://user@host"},
    {settings::sendmailPath, Kind::Program, 0, 0,
     "the absolute path of a sendmail program that is not Quillmoor itself"},
};

const KnownKey* knownKey(const QString& key) {
    for (const KnownKey& known : kKnownKeys) {
        if (key == QLatin1String(known.key))
            return &known;
    }
    return nullptr;
}

std::optional<QVariant> valueOfKind(const KnownKey& known, const QString& text) {
    const QVariant typed = ConfigCommand::parseValue(text);
    switch (known.kind) {
    case Kind::Boolean: {
        const QString word = text.toLower();
        if (word == u"yes" || word == u"true" || word == u"1")
            return true;
        if (word == u"no" || word == u"false" || word == u"0")
            return false;
        return std::nullopt;
    }
    case Kind::Integer:
        if (typed.typeId() == QMetaType::LongLong && typed.toLongLong() >= known.low &&
            typed.toLongLong() <= known.high)
            return typed;
        return std::nullopt;
    case Kind::Real:
        if ((typed.typeId() == QMetaType::LongLong || typed.typeId() == QMetaType::Double) &&
            std::isfinite(typed.toDouble()) && typed.toDouble() >= 0.0)
            return typed.toDouble();
        return std::nullopt;
    case Kind::Url: {
        const QUrl url(text.trimmed(), QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && (!url.host().isEmpty() || url.isLocalFile()))
            return text;
        return std::nullopt;
    }
    case Kind::Template:
        return text.contains(QLatin1String("BOX_LINKLIST")) ? std::optional<QVariant>(text) : std::nullopt;
    case Kind::String:
        return text; // never by its form: a folder id "0123" stays as it is
    case Kind::SmtpUrl: {
        const QUrl url(text.trimmed(), QUrl::StrictMode);
        // The password belongs in the keyring, never in the settings file.
        if (SmtpSubmitter::isSupportedUrl(url) && url.password().isEmpty())
            return text.trimmed();
        return std::nullopt;
    }
    case Kind::UnattendedAnswer:
        return text == u"upload" || text == u"send" || text == u"cancel" ? std::optional<QVariant>(text)
                                                                         : std::nullopt;
    case Kind::Program:
        if (text.startsWith(u'/') && !NextTransport::isQuillmoorItself(text))
            return text;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::variant<QVariant, QString>> ConfigCommand::checkedValue(const QString& key,
                                                                           const QString& text) {
    const KnownKey* known = knownKey(key);
    if (known == nullptr)
        return std::nullopt;
    if (auto value = valueOfKind(*known, text))
        return *value;
    return QString::fromUtf8(known->takes                   ? known->takes
                             : known->kind == Kind::Boolean ? kBooleanText
                                                            : kUrlText);
}

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
    static const QRegularExpression real(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
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
            text.replace(u'\\', QStringLiteral("\\\\"))
                .replace(u'\n', QStringLiteral("\\n"))
                .replace(u'\r', QStringLiteral("\\r"));
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

int ConfigCommand::set(const QString& key, const QString& value, bool force) {
    QVariant stored;
    if (const auto checked = checkedValue(key, value)) {
        if (const auto* takes = std::get_if<QString>(&*checked)) {
            err_.write(QStringLiteral("quillmoor: %1 was not set: it takes %2, not \"%3\"\n")
                           .arg(key, *takes, value)
                           .toUtf8());
            return ExitNotSent;
        }
        stored = std::get<QVariant>(*checked);
    } else if (force) {
        stored = parseValue(value);
    } else {
        err_.write(QStringLiteral("quillmoor: %1 is an unknown setting and was not set (check its spelling; "
                                  "config set --force stores it anyway)\n")
                       .arg(key)
                       .toUtf8());
        return ExitNotSent;
    }
    if (const auto set = settings_.setObject(stored, key); !set) {
        err_.write(QStringLiteral("quillmoor: %1 was not set: %2\n")
                       .arg(key, set.error().localizedDescription)
                       .toUtf8());
        return ExitNotSent;
    }
    return ExitSent;
}

int ConfigCommand::unset(const QString& key) {
    if (const auto removed = settings_.removeObjectForKey(key); !removed) {
        err_.write(QStringLiteral("quillmoor: %1 was not removed: %2\n")
                       .arg(key, removed.error().localizedDescription)
                       .toUtf8());
        return ExitNotSent;
    }
    return ExitSent;
}

} // namespace qm::cli
