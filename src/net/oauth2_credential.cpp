#include "net/oauth2_credential.h"

#include "platform/error.h"
#include "platform/secret_store.h"
#include "platform/system_log.h"
#include "json/parser.h"
#include "json/writer.h"

namespace qm::net {

namespace {

[[noreturn]] void refuse(const char* condition) {
    throw platform::InvalidArgument(
        QStringLiteral("Invalid parameter not satisfying: %1").arg(QLatin1String(condition)));
}

// The secret store answers only yes or no, so every failure is logged with this one status.
constexpr int kStoreFailureStatus = -1;

const QString kService = QString::fromLatin1(OAuth2CredentialStore::kService);

bool isNullValue(const QVariant& v) {
    return !v.isValid() || v.typeId() == QMetaType::Nullptr;
}

} // namespace

void OAuth2Credential::setRefreshToken(const QString& refreshToken, const QDateTime& expiration) {
    if (!expiration.isValid())
        refuse("expiration");
    refreshToken_ = refreshToken;
    expiration_ = expiration;
}

bool OAuth2Credential::isExpired(const QDateTime& now) const {
    return expiration_ && *expiration_ < now;
}

QDateTime OAuth2Credential::distantFuture() {
    return QDateTime(QDate(4001, 1, 1), QTime(0, 0), Qt::UTC);
}

QString OAuth2Credential::description() const {
    return QStringLiteral("<%1 accessToken:\"%2\" tokenType:\"%3\" refreshToken:\"%4\" expiration:\"%5\">")
        .arg(QStringLiteral("QNOAuthCredential"), accessToken_, tokenType_,
             refreshToken_.value_or(QStringLiteral("(null)")),
             expiration_ ? expiration_->toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("(null)"));
}

// Stored as a JSON object with the keys "accessToken", "tokenType", "refreshToken" and "expiration"; the
// last two are null when absent, and the expiration is UTC ISO 8601 text with milliseconds so that it
// survives the round trip exactly.
QByteArray OAuth2CredentialStore::serialise(const OAuth2Credential& credential) {
    QVariantMap object{{QStringLiteral("accessToken"), credential.accessToken()},
                       {QStringLiteral("tokenType"), credential.tokenType()},
                       {QStringLiteral("refreshToken"), QVariant::fromValue(nullptr)},
                       {QStringLiteral("expiration"), QVariant::fromValue(nullptr)}};
    if (credential.refreshToken())
        object[QStringLiteral("refreshToken")] = *credential.refreshToken();
    if (credential.expiration())
        object[QStringLiteral("expiration")] = credential.expiration()->toUTC().toString(Qt::ISODateWithMs);
    json::Writer writer;
    writer.setSortKeys(true);
    return writer.dataWithObject(object).valueOr(QByteArray());
}

std::optional<OAuth2Credential> OAuth2CredentialStore::deserialise(const QByteArray& data) {
    const QVariant parsed = json::Parser().objectWithData(data).valueOr(QVariant());
    if (!parsed.canConvert<QVariantMap>())
        return std::nullopt;
    const QVariantMap object = parsed.toMap();
    const QVariant access = object.value(QStringLiteral("accessToken"));
    const QVariant type = object.value(QStringLiteral("tokenType"));
    if (access.typeId() != QMetaType::QString || type.typeId() != QMetaType::QString)
        return std::nullopt;
    OAuth2Credential credential(access.toString(), type.toString());
    const QVariant refresh = object.value(QStringLiteral("refreshToken"));
    const QVariant expiration = object.value(QStringLiteral("expiration"));
    if (!isNullValue(refresh)) {
        const QDateTime when = QDateTime::fromString(expiration.toString(), Qt::ISODateWithMs);
        if (!when.isValid())
            return std::nullopt;
        credential.setRefreshToken(refresh.toString(), when);
    }
    return credential;
}

bool OAuth2CredentialStore::storeCredential(const std::optional<OAuth2Credential>& credential,
                                            const QString& identifier) {
    if (identifier.isEmpty())
        refuse("identifier");
    if (!credential)
        return deleteCredential(identifier);
    const QByteArray data = serialise(*credential);
    const bool exists = retrieveCredential(identifier).has_value();
    const bool ok =
        exists ? secrets_.replace(kService, identifier, data) : secrets_.add(kService, identifier, data);
    if (!ok)
        platform::SystemLog::write(
            QStringLiteral("Unable to %1 credential with identifier \"%2\" (Error %3)")
                .arg(exists ? QStringLiteral("update") : QStringLiteral("add"), identifier)
                .arg(kStoreFailureStatus));
    return ok;
}

std::optional<OAuth2Credential> OAuth2CredentialStore::retrieveCredential(const QString& identifier) {
    if (identifier.isEmpty())
        refuse("identifier");
    std::optional<OAuth2Credential> credential;
    if (const auto data = secrets_.find(kService, identifier))
        credential = deserialise(*data);
    if (!credential)
        platform::SystemLog::write(
            QStringLiteral("Unable to fetch credential with identifier \"%1\" (Error %2)")
                .arg(identifier)
                .arg(kStoreFailureStatus));
    return credential;
}

bool OAuth2CredentialStore::deleteCredential(const QString& identifier) {
    if (identifier.isEmpty())
        refuse("identifier");
    const bool ok = secrets_.remove(kService, identifier);
    if (!ok)
        platform::SystemLog::write(
            QStringLiteral("Unable to delete credential with identifier \"%1\" (Error %2)")
                .arg(identifier)
                .arg(kStoreFailureStatus));
    return ok;
}

} // namespace qm::net
