#pragma once

#include <QObject>
#include <functional>
#include <mutex>

namespace qm::platform {

// The queues of the program: the main thread's event loop and the global thread pool.
namespace dispatch {

// Queues `work` on the main thread's event loop; safe from any thread.
void onMain(std::function<void()> work);

// Queues `work` on the main thread unless the caller is on it, in which case it runs at once.
void onMainNowOrLater(std::function<void()> work);

// Runs `work` on a thread of the global pool.
void onGlobalPool(std::function<void()> work);

// Runs `work` on the main thread after `milliseconds`. With a `context`, the call is dropped when the
// context is destroyed first.
void after(int milliseconds, std::function<void()> work, const QObject* context = nullptr);

// Runs `work` exactly once per `flag`, however many threads ask at the same time.
inline void once(std::once_flag& flag, const std::function<void()>& work) {
    std::call_once(flag, work);
}

bool isMainThread();

} // namespace dispatch
} // namespace qm::platform
