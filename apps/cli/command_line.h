#pragma once

#include "cli/answer_role.h"

#include <QStringList>
#include <QUrl>
#include <optional>
#include <variant>

namespace qm::cli {

// Where the host's own send puts the message.
struct Destination {
    enum class Kind { StandardOutput, File, Smtp, Sendmail };
    Kind kind = Kind::StandardOutput;
    QString file;
    QUrl smtp;
};

// The parsed arguments of `quillmoor`.
struct CommandLine {
    enum class Command { Send, Config, Services, Link, Unlink, Help, OpenUrl };
    Command command = Command::Help;

    // send
    QString message; // a path, or "-" for standard input
    std::optional<AnswerRole> answer;
    Destination destination;

    // config: "list", "get", "set" or "unset", with its key and value
    QString configAction;
    QString key;
    QString value;
    bool force = false; // set: store a key the program does not know (yet)

    // link and unlink: the service by identifier or name, and the fields of its account
    QString service;
    std::optional<QString> login;
    bool passwordFromStdin = false;
    bool acceptHostKey = false; // an unknown SSH host key is recorded without asking
    std::optional<QString> server;
    std::optional<QString> publicUrl;
    std::optional<QString> privateKey;
    std::optional<QString> folder;
    bool noBrowser = false; // browser sign-in: print the address and read the answer from standard input

    // open-url: the address the browser was sent to
    QString url;

    // The arguments after the program's name; a usage error as text.
    static std::variant<CommandLine, QString> parse(const QStringList& arguments);
};

} // namespace qm::cli
