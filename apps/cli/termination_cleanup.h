#pragma once

#include <QString>

namespace qm::cli {

// While it lives, a signal that ends the process (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE) first removes
// `folder` and everything in it, then ends the process as the signal would have: a run killed while
// it decodes or delivers leaves no copies of the user's files behind. One at a time. Inside it, an
// InterruptWatcher turns the same signals into a cancel instead.
class TerminationCleanup {
public:
    explicit TerminationCleanup(const QString& folder);
    ~TerminationCleanup();
    TerminationCleanup(const TerminationCleanup&) = delete;
    TerminationCleanup& operator=(const TerminationCleanup&) = delete;

    // The signals that end a run and that an InterruptWatcher turns into a cancel.
    static constexpr int signalCount = 4;
    static const int endingSignals[signalCount];

    // Removes the folder and ends the process with `signal`'s default action. Safe in a signal handler.
    [[noreturn]] static void endProcess(int signal);
};

} // namespace qm::cli
