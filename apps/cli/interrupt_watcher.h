#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace qm::cli {

// While it lives, Ctrl-C (SIGINT) and the other signals that end a run (SIGTERM, SIGHUP, SIGQUIT) do not
// end the process: `onInterrupt` runs from the event loop instead, so a run can cancel its upload and
// remove its temporary files. A second signal ends the process after the TerminationCleanup's removal.
// System calls blocked at the moment (a prompt's read) return with EINTR. One at a time.
class InterruptWatcher : public QObject {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher() override;

    // Whether an ending signal came since the watcher was made.
    static bool interrupted();

private:
    std::function<void()> onInterrupt_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace qm::cli
