#pragma once

#include "cli/command_line.h"
#include "cli/environment.h"
#include "uploaders/file_transfer.h"

namespace qm::cli {

// `quillmoor link` and `unlink`: the account flows of the preferences page, at the terminal. Linking
// writes the service's fields to the settings as the page's fields would, lets the service's uploader test
// the account, and records the outcome: the link flag, the password kept or removed, the service selected.
class LinkCommand {
public:
    explicit LinkCommand(Environment& environment) : env_(environment) {}

    int link(const CommandLine& line);
    int unlink(const CommandLine& line);

    // The identifier of a service named by its number or (case-insensitively) its name; -1 when none.
    static int serviceFromText(const QString& text, const upload::ServiceRegistry& services);

private:
    // The class of the named service; nullptr with the exit status in `status` (and the reason told).
    upload::UploaderClass* resolve(const QString& text, int* status);
    bool writeFields(int service, const CommandLine& line);
    void fail(const QString& title, const QString& message);
    // Shows an unknown SSH host key and records it when the flag or the person at the terminal agrees.
    bool acceptHostKey(const upload::HostKey& key, bool acceptedByFlag, bool passwordFromStdin);

    Environment& env_;
};

} // namespace qm::cli
