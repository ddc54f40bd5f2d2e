// quillmoor: the command-line host. Loads a message file into a compose window, lets the plug-in decide at
// Send, and writes or submits the message; also reads and writes the settings and lists the services.

#include "accounts/credential_store.h"
#include "cli/application.h"
#include "cli/environment.h"
#include "cli/exit_status.h"
#include "platform/bundle.h"
#include "platform/secret_service_store.h"
#include "platform/settings_store.h"
#include "platform/system_log.h"
#include "services/built_in_services.h"
#include "uploaders/service_registry.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace qm;
    QCoreApplication app(argc, argv);
    // Standard error is this program's conversation with its user; diagnostics go to the system log only.
    platform::SystemLog::setEchoToTerminal(false);
    QFile out;
    QFile err;
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);

    const std::optional<platform::Bundle> bundle = platform::Bundle::locate();
    if (!bundle) {
        err.write("quillmoor: the Quillmoor.bundle resources were not found (QUILLMOOR_BUNDLE names them)\n");
        return cli::ExitUsage;
    }
    platform::SettingsStore& settings = platform::SettingsStore::standard();
    platform::SecretServiceStore secrets;
    accounts::CredentialStore credentials(secrets);
    const upload::ServiceEnvironment serviceEnvironment{settings, credentials, bundle->name()};
    upload::ServiceRegistry services(bundle->name());
    upload::registerBuiltInServices(services, serviceEnvironment, *bundle);

    // A person answers at the terminal itself, which stays reachable when standard input carries the message.
    int promptFd = -1;
    if (::isatty(STDIN_FILENO)) {
        promptFd = ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
        if (promptFd < 0)
            promptFd = STDIN_FILENO;
    }
    cli::Environment environment{settings, services, *bundle, out, err};
    environment.credentials = &credentials;
    environment.errIsTerminal = ::isatty(STDERR_FILENO);
    environment.promptFd = promptFd;
    environment.urlHandlerCommand = QCoreApplication::applicationFilePath() + QStringLiteral(" open-url");
    const int status = cli::Application(environment).run(app.arguments().mid(1));
    if (promptFd > STDIN_FILENO)
        ::close(promptFd);
    return status;
}
