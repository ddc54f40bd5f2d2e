// Serves the fake Droplr API on its own, for the benchmark and for trying the client by hand:
//   fake_droplr [--key PUBLIC] [--secret PRIVATE] [--account EMAIL:PASSWORD]...
// prints its endpoint URL on one line and serves until it is terminated.
#include "servers/droplr/fake_droplr.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
volatile std::sig_atomic_t stopping = 0;
void stop(int) {
    stopping = 1;
}
} // namespace

int main(int argc, char** argv) {
    std::string key = qm::test::FakeDroplr::kPublicKey, secret = qm::test::FakeDroplr::kPrivateKey;
    std::vector<std::string> accounts;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--key") == 0)
            key = argv[i + 1];
        else if (std::strcmp(argv[i], "--secret") == 0)
            secret = argv[i + 1];
        else if (std::strcmp(argv[i], "--account") == 0)
            accounts.emplace_back(argv[i + 1]);
        else {
            std::fprintf(stderr,
                         "usage: %s [--key PUBLIC] [--secret PRIVATE] [--account EMAIL:PASSWORD]...\n",
                         argv[0]);
            return 2;
        }
    }
    std::signal(SIGTERM, stop);
    std::signal(SIGINT, stop);
    qm::test::FakeDroplr fake(key, secret);
    for (const std::string& account : accounts) {
        const size_t colon = account.find(':');
        fake.addAccount(account.substr(0, colon),
                        colon == std::string::npos ? "" : account.substr(colon + 1));
    }
    if (!fake.server().isValid())
        return 1;
    std::printf("%s\n", fake.url().toString().toUtf8().constData());
    std::fflush(stdout);
    while (!stopping)
        ::pause();
    return 0;
}
