// Serves a fake CloudApp account on its own, for the benchmark and for trying things by hand.
// Usage: fake_cloudapp [--email ADDRESS] [--password PASSWORD]; prints the API's URL, then serves until
// it is stopped (SIGTERM or SIGINT). The port is a free one the system picks.

#include "fake_cloudapp.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    std::string email = "alice@example.org", password = "s3cret";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--email") == 0)
            email = argv[i + 1];
        else if (std::strcmp(argv[i], "--password") == 0)
            password = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: %s [--email ADDRESS] [--password PASSWORD]\n", argv[0]);
            return 2;
        }
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // the server's threads inherit the mask
    qm::test::FakeCloudApp cloud(email, password);
    std::printf("%s\n", cloud.apiURL().toString().toUtf8().constData());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
