#include "platform/system_log.h"

#include <QMutex>
#include <atomic>
#include <cstdio>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace qm::platform {
namespace {

struct Observers {
    QMutex mutex;
    std::vector<SystemLog::Capture*> list;
};

std::atomic<bool> echoToTerminal{true};

Observers& observers() {
    static Observers instance;
    return instance;
}

} // namespace

void SystemLog::write(const QString& message) {
    const QByteArray utf8 = message.toUtf8();
    static const bool opened = [] {
        openlog("quillmoor", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    syslog(LOG_NOTICE, "%s", utf8.constData());
    if (echoToTerminal && isatty(STDERR_FILENO))
        std::fprintf(stderr, "quillmoor: %s\n", utf8.constData());

    Observers& all = observers();
    QMutexLocker lock(&all.mutex);
    for (auto* capture : all.list)
        capture->observer_(message);
}

void SystemLog::setEchoToTerminal(bool echo) {
    echoToTerminal = echo;
}

SystemLog::Capture::Capture(std::function<void(const QString&)> observer)
    : observer_(std::move(observer)) {
    Observers& all = observers();
    QMutexLocker lock(&all.mutex);
    all.list.push_back(this);
}

SystemLog::Capture::~Capture() {
    Observers& all = observers();
    QMutexLocker lock(&all.mutex);
    std::erase(all.list, this);
}

} // namespace qm::platform
