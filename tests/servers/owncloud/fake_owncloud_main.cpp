// Serves the ownCloud fake on its own, for the benchmark and for trying things by hand.
// Usage: fake_owncloud [--port N] [--prefix PATH] [--user NAME] [--password PASSWORD] [--folder NAME]...
//                      [--store DIR]
// Listens on 127.0.0.1 at port N (default: a free port), prints the server's URL (with the prefix) on the
// first line of standard output, then serves until it is stopped (SIGTERM or SIGINT). --folder makes a folder
// below the WebDAV root beforehand; with --store, uploads are kept in DIR as file-1, file-2 ... instead of in
// memory.

#include "servers/owncloud/fake_owncloud.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>

int main(int argc, char** argv) {
    QString prefix, store;
    int port = 0;
    QByteArray user = "alice", password = "s3cret";
    QStringList folders;
    const auto usage = [&] {
        std::fprintf(stderr,
                     "usage: %s [--port N] [--prefix PATH] [--user NAME] [--password PASSWORD] "
                     "[--folder NAME]... [--store DIR]\n",
                     argv[0]);
        return 2;
    };
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc)
            return usage();
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (!std::strcmp(argv[i], "--port"))
            port = value.toInt();
        else if (!std::strcmp(argv[i], "--prefix"))
            prefix = value;
        else if (!std::strcmp(argv[i], "--user"))
            user = value.toUtf8();
        else if (!std::strcmp(argv[i], "--password"))
            password = value.toUtf8();
        else if (!std::strcmp(argv[i], "--folder"))
            folders.append(value);
        else if (!std::strcmp(argv[i], "--store"))
            store = value;
        else
            return usage();
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // the server's thread inherits the mask
    qm::test::FakeOwnCloud cloud(prefix, user, password, store, port);
    if (!cloud.server().isValid()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    for (const QString& folder : folders)
        cloud.addFolder(QLatin1Char('/') + folder);
    std::printf("%s\n", cloud.url(prefix).toUtf8().constData());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
