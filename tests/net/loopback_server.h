#pragma once

#include <httplib.h>

#include <chrono>
#include <thread>

namespace qm::test {

// Serves `server`, its handlers already in place, on a free loopback port from a thread of its own until
// this goes away. One request per connection, so stopping never waits out an idle keep-alive connection.
// Returns only once the server runs: a stop() that comes earlier is lost, and the join would never end.
class LoopbackServer {
public:
    explicit LoopbackServer(httplib::Server& server) : server_(server) {
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 5000 && !server_.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }

private:
    httplib::Server& server_;
    int port_ = 0;
    std::thread thread_;
};

} // namespace qm::test
