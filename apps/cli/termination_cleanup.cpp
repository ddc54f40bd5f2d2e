#include "cli/termination_cleanup.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace qm::cli {

const int TerminationCleanup::endingSignals[signalCount] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

namespace {

// A signal handler may use only what is set up beforehand and async-signal-safe calls: the folder's path
// is copied into a fixed buffer, and the removal uses raw directory reads and unlinkat.
char folderPath[PATH_MAX] = {};
// A reader of standard output that went away ends the run as well.
constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr int handledCount = sizeof handledSignals / sizeof handledSignals[0];
struct sigaction previousActions[handledCount];

void removeContents(int directory, int depth) {
    // Entries removed while reading may make the reader skip some: read again until nothing is left.
    for (int pass = 0; pass < 4; ++pass) {
        bool removedAny = false;
        ::lseek(directory, 0, SEEK_SET);
        alignas(dirent64) char buffer[8192];
        for (;;) {
            const ssize_t n = ::getdents64(directory, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t offset = 0; offset < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                    continue;
                if (::unlinkat(directory, name, 0) == 0) {
                    removedAny = true;
                    continue;
                }
                if (errno != EISDIR || depth > 32)
                    continue;
                const int inner = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (inner < 0)
                    continue;
                removeContents(inner, depth + 1);
                ::close(inner);
                if (::unlinkat(directory, name, AT_REMOVEDIR) == 0)
                    removedAny = true;
            }
        }
        if (!removedAny)
            return;
    }
}

void onTerminatingSignal(int signal) {
    TerminationCleanup::endProcess(signal);
}

} // namespace

TerminationCleanup::TerminationCleanup(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof folderPath))
        return;
    std::memcpy(folderPath, path.constData(), static_cast<size_t>(path.size()) + 1);
    struct sigaction action = {};
    action.sa_handler = onTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : handledSignals)
        sigaddset(&action.sa_mask, signal);
    for (int i = 0; i < handledCount; ++i)
        ::sigaction(handledSignals[i], &action, &previousActions[i]);
}

TerminationCleanup::~TerminationCleanup() {
    if (!folderPath[0])
        return;
    for (int i = 0; i < handledCount; ++i)
        ::sigaction(handledSignals[i], &previousActions[i], nullptr);
    folderPath[0] = '\0';
}

void TerminationCleanup::endProcess(int signal) {
    if (folderPath[0]) {
        const int directory = ::open(folderPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (directory >= 0) {
            removeContents(directory, 0);
            ::close(directory);
        }
        ::rmdir(folderPath);
    }
    ::signal(signal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

} // namespace qm::cli
