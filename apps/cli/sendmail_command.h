#pragma once

#include "cli/environment.h"

#include <QStringList>
#include <variant>

namespace qm::cli {

// The arguments of sendmail as mail programs call it.
struct SendmailArguments {
    QString sender;           // -f / -r: the envelope sender
    QString fullName;         // -F: accepted; the client's From header already names the sender
    bool ignoreDots = false;  // -i / -oi: a line of a single dot does not end the message
    bool fromHeaders = false; // -t: recipients from To, Cc and Bcc
    bool verbose = false;     // -v
    QStringList recipients;

    // Unknown options are ignored as sendmail ignores them; only modes other than delivery are refused.
    static std::variant<SendmailArguments, QString> parse(const QStringList& arguments);
};

// `quillmoor sendmail` (or a symbolic link named sendmail): a drop-in for /usr/sbin/sendmail. Reads the
// message from standard input, runs the send decision unattended and hands the message to the next
// transport. Exits with sendmail's statuses (sysexits.h): 0 sent, 75 (EX_TEMPFAIL) when trying again
// later may succeed so that the client keeps the message, 67 (EX_NOUSER) for a refused recipient...
class SendmailCommand {
public:
    explicit SendmailCommand(Environment& environment);
    int run(const QStringList& arguments);

private:
    void report(const QString& text);

    Environment& env_;
};

} // namespace qm::cli
