#include "services/googledrive/drive_authorization.h"

#include "platform/data_additions.h"
#include "json/json.h"
#include "json/value.h"

#include <QCryptographicHash>
#include <QVariantMap>

namespace qm::upload::gdrive {

namespace {

// The account name of the one item: the e-mail may change while the link stays.
constexpr char kAccount[] = "OAuth 2 authorization";
// Renewed this long before the expiry, so a token never runs out in the middle of a request.
constexpr int kRefreshMarginSeconds = 60;

QString base64Url(const QByteArray& bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

std::optional<QVariantMap> jsonObject(const QVariant& value) {
    if (value.typeId() == qMetaTypeId<json::Object>())
        return value.value<json::Object>().toVariantMap();
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    return std::nullopt;
}

bool Authorization::needsRefresh(const QDateTime& now) const {
    if (accessToken.isEmpty())
        return true;
    return expiresAt.isValid() && now.addSecs(kRefreshMarginSeconds) >= expiresAt;
}

QByteArray Authorization::serialise() const {
    const QVariantMap fields{{QStringLiteral("access_token"), accessToken},
                             {QStringLiteral("refresh_token"), refreshToken},
                             {QStringLiteral("expires_at"),
                              expiresAt.isValid() ? expiresAt.toUTC().toString(Qt::ISODate) : QString()},
                             {QStringLiteral("email"), email}};
    return json::jsonRepresentation(fields).toUtf8();
}

std::optional<Authorization> Authorization::deserialise(const QByteArray& data) {
    const auto object = jsonObject(json::jsonValue(QString::fromUtf8(data)));
    if (!object)
        return std::nullopt;
    const QVariantMap& fields = *object;
    Authorization authorization;
    authorization.accessToken = fields.value(QStringLiteral("access_token")).toString();
    authorization.refreshToken = fields.value(QStringLiteral("refresh_token")).toString();
    authorization.expiresAt =
        QDateTime::fromString(fields.value(QStringLiteral("expires_at")).toString(), Qt::ISODate);
    authorization.email = fields.value(QStringLiteral("email")).toString();
    return authorization;
}

std::optional<Authorization> AuthorizationStore::load() const {
    const QString stored = credentials_.passwordFromKeychainItem(label_, QString::fromLatin1(kAccount));
    if (stored.isEmpty())
        return std::nullopt;
    return Authorization::deserialise(stored.toUtf8());
}

platform::Result<void> AuthorizationStore::save(const Authorization& authorization) {
    if (credentials_.setPassword(QString::fromUtf8(authorization.serialise()), label_,
                                 QString::fromLatin1(kAccount)))
        return {};
    return platform::Error(QStringLiteral("RVErrorDomain"), 1,
                           QStringLiteral("The Google Drive sign-in could not be kept: the keyring (Secret "
                                          "Service) is missing, locked or refused to store it."));
}

void AuthorizationStore::remove() {
    credentials_.removeKeychainItem(label_, QString::fromLatin1(kAccount));
}

ProofKey ProofKey::generate() {
    ProofKey key;
    // 32 random bytes give the 43 characters of the verifier (RFC 7636 asks for 43 to 128).
    key.verifier = base64Url(platform::randomDataWithBytes(32));
    key.challenge = base64Url(QCryptographicHash::hash(key.verifier.toLatin1(), QCryptographicHash::Sha256));
    key.state = base64Url(platform::randomDataWithBytes(16));
    return key;
}

} // namespace qm::upload::gdrive
