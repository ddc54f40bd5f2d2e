#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <optional>
#include <utility>

namespace qm::platform {

// Secrets keyed by service and account: find, add, replace and delete. Every failure (no store reachable,
// locked, denied, missing) answers false or nullopt; nothing here asks the user.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual bool contains(const QString& service, const QString& account) = 0;
    virtual std::optional<QByteArray> find(const QString& service, const QString& account) = 0;
    virtual bool add(const QString& service, const QString& account, const QByteArray& secret) = 0;
    virtual bool replace(const QString& service, const QString& account, const QByteArray& secret) = 0;
    virtual bool remove(const QString& service, const QString& account) = 0;
};

// A store that lives as long as the process; for tests and for hosts that must not touch the user's keyring.
class MemorySecretStore final : public SecretStore {
public:
    bool contains(const QString& service, const QString& account) override;
    std::optional<QByteArray> find(const QString& service, const QString& account) override;
    bool add(const QString& service, const QString& account, const QByteArray& secret) override;
    bool replace(const QString& service, const QString& account, const QByteArray& secret) override;
    bool remove(const QString& service, const QString& account) override;
    qsizetype size() const;

private:
    using Key = std::pair<QString, QString>;
    mutable QMutex mutex_;
    QHash<Key, QByteArray> items_;
};

} // namespace qm::platform
