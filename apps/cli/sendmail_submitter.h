#pragma once

#include "cli/delivery.h"
#include "platform/result.h"

#include <QStringList>

namespace qm::cli {

// Pipes a message to "sendmail -t -i", which takes the recipients from the headers (and removes Bcc
// itself). The message is written into the pipe as sendmail reads it. Blocks until sendmail exits.
class SendmailSubmitter {
public:
    static constexpr char defaultProgram[] = "/usr/sbin/sendmail";

    explicit SendmailSubmitter(QString program = QString::fromLatin1(defaultProgram));

    // What follows the program's name; recipients from the headers unless others are given here.
    QStringList arguments{QStringLiteral("-t"), QStringLiteral("-i")};
    // The user info of a failure: the program's exit status, when it exited.
    static constexpr char exitStatusKey[] = "SendmailExitStatus";

    platform::Result<void> submit(const MessageSource& source) const;

private:
    QString program_;
};

} // namespace qm::cli
