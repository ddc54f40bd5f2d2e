#pragma once

#include <QUrl>
#include <curl/curl.h>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qm::net {

// The one process-wide thread "QMNet" that drives every HTTP transfer through a single libcurl multi
// handle. Created on first use and kept for the life of the process; all curl calls on its handles
// happen on it, so transfers need no locks of their own.
class NetworkThread {
public:
    static NetworkThread& instance();

    // Runs `task` on the network thread, in posting order; safe from any thread.
    void post(std::function<void()> task);
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Network thread only. `done` runs there once when the transfer ends, unless it is removed first.
    void add(CURL* easy, std::function<void(CURLcode)> done);
    void remove(CURL* easy);
    // A handle shared by all transfers, so cookies set by one response go with later requests.
    CURLSH* share() const { return share_; }
    // Deletes every stored cookie that a request to `url` would carry (domain and path match); safe from
    // any thread. Transfers started after this call no longer send them.
    void clearCookies(const QUrl& url);

    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;

private:
    NetworkThread();
    void run();

    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    std::mutex mutex_;
    std::vector<std::function<void()>> tasks_;
    std::unordered_map<CURL*, std::function<void(CURLcode)>> transfers_;
    std::thread thread_;
};

} // namespace qm::net
