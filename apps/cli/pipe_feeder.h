#pragma once

#include "cli/delivery.h"
#include "platform/result.h"

#include <atomic>
#include <thread>

namespace qm::cli {

// Writes a message into a pipe on a thread of its own while the caller's thread hands the other end to
// a consumer (libcurl, sendmail): the message is produced as fast as it is consumed, never held whole.
//
// A consumer that stops reading makes the writes fail (EPIPE; SIGPIPE is blocked on the writer's thread
// only), and the writer's failure is known before the consumer can see the end of the pipe, so a
// half-written message is never mistaken for a whole one.
class PipeFeeder {
public:
    PipeFeeder() = default;
    ~PipeFeeder();
    PipeFeeder(const PipeFeeder&) = delete;
    PipeFeeder& operator=(const PipeFeeder&) = delete;

    // Makes the pipe; `readEnd()` is valid afterwards.
    platform::Result<void> open();
    int readEnd() const { return readEnd_; }
    // For a consumer in another process: once it holds its own copy, ours must go, or the writer would
    // never learn that the consumer stopped reading.
    void closeReadEnd();

    // Starts writing. `beforeFailedEnd` runs on the writer's thread after a failure and before the
    // consumer sees the end of the pipe (sendmail is killed there, so it never sends a torso).
    void start(MessageSource source, std::function<void()> beforeFailedEnd = {});

    // True once the writer has finished without error; the consumer checks it at the end of the pipe.
    bool completed() const { return completed_.load(std::memory_order_acquire); }

    // Closes the read end (so a writer still blocked gives up) and waits for the writer; its error, if any.
    platform::Result<void> finish();

private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::thread writer_;
    std::atomic<bool> completed_{false};
    std::optional<platform::Error> error_;
};

} // namespace qm::cli
