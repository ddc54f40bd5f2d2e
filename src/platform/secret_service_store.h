#pragma once

#include "platform/secret_store.h"

#include <chrono>
#include <memory>

namespace qm::platform {

namespace detail {
struct SecretServiceWorker;
}

// The user's keyring through the Secret Service (libsecret): one item per service and account, found by the
// attributes "service" and "account" whatever schema wrote it, so items of other Secret Service clients
// count.
//
// Callers may sit on the main thread, so every call runs on a worker thread of this store and is abandoned
// (answering false or nullopt) once `timeout` passes. The bus is the one DBUS_SESSION_BUS_ADDRESS names at
// the time of each call; without one, calls answer at once. No call ever prompts: an item that would need an
// unlock or a confirmation is treated as unreachable. Safe to use from several threads.
class SecretServiceStore final : public SecretStore {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    explicit SecretServiceStore(std::chrono::milliseconds timeout = defaultTimeout);
    ~SecretServiceStore() override;
    SecretServiceStore(const SecretServiceStore&) = delete;
    SecretServiceStore& operator=(const SecretServiceStore&) = delete;

    // True for a locked item too: it exists, though reading or changing it answers no.
    bool contains(const QString& service, const QString& account) override;
    std::optional<QByteArray> find(const QString& service, const QString& account) override;
    // Stores only when no item with these attributes exists yet.
    bool add(const QString& service, const QString& account, const QByteArray& secret) override;
    // Replaces the data of the existing items; their attributes and labels stay as they are.
    bool replace(const QString& service, const QString& account, const QByteArray& secret) override;
    bool remove(const QString& service, const QString& account) override;

    // The label that items created here carry in keyring managers.
    static QString itemLabel(const QString& service, const QString& account);

private:
    std::shared_ptr<detail::SecretServiceWorker> worker_;
    std::chrono::milliseconds timeout_;
};

} // namespace qm::platform
