#include "services/droplr/json_parsers.h"

#include "platform/string_format.h"
#include "json/parser.h"
#include "json/value.h"

namespace qm::droplr {

namespace {

using platform::Error;
using platform::Result;

// The class names the 1002 message has always named, so the text reads the same on every platform.
QString className(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        return QStringLiteral("NSString");
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::Int:
        return QStringLiteral("NSNumber");
    case QMetaType::Nullptr:
        return QStringLiteral("NSNull");
    case QMetaType::QVariantList:
        return QStringLiteral("NSArray");
    case QMetaType::QVariantMap:
        return QStringLiteral("NSDictionary");
    default:
        break;
    }
    if (value.userType() == qMetaTypeId<json::Decimal>())
        return QStringLiteral("NSDecimalNumber");
    if (value.userType() == qMetaTypeId<json::Object>())
        return QStringLiteral("NSDictionary");
    return QStringLiteral("NSObject");
}

bool isNumber(const QVariant& value) {
    const int type = value.typeId();
    return type == QMetaType::LongLong || type == QMetaType::Double || type == QMetaType::Bool ||
           type == QMetaType::Int || value.userType() == qMetaTypeId<json::Decimal>();
}

bool isObject(const QVariant& value) {
    return value.userType() == qMetaTypeId<json::Object>() || value.typeId() == QMetaType::QVariantMap;
}

QVariant member(const QVariant& fields, const QString& key, bool* present) {
    if (fields.userType() == qMetaTypeId<json::Object>()) {
        const auto object = fields.value<json::Object>();
        *present = object.contains(key);
        return object.value(key);
    }
    const QVariantMap map = fields.toMap();
    *present = map.contains(key);
    return map.value(key);
}

Error missing(const QString& key) {
    return parserError(MissingField,
                       platform::formatString(QStringLiteral("Field '%@' is missing in response."), {key}));
}

Error wrongType(const QString& key, const QString& expected, const QVariant& received) {
    return parserError(
        WrongFieldType,
        platform::formatString(
            QStringLiteral("Expecting field '%@' to be same type or subtype of %@ but was %@."),
            {key, expected, className(received)}));
}

// The present value of `key` when it has the right kind; nothing when absent and optional.
Result<std::optional<QVariant>> ensure(const QString& key, const QVariant& fields, bool mandatory,
                                       bool wantsString) {
    bool present = false;
    const QVariant value = member(fields, key, &present);
    if (!present) {
        if (mandatory)
            return missing(key);
        return std::optional<QVariant>();
    }
    const bool fits = wantsString ? value.typeId() == QMetaType::QString : isNumber(value);
    if (!fits)
        return wrongType(key, wantsString ? QStringLiteral("NSString") : QStringLiteral("NSNumber"), value);
    return std::optional<QVariant>(value);
}

Result<qint64> exactLong(const QString& key, const QVariant& value) {
    if (value.userType() == qMetaTypeId<json::Decimal>()) {
        bool ok = false;
        const qint64 number = value.value<json::Decimal>().toLongLong(&ok);
        if (!ok)
            return wrongType(key, QStringLiteral("NSNumber"), value);
        return number;
    }
    if (value.typeId() == QMetaType::Double)
        return static_cast<qint64>(value.toDouble());
    return value.toLongLong();
}

// Reads one field into `target`, or returns its error; used as `if (auto e = read(...)) return *e;`.
template <typename T> std::optional<Error> into(T& target, Result<T> result) {
    if (!result)
        return result.error();
    target = std::move(*result);
    return std::nullopt;
}

#define QM_READ(target, expression)                                                                          \
    if (auto failed = into(target, expression))                                                              \
        return *failed;

// "code" to "shortlink", the part every drop record begins with.
std::optional<Error> readHead(DropStub& drop, const QVariant& fields) {
    QString type;
    std::optional<qint64> createdAt, size;
    QM_READ(drop.code, JsonParser::getString(QStringLiteral("code"), fields, true))
    QM_READ(createdAt, JsonParser::getLong(QStringLiteral("createdAt"), fields, true))
    drop.createdAt = *createdAt;
    QM_READ(drop.deleted, JsonParser::getBooleanOr(QStringLiteral("deleted"), fields, false))
    QM_READ(type, JsonParser::getString(QStringLiteral("type"), fields, true))
    drop.type = dropTypeFromString(type);
    if (drop.type == DropType::Unknown)
        return parserError(UnknownDropType, QStringLiteral("Unknown drop type"));
    QM_READ(drop.variant, JsonParser::getString(QStringLiteral("variant"), fields, false))
    QM_READ(drop.title, JsonParser::getString(QStringLiteral("title"), fields, true))
    // Read as 64 bits: a drop of 2 GiB or more has a size no 32-bit integer holds.
    QM_READ(size, JsonParser::getLong(QStringLiteral("size"), fields, true))
    drop.size = *size;
    QM_READ(drop.shortlink, JsonParser::getString(QStringLiteral("shortlink"), fields, true))
    return std::nullopt;
}

// "privacy" to "selfDestructValue", the part every drop record ends with.
std::optional<Error> readTail(DropStub& drop, const QVariant& fields) {
    QString privacy, selfDestruct;
    QM_READ(privacy, JsonParser::getString(QStringLiteral("privacy"), fields, true))
    drop.privacy = dropPrivacyFromString(privacy);
    QM_READ(drop.obscureCode, JsonParser::getString(QStringLiteral("obscureCode"), fields, true))
    QM_READ(drop.password,
            JsonParser::getString(QStringLiteral("password"), fields, drop.privacy == DropPrivacy::Private))
    QM_READ(selfDestruct, JsonParser::getString(QStringLiteral("selfDestructType"), fields, false))
    drop.selfDestructType = selfDestructTypeFromString(selfDestruct);
    if (drop.selfDestructType != SelfDestructType::None)
        QM_READ(drop.selfDestructValue,
                JsonParser::getLong(QStringLiteral("selfDestructValue"), fields, false))
    return std::nullopt;
}

Result<QVariant> topLevelObject(const QByteArray& body) {
    Result<QVariant> json = JsonParser::decode(body);
    if (json && !isObject(*json))
        return wrongType(QStringLiteral("(root)"), QStringLiteral("NSDictionary"), *json);
    return json;
}

} // namespace

