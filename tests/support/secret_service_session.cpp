#include "support/secret_service_session.h"

#include "support/test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <gio/gio.h>
#include <signal.h>
#include <sys/prctl.h>

namespace qm::test {

namespace {

constexpr int startTimeoutMs = 10000;

// No <servicedir>: the bus must never start a keyring (or a prompter) of its own that nobody would stop.
constexpr const char* busConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// Daemons outlive a crashed test otherwise.
void dieWithParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

void stopProcess(std::unique_ptr<QProcess>& process) {
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(2000)) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
    process.reset();
}

// Calls the Secret Service on `address` with a connection of the call's own, leaving the process's bus alone.
GVariant* callSecretService(const QString& address, const char* method, GVariant* parameters,
                            const char* replyType, int timeoutMs, QString* error) {
    GError* e = nullptr;
    GVariant* reply = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.toUtf8().constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &e);
    if (!connection) {
        g_variant_unref(g_variant_ref_sink(parameters));
    } else {
        reply = g_dbus_connection_call_sync(connection, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                                            "org.freedesktop.Secret.Service", method, parameters,
                                            G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                            timeoutMs, nullptr, &e);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }
    if (e)
        *error = QString::fromUtf8(e->message);
    g_clear_error(&e);
    return reply;
}

// The object path of the default collection, "/" while there is none; empty when the call fails.
QByteArray defaultCollection(const QString& address, int timeoutMs, QString* error) {
    GVariant* reply =
        callSecretService(address, "ReadAlias", g_variant_new("(s)", "default"), "(o)", timeoutMs, error);
    if (!reply)
        return {};
    const gchar* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    const QByteArray collection(path);
    g_variant_unref(reply);
    return collection;
}

} // namespace

SecretServiceSession::SecretServiceSession()
    : root_(QDir::tempPath() + QStringLiteral("/qm-secrets-XXXXXX")) {}

bool SecretServiceSession::start() {
    if (!root_.isValid()) {
        error_ = QStringLiteral("no temporary folder: %1").arg(root_.errorString());
        return false;
    }
    if (!startBus() || !startKeyring() || !waitForDefaultCollection(startTimeoutMs)) {
        stop();
        return false;
    }
    savedAddress_.emplace();
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        savedAddress_->emplace(qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    return true;
}

bool SecretServiceSession::startBus() {
    const QString socketDir = file("bus"), configPath = file("bus.conf");
    QDir().mkpath(socketDir);
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromUtf8(busConfig).arg(socketDir.toHtmlEscaped()).toUtf8()) < 0) {
        error_ = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    config.close();

    bus_ = std::make_unique<QProcess>();
    bus_->setChildProcessModifier(dieWithParent);
    bus_->setStandardErrorFile(file("bus.log"));
    bus_->start(QStringLiteral("dbus-daemon"), {QStringLiteral("--nofork"), "--config-file=" + configPath,
                                                QStringLiteral("--print-address")});
    if (!bus_->waitForStarted(startTimeoutMs)) {
        error_ = QStringLiteral("dbus-daemon did not start: %1").arg(bus_->errorString());
        return false;
    }
    QByteArray printed;
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!printed.contains('\n') && !deadline.hasExpired() && bus_->state() == QProcess::Running) {
        bus_->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        printed += bus_->readAllStandardOutput();
    }
    address_ = QString::fromUtf8(printed.left(printed.indexOf('\n'))).trimmed();
    if (address_.isEmpty())
        error_ = "dbus-daemon printed no address: " + QString::fromUtf8(readFile(file("bus.log"))).trimmed();
    return !address_.isEmpty();
}

QProcessEnvironment SecretServiceSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = file("home");
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + "/.local/share");
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + "/.config");
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + "/.cache");
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), file("run"));
    // A keyring of the user's, or a display to prompt on, must not be found through these.
    for (const char* name : {"GNOME_KEYRING_CONTROL", "SSH_AUTH_SOCK", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    return env;
}

bool SecretServiceSession::startKeyring() {
    QDir().mkpath(file("run"));
    QFile::setPermissions(file("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(file("home"));

    keyring_ = std::make_unique<QProcess>();
    keyring_->setChildProcessModifier(dieWithParent);
    keyring_->setProcessEnvironment(environment());
    // A file rather than a pipe nobody drains once the daemon is up.
    keyring_->setStandardOutputFile(file("keyring.log"));
    keyring_->setStandardErrorFile(file("keyring.log"), QIODevice::Append);
    // --unlock reads the login keyring's password from standard input and creates that keyring when it is
    // missing; an empty password leaves it uncreated, so a fixed one is given.
    keyring_->start(
        QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"), QStringLiteral("--unlock")});
    if (!keyring_->waitForStarted(startTimeoutMs)) {
        error_ = QStringLiteral("gnome-keyring-daemon did not start: %1").arg(keyring_->errorString());
        return false;
    }
    // Written out here: nothing runs the event loop while the session waits for the daemon.
    keyring_->write("quillmoor-test");
    keyring_->waitForBytesWritten(startTimeoutMs);
    keyring_->closeWriteChannel();
    return true;
}

bool SecretServiceSession::waitForDefaultCollection(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QString lastError;
    const auto keyringLog = [this] { return QString::fromUtf8(readFile(file("keyring.log"))).trimmed(); };
    while (!deadline.hasExpired()) {
        const QByteArray collection = defaultCollection(address_, 500, &lastError);
        if (!collection.isEmpty() && collection != "/")
            return true;
        if (collection == "/")
            lastError = QStringLiteral("no default collection yet");
        // Waiting on the process notices its end, which its state alone would not show without an event loop.
        if (keyring_->waitForFinished(20)) {
            error_ = "gnome-keyring-daemon ended: " + keyringLog();
            return false;
        }
    }
    error_ =
        QStringLiteral("the Secret Service did not answer within %1 ms: %2 (gnome-keyring-daemon said: %3)")
            .arg(timeoutMs)
            .arg(lastError, keyringLog());
    return false;
}

bool SecretServiceSession::lockDefaultCollection() {
    const QByteArray collection = defaultCollection(address_, 2000, &error_);
    if (collection.isEmpty())
        return false;
    const char* objects[] = {collection.constData()};
    GVariant* reply = callSecretService(
        address_, "Lock", g_variant_new("(@ao)", g_variant_new_objv(objects, 1)), "(aoo)", 2000, &error_);
    if (!reply)
        return false;
    GVariant* locked = g_variant_get_child_value(reply, 0);
    const bool done = g_variant_n_children(locked) == 1;
    g_variant_unref(locked);
    g_variant_unref(reply);
    return done;
}

SecretServiceSession::ToolResult
SecretServiceSession::secretTool(const QStringList& arguments, const QByteArray& input, int timeoutMs) const {
    ToolResult result;
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(QStringLiteral("secret-tool"), arguments);
    if (!tool.waitForStarted(timeoutMs)) {
        result.errors = tool.errorString().toUtf8();
        return result;
    }
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(1000);
        result.errors = "secret-tool did not end in time";
        return result;
    }
    result.output = tool.readAllStandardOutput();
    result.errors = tool.readAllStandardError();
    result.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return result;
}

void SecretServiceSession::stopKeyring() {
    stopProcess(keyring_);
}

void SecretServiceSession::stop() {
    // The keyring first: it would otherwise see its bus vanish mid-call.
    stopProcess(keyring_);
    stopProcess(bus_);
    if (savedAddress_) {
        if (*savedAddress_)
            qputenv("DBUS_SESSION_BUS_ADDRESS", **savedAddress_);
        else
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        savedAddress_.reset();
    }
}

} // namespace qm::test
