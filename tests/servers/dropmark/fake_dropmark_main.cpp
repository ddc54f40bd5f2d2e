// Serves the Dropmark fake on 127.0.0.1 until interrupted, for the benchmark and for trying things by hand.
// Usage: fake_dropmark [--collection NAME]...   Prints the URL, the API key, the e-mail, the
// password, the user id and the token, one a line.

#include "servers/dropmark/fake_dropmark.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // the server's threads inherit the mask

    qm::test::FakeDropmark fake;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--collection") == 0)
            fake.addCollection(argv[i + 1]);
    using qm::test::FakeDropmark;
    std::printf("%s\n%s\n%s\n%s\n%s\n%s\n", qPrintable(fake.url().toString()), FakeDropmark::kApiKey,
                FakeDropmark::kEmail, FakeDropmark::kPassword, FakeDropmark::kUserId, FakeDropmark::kToken);
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
