#pragma once

#include "net/oauth2_client.h"
#include "net/oauth2_credential.h"
#include "platform/result.h"
#include "services/box/box_config.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace qm::upload {

// Keeps the Box credential in the secret store and fresh. Box's refresh tokens are single-use: a refresh
// answers a new refresh token and the old one stops working at once. So the new credential is stored
// before anything uses it, and only one refresh ever runs: in this process later askers wait for the one
// under way, and across processes a lock file beside the settings is held (taken by polling, so the main
// thread never blocks) while refreshing; whoever gets the lock second re-reads the credential and finds it
// fresh.
//
//   idle --fresh() while expired--> locking --lock taken--> (re-read) --still expired--> refreshing
//   refreshing --new credential stored | failure--> idle, every waiting asker answered once
class BoxTokenKeeper : public std::enable_shared_from_this<BoxTokenKeeper> {
public:
    using Done = std::function<void(const platform::Result<net::OAuth2Credential>&)>;
    static constexpr int lockWaitMilliseconds = 60000;

    BoxTokenKeeper(net::OAuth2CredentialStore store, QString identifier, QString lockPath, BoxConfig config);
    ~BoxTokenKeeper();

    // The stored credential, refreshed first when it has expired. Without one: "world" 200 "Failed to get
    // credentials". `done` runs once, on the main thread, after this call has returned.
    void fresh(Done done);

    std::optional<net::OAuth2Credential> stored();
    bool store(const net::OAuth2Credential& credential);
    bool remove();
    const BoxConfig& config() const { return config_; }

private:
    void tryLock();
    void refresh(const net::OAuth2Credential& expired);
    void finish(const platform::Result<net::OAuth2Credential>& outcome);
    void unlock();

    net::OAuth2CredentialStore store_;
    QString identifier_;
    QString lockPath_;
    BoxConfig config_;
    std::vector<Done> waiting_;
    int lockFd_ = -1;
    QTimer lockRetry_;
    int lockAttempts_ = 0;
    std::shared_ptr<net::OAuth2Client> tokenClient_;
};

} // namespace qm::upload
