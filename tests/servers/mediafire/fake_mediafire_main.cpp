// Serves the MediaFire fake on 127.0.0.1 until interrupted, for the benchmark and for trying things by hand.
// Usage: fake_mediafire [--folder NAME]...   Prints the URL, the application id, the API key, the e-mail and
// the password, one a line.

#include "servers/mediafire/fake_mediafire.h"

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // the server's threads inherit the mask

    using qm::test::FakeMediaFire;
    FakeMediaFire fake;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--folder") == 0)
            fake.addFolder(argv[i + 1]);
    std::printf("%s\n%s\n%s\n%s\n%s\n", qPrintable(fake.url().toString()), FakeMediaFire::kApplicationId,
                FakeMediaFire::kApiKey, FakeMediaFire::kEmail, FakeMediaFire::kPassword);
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
