// Serves the Google Drive fake on its own, for the benchmark and for trying things by hand.
// Usage: fake_googledrive [--client-id ID] [--client-secret SECRET] [--store DIR]
//                         [--token ACCESS REFRESH] [--folder NAME]
// Listens on 127.0.0.1 at a free port and prints its URL on the first line of standard output (and, with
// --folder, the id of a folder of that name at the top, as if the application had made it, on the second),
// then serves until it is ended.

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
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (!std::strcmp(argv[i], "--client-id"))
            options.clientId = value();
        else if (!std::strcmp(argv[i], "--client-secret"))
            options.clientSecret = value();
        else if (!std::strcmp(argv[i], "--folder"))
            folder = value();
        else if (!std::strcmp(argv[i], "--store"))
            options.storeDir = value();
        else if (!std::strcmp(argv[i], "--token") && i + 2 < argc) {
            const std::string access = value();
            tokens.push_back({access, value()});
        } else {
            std::fprintf(stderr,
                         "usage: %s [--client-id ID] [--client-secret SECRET] [--store DIR] "
                         "[--token ACCESS REFRESH] [--folder NAME]\n",
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
    if (!folder.empty())
        std::printf("%s\n", drive.addFolder(folder, drive.rootId()).c_str());
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
