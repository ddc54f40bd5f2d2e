#include "net/network_thread.h"

#include <QByteArrayList>
#include <pthread.h>

namespace qm::net {

namespace {

// Whether a cookie line of curl's list (Netscape format: domain, subdomains, path, ...) goes to host/path.
bool cookieApplies(const QByteArray& line, const QByteArray& host, const QByteArray& path) {
    const QByteArrayList fields = line.split('\t');
    if (fields.size() < 7)
        return false;
    QByteArray domain = fields[0];
    if (domain.startsWith("#HttpOnly_"))
        domain = domain.mid(10);
    if (domain.startsWith('.'))
        domain = domain.mid(1);
    domain = domain.toLower();
    const bool subdomains = fields[1] == "TRUE";
    if (host != domain && !(subdomains && host.endsWith("." + domain)))
        return false;
    const QByteArray& cookiePath = fields[2];
    return path == cookiePath ||
           (path.startsWith(cookiePath) && (cookiePath.endsWith('/') || path.at(cookiePath.size()) == '/'));
}

} // namespace

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

void NetworkThread::clearCookies(const QUrl& url) {
    const QByteArray host = url.host().toLower().toUtf8();
    const QByteArray path =
        url.path(QUrl::FullyEncoded).isEmpty() ? QByteArray("/") : url.path(QUrl::FullyEncoded).toUtf8();
    // curl deletes only all cookies at once, so the others are put back.
    post([this, host, path] {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_SHARE, share_);
        curl_slist* cookies = nullptr;
        curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &cookies);
        QByteArrayList keep;
        for (curl_slist* c = cookies; c; c = c->next)
            if (!cookieApplies(c->data, host, path))
                keep.append(c->data);
        curl_slist_free_all(cookies);
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, "ALL");
        for (const QByteArray& line : keep)
            curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.constData());
        curl_easy_cleanup(easy);
    });
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
