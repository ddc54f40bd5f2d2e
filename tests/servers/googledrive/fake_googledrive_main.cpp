// Serves the Google Drive fake on its own, for the benchmark and for trying things by hand.
// Usage: fake_googledrive [--client-id ID] [--client-secret SECRET] [--store DIR]
//                         [--token ACCESS REFRESH]
// Listens on 127.0.0.1 at a free port and prints its URL on the first line of standard output, then serves
// until it is ended.

#include "servers/googledrive/fake_googledrive.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    qm::test::FakeGoogleDrive::Options options;
    std::vector<std::pair<std::string, std::string>> tokens;
    for (int i = 1; i < argc; ++i) {
        const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (!std::strcmp(argv[i], "--client-id"))
            options.clientId = value();
        else if (!std::strcmp(argv[i], "--client-secret"))
            options.clientSecret = value();
        else if (!std::strcmp(argv[i], "--store"))
            options.storeDir = value();
        else if (!std::strcmp(argv[i], "--token") && i + 2 < argc) {
            const std::string access = value();
            tokens.push_back({access, value()});
        } else {
            std::fprintf(stderr,
                         "usage: %s [--client-id ID] [--client-secret SECRET] [--store DIR] "
                         "[--token ACCESS REFRESH]\n",
                         argv[0]);
            return 2;
        }
    }
    qm::test::FakeGoogleDrive drive(options);
    if (!drive.server().isValid()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    for (const auto& [access, refresh] : tokens)
        drive.grantTokens(access, refresh);
    std::printf("%s\n", drive.url().toString().toUtf8().constData());
    std::fflush(stdout);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
