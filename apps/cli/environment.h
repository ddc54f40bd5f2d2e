#pragma once

#include "accounts/credential_store.h"
#include "platform/bundle.h"
#include "platform/settings_store.h"
#include "uploaders/service_registry.h"

#include <QIODevice>
#include <unistd.h>

namespace qm::cli {

// Everything a run of `quillmoor` reads and writes besides its arguments. main() fills it with the real
// process's; tests with their own settings, service registry (holding a test uploader) and buffers.
struct Environment {
    platform::SettingsStore& settings;
    upload::ServiceRegistry& services;
    const platform::Bundle& bundle;
    QIODevice& out; // standard output for listings
    QIODevice& err; // standard error
    bool errIsTerminal = false;
    int inputFd = STDIN_FILENO;          // MESSAGE "-"
    int messageOutputFd = STDOUT_FILENO; // the sent message without --out, --smtp or --sendmail
    int promptFd = -1;                   // a person's answers; -1 when standard input is not a terminal
    QString sendmailProgram = QStringLiteral("/usr/sbin/sendmail");
    accounts::CredentialStore* credentials = nullptr; // account passwords; none: linking stores none
    QString urlHandlerCommand = QString();            // `quillmoor open-url`, claimed for the URL schemes
    int signInTimeoutMilliseconds = 5 * 60 * 1000;    // how long `link` waits for a browser sign-in
};

} // namespace qm::cli
