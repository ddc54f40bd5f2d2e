#include "cli/application.h"

#include "cli/cli_texts.h"
#include "cli/command_line.h"
#include "cli/config_command.h"
#include "cli/exit_status.h"
#include "cli/link_command.h"
#include "cli/plugin_loader.h"
#include "cli/send_command.h"
#include "cli/services_command.h"
#include "platform/url_relay.h"

namespace qm::cli {

Application::Application(Environment& environment)
    : env_(environment) {}

int Application::run(const QStringList& arguments) {
    const auto parsed = CommandLine::parse(arguments);
    if (const auto* error = std::get_if<QString>(&parsed)) {
        env_.err.write((QStringLiteral("quillmoor: ") + *error + u'\n').toUtf8());
        env_.err.write(texts::usage);
        return ExitUsage;
    }
    const CommandLine& line = std::get<CommandLine>(parsed);
    // Read as empty, the file would silently give every setting its default.
    if (const auto problem = env_.settings.fileProblem())
        env_.err.write(
            (QStringLiteral("quillmoor: warning: ") + problem->localizedDescription + u'\n').toUtf8());
    switch (line.command) {
    case CommandLine::Command::Help:
        env_.out.write(texts::usage);
        return ExitSent;
    case CommandLine::Command::Send:
        return SendCommand(env_).run(line);
    case CommandLine::Command::Link:
        return LinkCommand(env_).link(line);
    case CommandLine::Command::Unlink:
        return LinkCommand(env_).unlink(line);
    case CommandLine::Command::OpenUrl:
        if (const auto relayed = platform::UrlRelay::send(line.url); !relayed) {
            env_.err.write(
                (QStringLiteral("quillmoor: ") + relayed.error().localizedDescription + u'\n').toUtf8());
            return ExitNotSent;
        }
        return ExitSent;
    case CommandLine::Command::Services:
        registerBundleDefaults(env_.settings, env_.bundle);
        return ServicesCommand(env_.settings, env_.services, env_.out).run();
    case CommandLine::Command::Config: {
        registerBundleDefaults(env_.settings, env_.bundle);
        ConfigCommand config(env_.settings, env_.out, env_.err);
        if (line.configAction == u"list")
            return config.list();
        if (line.configAction == u"get")
            return config.get(line.key);
        if (line.configAction == u"set")
            return config.set(line.key, line.value, line.force);
        return config.unset(line.key);
    }
    }
    return ExitUsage;
}

} // namespace qm::cli
