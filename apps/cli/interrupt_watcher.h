#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace qm::cli {

// While it lives, Ctrl-C (SIGINT) does not end the process: `onInterrupt` runs from the event loop
// instead, so a run can cancel its upload and remove its temporary files. A second Ctrl-C ends the process
// as usual. System calls blocked at the moment (a prompt's read) return with EINTR. One at a time.
class InterruptWatcher : public QObject {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher() override;

    // Whether Ctrl-C was pressed since the watcher was made.
    static bool interrupted();

private:
    std::function<void()> onInterrupt_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace qm::cli
