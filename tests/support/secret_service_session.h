#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace qm::test {

// A Secret Service of the test's own: a private D-Bus session bus (dbus-daemon) with a gnome-keyring-daemon
// on it, whose "login" keyring is created unlocked under a temporary home. While it lives, the test process's
// DBUS_SESSION_BUS_ADDRESS names that bus; the previous value comes back when it ends. The bus starts no
// services on demand, so nothing but the two daemons started here ever runs, and both are stopped by their
// process ids. One session per test keeps parallel test processes apart.
class SecretServiceSession {
public:
    SecretServiceSession();
    ~SecretServiceSession() { stop(); }
    SecretServiceSession(const SecretServiceSession&) = delete;
    SecretServiceSession& operator=(const SecretServiceSession&) = delete;

    // Starts both daemons and waits (bounded) until the default collection answers. False with a reason in
    // errorString() when a program is missing or does not come up.
    bool start();
    QString errorString() const { return error_; }

    struct ToolResult {
        int exitCode = -1; // -1 when the tool did not start or did not end in time
        QByteArray output, errors;
    };
    // Runs `secret-tool` against this keyring with `input` on its standard input.
    ToolResult secretTool(const QStringList& arguments, const QByteArray& input = {},
                          int timeoutMs = 5000) const;

    // Locks the default collection, as a screen lock would; unlocking it again would take a prompt.
    bool lockDefaultCollection();
    // Ends the keyring daemon and leaves the bus running: a session where no Secret Service answers.
    void stopKeyring();

private:
    QString file(const char* name) const { return root_.filePath(QString::fromLatin1(name)); }
    QProcessEnvironment environment() const; // what a peer client needs to reach this keyring
    bool startBus();
    bool startKeyring();
    bool waitForDefaultCollection(int timeoutMs);
    void stop();

    QTemporaryDir root_;
    std::unique_ptr<QProcess> bus_, keyring_;
    QString address_, error_;
    std::optional<std::optional<QByteArray>> savedAddress_; // set while this bus is the process's
};

} // namespace qm::test
