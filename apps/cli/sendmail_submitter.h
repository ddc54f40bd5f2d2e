#pragma once

#include "cli/delivery.h"
#include "platform/result.h"

namespace qm::cli {

// Pipes a message to "sendmail -t -i", which takes the recipients from the headers (and removes Bcc
// itself). The message is written into the pipe as sendmail reads it. Blocks until sendmail exits.
class SendmailSubmitter {
public:
    static constexpr char defaultProgram[] = "/usr/sbin/sendmail";

    explicit SendmailSubmitter(QString program = QString::fromLatin1(defaultProgram));

    platform::Result<void> submit(const MessageSource& source) const;

private:
    QString program_;
};

} // namespace qm::cli