Error parserError(ParserErrorCode code, const QString& message) {
    return Error(kErrorDomain, code, message);
}

Result<QVariant> ResponseParser::parse(const net::HeaderList&, const QByteArray& body) const {
    return JsonParser::decode(body);
}

std::shared_ptr<const ResponseParser> JsonParser::parser() {
    return std::make_shared<JsonParser>();
}

Result<QVariant> JsonParser::parse(const net::HeaderList&, const QByteArray& body) const {
    return decode(body);
}

Result<QVariant> JsonParser::decode(const QByteArray& body) {
    if (body.isEmpty())
        return parserError(EmptyData, QStringLiteral("Data is nil or empty, nothing to decode."));
    return json::Parser().objectWithData(body);
}

Result<QString> JsonParser::getString(const QString& key, const QVariant& fields, bool mandatory) {
    auto value = ensure(key, fields, mandatory, true);
    if (!value)
        return value.error();
    return *value ? (*value)->toString() : QString();
}

Result<std::optional<qint64>> JsonParser::getLong(const QString& key, const QVariant& fields,
                                                  bool mandatory) {
    auto value = ensure(key, fields, mandatory, false);
    if (!value)
        return value.error();
    if (!*value)
        return std::optional<qint64>();
    Result<qint64> number = exactLong(key, **value);
    if (!number)
        return number.error();
    return std::optional<qint64>(*number);
}

