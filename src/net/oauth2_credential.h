#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace qm::platform {
class SecretStore;
}

namespace qm::net {

// A token set from an OAuth 2 token endpoint.
class OAuth2Credential {
public:
    OAuth2Credential(QString accessToken, QString tokenType)
        : accessToken_(std::move(accessToken))
        , tokenType_(std::move(tokenType)) {}

    const QString& accessToken() const { return accessToken_; }
    const QString& tokenType() const { return tokenType_; }
    const std::optional<QString>& refreshToken() const { return refreshToken_; }
    const std::optional<QDateTime>& expiration() const { return expiration_; }

    // Set together because an expiration only matters for a token that can be refreshed. An invalid
    // expiration throws platform::InvalidArgument.
    void setRefreshToken(const QString& refreshToken, const QDateTime& expiration);
    // Strictly before `now`; without an expiration, never.
    bool isExpired(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;
    QString description() const;

    // Stands for "never" when a token answer gives no lifetime.
    static QDateTime distantFuture();

    bool operator==(const OAuth2Credential&) const = default;

private:
    QString accessToken_;
    QString tokenType_;
    std::optional<QString> refreshToken_;
    std::optional<QDateTime> expiration_;
};

// Keeps credentials in a secret store under service "QNOAuthCredentialService" and the caller's identifier.
// Store failures never throw: they are logged and answered with false or nullopt. An empty identifier
// throws platform::InvalidArgument.
class OAuth2CredentialStore {
public:
    static constexpr auto kService = "QNOAuthCredentialService";

    explicit OAuth2CredentialStore(platform::SecretStore& secrets)
        : secrets_(secrets) {}

    // No credential deletes the item; otherwise adds it, or replaces the one already there.
    bool storeCredential(const std::optional<OAuth2Credential>& credential, const QString& identifier);
    std::optional<OAuth2Credential> retrieveCredential(const QString& identifier);
    bool deleteCredential(const QString& identifier);

    // The stored form; exposed so that tests and migrations can read it.
    static QByteArray serialise(const OAuth2Credential& credential);
    static std::optional<OAuth2Credential> deserialise(const QByteArray& data);

private:
    platform::SecretStore& secrets_;
};

} // namespace qm::net
