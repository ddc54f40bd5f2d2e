#include "services/box/box_token_keeper.h"

#include "platform/system_log.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qm::upload {

namespace {

constexpr int kLockRetryMilliseconds = 100;

platform::Error noCredential() {
    return platform::Error(QStringLiteral("world"), 200, QStringLiteral("Failed to get credentials"));
}

platform::Error refreshFailed(const std::optional<platform::Error>& error) {
    if (error)
        return *error;
    // The token endpoint answered an OAuth error with a success status: it says no more than that.
    return platform::Error(QStringLiteral("RVErrorDomain"), 41,
                           QStringLiteral("Box refused to renew the sign-in; link Box again."));
}

} // namespace

BoxTokenKeeper::BoxTokenKeeper(net::OAuth2CredentialStore store, QString identifier, QString lockPath,
                               BoxConfig config)
    : store_(store)
    , identifier_(std::move(identifier))
    , lockPath_(std::move(lockPath))
    , config_(std::move(config)) {
    lockRetry_.setSingleShot(true);
    lockRetry_.setInterval(kLockRetryMilliseconds);
    QObject::connect(&lockRetry_, &QTimer::timeout, [this] { tryLock(); });
}

BoxTokenKeeper::~BoxTokenKeeper() {
    unlock();
}

std::optional<net::OAuth2Credential> BoxTokenKeeper::stored() {
    return store_.retrieveCredential(identifier_);
}

bool BoxTokenKeeper::store(const net::OAuth2Credential& credential) {
    return store_.storeCredential(credential, identifier_);
}

bool BoxTokenKeeper::remove() {
    return store_.deleteCredential(identifier_);
}

void BoxTokenKeeper::fresh(Done done) {
    const auto answer = [done = std::move(done)](platform::Result<net::OAuth2Credential> outcome) {
        QTimer::singleShot(0, [done, outcome] { done(outcome); });
    };
    if (!waiting_.empty()) { // a refresh is under way: its outcome is this asker's too
        waiting_.push_back(answer);
        return;
    }
    const std::optional<net::OAuth2Credential> credential = stored();
    if (!credential) {
        answer(noCredential());
        return;
    }
    if (!credential->isExpired()) {
        answer(*credential);
        return;
    }
    waiting_.push_back(answer);
    lockAttempts_ = 0;
    tryLock();
}

void BoxTokenKeeper::tryLock() {
    if (lockFd_ < 0)
        lockFd_ = ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        finish(platform::Error(QStringLiteral("RVErrorDomain"), 41,
                               QStringLiteral("cannot open the lock file %1").arg(lockPath_)));
        return;
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (++lockAttempts_ * kLockRetryMilliseconds >= lockWaitMilliseconds) {
            finish(platform::Error(QStringLiteral("RVErrorDomain"), 41,
                                   QStringLiteral("another Quillmoor program renews the Box sign-in and does "
                                                  "not finish; try again later")));
            return;
        }
        lockRetry_.start();
        return;
    }
    // Another process may have refreshed while we waited: its credential is the one to use.
    const std::optional<net::OAuth2Credential> credential = stored();
    if (!credential)
        finish(noCredential());
    else if (!credential->isExpired())
        finish(*credential);
    else
        refresh(*credential);
}

void BoxTokenKeeper::refresh(const net::OAuth2Credential& expired) {
    if (config_.clientID.isEmpty() || !expired.refreshToken()) {
        finish(config_.clientID.isEmpty() ? platform::Error(QStringLiteral("RVErrorDomain"), 41,
                                                            QString::fromLatin1(box::noApplicationKey))
                                          : refreshFailed(std::nullopt));
        return;
    }
    tokenClient_ =
        net::OAuth2Client::clientWithBaseURL(config_.tokenURL, config_.clientID, config_.clientSecret);
    std::weak_ptr<BoxTokenKeeper> weak = weak_from_this();
    tokenClient_->authenticateWithRefreshToken(
        QString::fromLatin1(box::tokenPath), *expired.refreshToken(),
        [weak](const net::OAuth2Credential& renewed) {
            const auto self = weak.lock();
            if (!self)
                return;
            // Stored before anyone uses it: the refresh token just spent is gone for good.
            if (!self->store(renewed)) {
                self->finish(
                    platform::Error(QStringLiteral("RVErrorDomain"), 41,
                                    QStringLiteral("the renewed Box sign-in could not be stored (is the "
                                                   "Secret Service running and the keyring unlocked?)")));
                return;
            }
            self->finish(renewed);
        },
        [weak](const std::optional<platform::Error>& error) {
            if (const auto self = weak.lock())
                self->finish(refreshFailed(error));
        });
}

void BoxTokenKeeper::finish(const platform::Result<net::OAuth2Credential>& outcome) {
    unlock();
    // The client answered from inside its own operation: let it go once that has returned.
    if (tokenClient_)
        QTimer::singleShot(0, [client = std::move(tokenClient_)] {});
    std::vector<Done> waiting = std::move(waiting_);
    waiting_.clear();
    for (const Done& done : waiting)
        done(outcome);
}

void BoxTokenKeeper::unlock() {
    lockRetry_.stop();
    if (lockFd_ >= 0) {
        ::flock(lockFd_, LOCK_UN);
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

} // namespace qm::upload
