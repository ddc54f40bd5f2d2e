#include "net/network_thread.h"

#include <pthread.h>

namespace qm::net {

NetworkThread& NetworkThread::instance() {
    // Never destroyed: transfers may still be running while static objects go away at exit.
    static NetworkThread* thread = new NetworkThread;
    return *thread;
}

NetworkThread::NetworkThread() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    share_ = curl_share_init();
    // Every handle lives on this one thread, so the share needs no lock callbacks.
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    thread_ = std::thread([this] { run(); });
    thread_.detach();
}

void NetworkThread::post(std::function<void()> task) {
    {
        std::lock_guard guard(mutex_);
        tasks_.push_back(std::move(task));
    }
    curl_multi_wakeup(multi_);
}

void NetworkThread::add(CURL* easy, std::function<void(CURLcode)> done) {
    transfers_.emplace(easy, std::move(done));
    curl_multi_add_handle(multi_, easy);
}

void NetworkThread::remove(CURL* easy) {
    if (transfers_.erase(easy))
        curl_multi_remove_handle(multi_, easy);
}

void NetworkThread::run() {
    pthread_setname_np(pthread_self(), "QMNet");
    while (true) {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard guard(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();

        int running = 0;
        curl_multi_perform(multi_, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            auto found = transfers_.find(easy);
            if (found == transfers_.end())
                continue;
            auto done = std::move(found->second);
            transfers_.erase(found);
            curl_multi_remove_handle(multi_, easy);
            done(result);
        }
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
}

} // namespace qm::net
