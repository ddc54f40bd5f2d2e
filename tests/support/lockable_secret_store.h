#pragma once

#include "platform/secret_store.h"

namespace qm::test {

// An in-memory secret store that can be locked: while locked, every call fails as a locked keyring or a
// missing Secret Service does.
class LockableSecretStore final : public platform::SecretStore {
public:
    bool locked = false;

    bool contains(const QString& service, const QString& account) override {
        return !locked && items_.contains(service, account);
    }
    std::optional<QByteArray> find(const QString& service, const QString& account) override {
        return locked ? std::nullopt : items_.find(service, account);
    }
    bool add(const QString& service, const QString& account, const QByteArray& secret) override {
        return !locked && items_.add(service, account, secret);
    }
    bool replace(const QString& service, const QString& account, const QByteArray& secret) override {
        return !locked && items_.replace(service, account, secret);
    }
    bool remove(const QString& service, const QString& account) override {
        return !locked && items_.remove(service, account);
    }
    qsizetype size() const { return items_.size(); }

private:
    platform::MemorySecretStore items_;
};

} // namespace qm::test
