#include "cli/application.h"

#include "cli/cli_texts.h"
#include "cli/command_line.h"
#include "cli/config_command.h"
#include "cli/exit_status.h"
#include "cli/link_command.h"
#include "cli/plugin_loader.h"
#include "cli/send_command.h"
#include "cli/sendmail_command.h"
#include "cli/services_command.h"
#include "cli/smtpd_command.h"
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
    case CommandLine::Command::Help: {
        if (line.passedOn.isEmpty()) {
            env_.out.write(texts::usage);
            return ExitSent;
        }
        const QByteArray help = texts::helpFor(line.passedOn.first());
        if (help.isEmpty()) {
            env_.err.write(QStringLiteral("quillmoor: there is no command \"%1\"\n")
                               .arg(line.passedOn.first())
                               .toUtf8());
            env_.err.write(texts::usage);
            return ExitUsage;
        }
        env_.out.write(help);
        return ExitSent;
    }
    case CommandLine::Command::Version:
        env_.out.write(QStringLiteral("quillmoor %1\n").arg(QString::fromLatin1(texts::version)).toUtf8());
        return ExitSent;
    case CommandLine::Command::Sendmail:
        registerBundleDefaults(env_.settings, env_.bundle);
        return SendmailCommand(env_).run(line.passedOn);
    case CommandLine::Command::Smtpd:
        registerBundleDefaults(env_.settings, env_.bundle);
        return SmtpdCommand(env_).run(line.passedOn);
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
