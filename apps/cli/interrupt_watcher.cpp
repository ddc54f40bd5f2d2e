#include "cli/interrupt_watcher.h"

#include "cli/termination_cleanup.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qm::cli {

namespace {

// A signal handler reaches only globals; the self-pipe hands the signal to the event loop.
int wakeFds[2] = {-1, -1};
std::atomic<bool> wasInterrupted{false};
struct sigaction previousActions[TerminationCleanup::signalCount];

void onSignal(int signal) {
    if (wasInterrupted.exchange(true))
        TerminationCleanup::endProcess(signal);
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFds[1], &byte, 1);
}

} // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    wasInterrupted = false;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(wakeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(wakeFds[0], buffer, sizeof buffer) > 0) {
        }
        if (onInterrupt_)
            onInterrupt_();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a prompt waiting for a line gives up
    for (int i = 0; i < TerminationCleanup::signalCount; ++i)
        ::sigaction(TerminationCleanup::endingSignals[i], &action, &previousActions[i]);
}

InterruptWatcher::~InterruptWatcher() {
    if (!notifier_)
        return;
    for (int i = 0; i < TerminationCleanup::signalCount; ++i)
        ::sigaction(TerminationCleanup::endingSignals[i], &previousActions[i], nullptr);
    notifier_.reset();
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

bool InterruptWatcher::interrupted() {
    return wasInterrupted.load();
}

} // namespace qm::cli
