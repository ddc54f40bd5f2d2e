#pragma once

#include <QString>
#include <functional>

namespace qm::platform {

// Diagnostics of the program: syslog(3), and standard error when it is a terminal. There are no levels.
class SystemLog {
public:
    static void write(const QString& message);

    // Whether messages are also echoed on standard error when it is a terminal (the default). Programs
    // whose standard error is their user interface turn it off.
    static void setEchoToTerminal(bool echo);

    // Observes every message written while it lives; tests use it to check diagnostics.
    class Capture {
    public:
        explicit Capture(std::function<void(const QString&)> observer);
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;

    private:
        friend class SystemLog;
        std::function<void(const QString&)> observer_;
    };
};

} // namespace qm::platform
