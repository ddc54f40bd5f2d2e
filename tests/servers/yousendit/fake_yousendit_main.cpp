// Serves the fake Hightail API on its own, for the benchmark and for trying things by hand:
//     fake_yousendit [--account EMAIL PASSWORD]
// prints its URL and runs until it is terminated.
#include "fake_yousendit.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    qm::test::FakeYouSendIt fake;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--account") == 0 && i + 2 < argc) {
            fake.addAccount(argv[i + 1], argv[i + 2]);
            i += 2;
        } else {
            std::cerr << "usage: fake_yousendit [--account EMAIL PASSWORD]...\n";
            return 2;
        }
    }
    std::cout << fake.url().toString().toStdString() << " key " << qm::test::FakeYouSendIt::kApiKey
              << std::endl;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
