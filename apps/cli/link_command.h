#pragma once

#include "cli/command_line.h"
#include "cli/environment.h"
#include "platform/result.h"
#include "uploaders/file_transfer.h"

namespace qm::cli {

// `quillmoor link` and `unlink`: the account flows of the preferences page, at the terminal. Linking
// writes the service's fields to the settings as the page's fields would, lets the service's uploader test
// the account, and records the outcome: the link flag, the password kept or removed, the service selected.
class LinkCommand {
public:
    explicit LinkCommand(Environment& environment)
        : env_(environment) {}

    int link(const CommandLine& line);
    int unlink(const CommandLine& line);

    // The service named by its number or (case-insensitively) its name.
    static std::optional<upload::ServiceId> serviceFromText(const QString& text);

private:
    // What the command line says of the account: a password found in a server address is taken out of it.
    struct Account {
        std::optional<QString> login;
        std::optional<QString> password;
        QList<std::pair<QString, QString>> fields; // setting key and value, in the service's order
    };

    // The class of the named service; the error's code is the exit status.
    platform::Result<upload::UploaderClass*> resolve(const QString& text) const;
    // The error's code is the exit status.
    platform::Result<Account> account(const upload::ServiceDescription& service,
                                      const CommandLine& line) const;
    bool writeFields(const upload::ServiceDescription& service, const CommandLine& line,
                     const Account& account);
    void fail(const QString& title, const QString& message);
    // Services linked in the browser: the sign-in at the terminal, then the outcome recorded.
    int linkInBrowser(upload::UploaderClass& serviceClass, const CommandLine& line);
    int conclude(const upload::ServiceDescription& service, const platform::Result<void>& linked);
    // Shows an unknown SSH host key and records it when the flag or the person at the terminal agrees.
    bool acceptHostKey(const upload::HostKey& key, bool acceptedByFlag, bool passwordFromStdin);

    Environment& env_;
};

} // namespace qm::cli
