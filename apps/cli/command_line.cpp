#include "cli/command_line.h"

#include "cli/smtp_submitter.h"

namespace qm::cli {

namespace {

using Result = std::variant<CommandLine, QString>;

// "--name value" or "--name=value"; nullopt when `argument` is not this option.
std::optional<QString> optionValue(const QStringList& arguments, qsizetype& index, const QString& name,
                                   QString* error) {
    const QString& argument = arguments[index];
    if (argument.startsWith(name + u'='))
        return argument.mid(name.size() + 1);
    if (argument != name)
        return std::nullopt;
    if (index + 1 >= arguments.size()) {
        *error = QStringLiteral("%1 needs a value").arg(name);
        return QString();
    }
    return arguments[++index];
}

Result parseSend(const QStringList& arguments) {
    CommandLine line;
    line.command = CommandLine::Command::Send;
    bool destinationGiven = false;
    bool optionsEnded = false;
    QStringList messages;
    const auto setDestination = [&](Destination destination) -> QString {
        if (destinationGiven)
            return QStringLiteral("--out, --smtp and --sendmail exclude each other");
        destinationGiven = true;
        line.destination = std::move(destination);
        return {};
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || argument == u"-" || !argument.startsWith(u'-')) {
            messages.append(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        QString error;
        if (auto answer = optionValue(arguments, i, QStringLiteral("--answer"), &error)) {
            if (!error.isEmpty())
                return error;
            line.answer = answerRoleFromName(*answer);
            if (!line.answer)
                return QStringLiteral("--answer takes upload, send, cancel or configure, not \"%1\"")
                    .arg(*answer);
        } else if (auto file = optionValue(arguments, i, QStringLiteral("--out"), &error)) {
            if (!error.isEmpty())
                return error;
            if (file->isEmpty())
                return QStringLiteral("--out needs a file name");
            error = *file == u"-" ? setDestination({}) : setDestination({Destination::Kind::File, *file, {}});
        } else if (auto url = optionValue(arguments, i, QStringLiteral("--smtp"), &error)) {
            if (!error.isEmpty())
                return error;
            const QUrl server(*url, QUrl::StrictMode);
            if (!SmtpSubmitter::isSupportedUrl(server))
                return QStringLiteral("--smtp takes an smtp:// or smtps:// URL, not \"%1\"").arg(*url);
            error = setDestination({Destination::Kind::Smtp, {}, server});
        } else if (argument == u"--sendmail") {
            error = setDestination({Destination::Kind::Sendmail, {}, {}});
        } else {
            return QStringLiteral("unknown option %1").arg(argument);
        }
        if (!error.isEmpty())
            return error;
    }
    if (messages.size() != 1)
        return messages.isEmpty() ? QStringLiteral("send needs a MESSAGE file (or - for standard input)")
                                  : QStringLiteral("send takes one MESSAGE, not %1").arg(messages.size());
    line.message = messages.first();
    return line;
}

Result parseConfig(QStringList arguments) {
    CommandLine line;
    line.command = CommandLine::Command::Config;
    const QString action = arguments.value(0);
    if (action == u"set" && arguments.value(1) == u"--force") {
        line.force = true;
        arguments.removeAt(1);
    }
    const qsizetype wanted = action == u"list"                        ? 1
                             : action == u"get" || action == u"unset" ? 2
                             : action == u"set"                       ? 3
                                                                      : -1;
    if (wanted < 0)
        return QStringLiteral("config takes list, get KEY, set KEY VALUE or unset KEY");
    if (arguments.size() != wanted)
        return QStringLiteral("config %1 takes %2")
            .arg(action, wanted == 1   ? QStringLiteral("no arguments")
                         : wanted == 2 ? QStringLiteral("a KEY")
                                       : QStringLiteral("a KEY and a VALUE"));
    line.configAction = action;
    line.key = arguments.value(1);
    line.value = arguments.value(2);
    if (wanted > 1 && line.key.isEmpty())
        return QStringLiteral("config %1: the KEY is empty").arg(action);
    return line;
}

Result parseLink(const QStringList& arguments, bool unlink) {
    CommandLine line;
    line.command = unlink ? CommandLine::Command::Unlink : CommandLine::Command::Link;
    QStringList services;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!argument.startsWith(u'-')) {
            services.append(argument);
            continue;
        }
        if (unlink)
            return QStringLiteral("unlink takes only a SERVICE");
        if (argument == u"--password-stdin") {
            line.passwordFromStdin = true;
            continue;
        }
        if (argument == u"--accept-host-key") {
            line.acceptHostKey = true;
            continue;
        }
        if (argument == u"--no-browser") {
            line.noBrowser = true;
            continue;
        }
        QString error;
        const std::pair<const char*, std::optional<QString>*> fields[] = {{"--login", &line.login},
                                                                          {"--server", &line.server},
                                                                          {"--public-url", &line.publicUrl},
                                                                          {"--private-key", &line.privateKey},
                                                                          {"--folder", &line.folder}};
        bool known = false;
        for (const auto& [name, field] : fields) {
            if (auto value = optionValue(arguments, i, QString::fromLatin1(name), &error)) {
                if (!error.isEmpty())
                    return error;
                *field = *value;
                known = true;
                break;
            }
        }
        if (!known)
            return QStringLiteral("unknown option %1").arg(argument);
    }
    const QString command = unlink ? QStringLiteral("unlink") : QStringLiteral("link");
    if (services.size() != 1)
        return QStringLiteral("%1 takes one SERVICE (an identifier 0-9 or a name)").arg(command);
    line.service = services.first();
    return line;
}

} // namespace

std::variant<CommandLine, QString> CommandLine::parse(const QStringList& arguments) {
    if (arguments.isEmpty())
        return QStringLiteral("a command is missing");
    const QString& command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"send")
        return parseSend(rest);
    if (command == u"config")
        return parseConfig(rest);
    if (command == u"link" || command == u"unlink")
        return parseLink(rest, command == u"unlink");
    if (command == u"open-url") {
        if (rest.size() != 1 || rest.first().isEmpty())
            return QStringLiteral("open-url takes one URL");
        CommandLine line;
        line.command = Command::OpenUrl;
        line.url = rest.first();
        return line;
    }
    if (command == u"services") {
        if (!rest.isEmpty())
            return QStringLiteral("services takes no arguments");
        CommandLine line;
        line.command = Command::Services;
        return line;
    }
    if (command == u"help" || command == u"--help" || command == u"-h")
        return CommandLine();
    return QStringLiteral("unknown command \"%1\"").arg(command);
}

} // namespace qm::cli