Result<std::optional<bool>> JsonParser::getBoolean(const QString& key, const QVariant& fields,
                                                   bool mandatory) {
    auto value = ensure(key, fields, mandatory, false);
    if (!value)
        return value.error();
    if (!*value)
        return std::optional<bool>();
    if ((*value)->typeId() == QMetaType::Bool)
        return std::optional<bool>((*value)->toBool());
    Result<qint64> number = exactLong(key, **value);
    if (!number)
        return number.error();
    return std::optional<bool>(*number != 0);
}

Result<QString> JsonParser::getStringOr(const QString& key, const QVariant& fields,
                                        const QString& defaultValue) {
    Result<QString> value = getString(key, fields, false);
    if (value && value->isNull())
        return defaultValue;
    return value;
}

Result<qint64> JsonParser::getLongOr(const QString& key, const QVariant& fields, qint64 defaultValue) {
    Result<std::optional<qint64>> value = getLong(key, fields, false);
    if (!value)
        return value.error();
    return value->value_or(defaultValue);
}

Result<bool> JsonParser::getBooleanOr(const QString& key, const QVariant& fields, bool defaultValue) {
    Result<std::optional<bool>> value = getBoolean(key, fields, false);
    if (!value)
        return value.error();
    return value->value_or(defaultValue);
}

std::shared_ptr<const ResponseParser> JsonAccountParser::parser() {
    return std::make_shared<JsonAccountParser>();
}

Result<QVariant> JsonAccountParser::parse(const net::HeaderList&, const QByteArray& body) const {
    Result<QVariant> json = topLevelObject(body);
    if (!json)
        return json.error();
    Result<Account> account = accountFromFields(*json);
    if (!account)
        return account.error();
    return QVariant::fromValue(*account);
}

Result<Account> JsonAccountParser::accountFromFields(const QVariant& fields) {
    Account account;
    QString type, privacy;
    std::optional<qint64> createdAt, subscriptionEnd;
    QM_READ(account.accountId, getString(QStringLiteral("id"), fields, true))
    QM_READ(createdAt, getLong(QStringLiteral("createdAt"), fields, true))
    account.createdAt = *createdAt;
    QM_READ(type, getString(QStringLiteral("type"), fields, true))
    account.type = accountTypeFromString(type);
    QM_READ(subscriptionEnd, getLong(QStringLiteral("subscriptionEnd"), fields, true))
    account.subscriptionEnd = *subscriptionEnd;
    QM_READ(account.subscriptionWillAutoRenew,
            getBooleanOr(QStringLiteral("subscriptionWillAutoRenew"), fields, false))
    QM_READ(account.trial, getBooleanOr(QStringLiteral("trial"), fields, false))
    QM_READ(account.email, getString(QStringLiteral("email"), fields, true))
    QM_READ(account.domain, getString(QStringLiteral("domain"), fields, false))
    QM_READ(account.firstName, getString(QStringLiteral("firstName"), fields, false))
    QM_READ(account.lastName, getString(QStringLiteral("lastName"), fields, false))
    QM_READ(privacy, getString(QStringLiteral("dropPrivacy"), fields, true))
    account.dropPrivacy = dropPrivacyFromString(privacy);
    QM_READ(account.activeDrops, getLongOr(QStringLiteral("activeDrops"), fields, 0))
    QM_READ(account.dropCount, getLongOr(QStringLiteral("dropCount"), fields, 0))
    return account;
}

std::shared_ptr<const ResponseParser> JsonDropParser::parser() {
    return std::make_shared<JsonDropParser>();
}

Result<QVariant> JsonDropParser::parse(const net::HeaderList&, const QByteArray& body) const {
    Result<QVariant> json = topLevelObject(body);
    if (!json)
        return json.error();
    Result<Drop> drop = dropFromFields(*json);
    if (!drop)
        return drop.error();
    return QVariant::fromValue(*drop);
}

