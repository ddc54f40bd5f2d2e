#include "platform/secret_store.h"

namespace qm::platform {

bool MemorySecretStore::contains(const QString& service, const QString& account) {
    QMutexLocker lock(&mutex_);
    return items_.contains({service, account});
}

std::optional<QByteArray> MemorySecretStore::find(const QString& service, const QString& account) {
    QMutexLocker lock(&mutex_);
    auto found = items_.constFind({service, account});
    if (found == items_.constEnd())
        return std::nullopt;
    return *found;
}

bool MemorySecretStore::add(const QString& service, const QString& account, const QByteArray& secret) {
    QMutexLocker lock(&mutex_);
    if (items_.contains({service, account}))
        return false;
    items_.insert({service, account}, secret);
    return true;
}

bool MemorySecretStore::replace(const QString& service, const QString& account, const QByteArray& secret) {
    QMutexLocker lock(&mutex_);
    auto found = items_.find({service, account});
    if (found == items_.end())
        return false;
    *found = secret;
    return true;
}

bool MemorySecretStore::remove(const QString& service, const QString& account) {
    QMutexLocker lock(&mutex_);
    return items_.remove({service, account}) > 0;
}

qsizetype MemorySecretStore::size() const {
    QMutexLocker lock(&mutex_);
    return items_.size();
}

} // namespace qm::platform
