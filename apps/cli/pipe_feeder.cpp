#include "cli/pipe_feeder.h"

#include "cli/cli_error.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace qm::cli {

PipeFeeder::~PipeFeeder() {
    (void)finish();
}

platform::Result<void> PipeFeeder::open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return cliError(
            WriteFailed,
            QStringLiteral("cannot make a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    readEnd_ = fds[0];
    writeEnd_ = fds[1];
    return {};
}

void PipeFeeder::start(MessageSource source, std::function<void()> beforeFailedEnd) {
    const int fd = writeEnd_;
    writeEnd_ = -1;
    writer_ =
        std::thread([this, fd, source = std::move(source), beforeFailedEnd = std::move(beforeFailedEnd)] {
            // A SIGPIPE raised here stays pending on this thread and dies with it; the write sees EPIPE.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            if (const auto written = source(fd)) {
                completed_.store(true, std::memory_order_release);
            } else {
                error_ = written.error();
                if (beforeFailedEnd)
                    beforeFailedEnd();
            }
            ::close(fd);
        });
}

void PipeFeeder::closeReadEnd() {
    if (readEnd_ >= 0) {
        ::close(readEnd_);
        readEnd_ = -1;
    }
}

platform::Result<void> PipeFeeder::finish() {
    closeReadEnd();
    if (writer_.joinable())
        writer_.join();
    if (writeEnd_ >= 0) {
        ::close(writeEnd_);
        writeEnd_ = -1;
    }
    if (error_)
        return *error_;
    return {};
}

} // namespace qm::cli