Result<Drop> JsonDropParser::dropFromFields(const QVariant& fields) {
    Drop drop;
    if (auto failed = readHead(drop, fields))
        return *failed;
    if (drop.isFile())
        QM_READ(drop.fileCreatedAt, getLong(QStringLiteral("fileCreatedAt"), fields, true))
    QM_READ(drop.views, getLongOr(QStringLiteral("views"), fields, 0))
    QM_READ(drop.content, getString(QStringLiteral("content"), fields, false))
    if (drop.isFile()) {
        QM_READ(drop.width, getLong(QStringLiteral("width"), fields, false))
        QM_READ(drop.height, getLong(QStringLiteral("height"), fields, false))
        QM_READ(drop.length, getLong(QStringLiteral("length"), fields, false))
        QM_READ(drop.thumbPreview, getString(QStringLiteral("previewThumb"), fields, false))
        QM_READ(drop.smallPreview, getString(QStringLiteral("previewSmall"), fields, false))
        QM_READ(drop.mediumPreview, getString(QStringLiteral("previewMedium"), fields, false))
    }
    if (auto failed = readTail(drop, fields))
        return *failed;
    return drop;
}

std::shared_ptr<const ResponseParser> JsonDropCreationParser::parser() {
    return std::make_shared<JsonDropCreationParser>();
}

Result<QVariant> JsonDropCreationParser::parse(const net::HeaderList&, const QByteArray& body) const {
    Result<QVariant> json = topLevelObject(body);
    if (!json)
        return json.error();
    Result<DropCreation> drop = creationFromFields(*json);
    if (!drop)
        return drop.error();
    return QVariant::fromValue(*drop);
}

Result<DropCreation> JsonDropCreationParser::creationFromFields(const QVariant& fields) {
    DropCreation drop;
    if (auto failed = readHead(drop, fields))
        return *failed;
    if (drop.isFile())
        QM_READ(drop.fileCreatedAt, getLong(QStringLiteral("fileCreatedAt"), fields, false))
    if (auto failed = readTail(drop, fields))
        return *failed;
    return drop;
}

std::shared_ptr<const ResponseParser> JsonDropListParser::parser() {
    return std::make_shared<JsonDropListParser>();
}

Result<QVariant> JsonDropListParser::parse(const net::HeaderList&, const QByteArray& body) const {
    QList<Drop> drops;
    if (body.isEmpty())
        return QVariant::fromValue(drops);
    Result<QVariant> json = decode(body);
    if (!json)
        return json.error();
    if (json->typeId() != QMetaType::QVariantList)
        return wrongType(QStringLiteral("(root)"), QStringLiteral("NSArray"), *json);
    for (const QVariant& element : json->toList()) {
        Result<Drop> drop = JsonDropParser::dropFromFields(element);
        if (!drop)
            return drop.error();
        drops.append(*drop);
    }
    return QVariant::fromValue(drops);
}

std::shared_ptr<const ResponseParser> JsonAuthParser::parser() {
    return std::make_shared<JsonAuthParser>();
}

Result<QVariant> JsonAuthParser::parse(const net::HeaderList&, const QByteArray& body) const {
    Result<QVariant> json = topLevelObject(body);
    if (!json)
        return json.error();
    bool present = false;
    const QVariant droplr = member(*json, QStringLiteral("droplr"), &present);
    if (!present)
        return missing(QStringLiteral("droplr"));
    if (!isObject(droplr))
        return wrongType(QStringLiteral("droplr"), QStringLiteral("NSDictionary"), droplr);
    QString email, secret;
    QM_READ(email, getString(QStringLiteral("access_token_public"), droplr, true))
    QM_READ(secret, getString(QStringLiteral("access_token_secret"), droplr, true))
    // Kept as received: the secret is already what requests are signed with.
    return QVariant::fromValue(UserCredentials::withHashedPassword(email, secret));
}

} // namespace qm::droplr
