#pragma once

#include "cli/command_line.h"
#include "cli/delivery.h"
#include "cli/environment.h"
#include "cli/outgoing_message.h"

namespace qm::cli {

// `quillmoor send`: loads the message (exit 2 when it cannot be read), lets the plug-in decide at Send in
// a compose session, and when the host's own send is reached writes or submits the message (exit 0, or 1
// when that fails); a run that ends without a send exits 1 with its reason, or 2 when a question had no
// answer.
//
// Delivery runs after the session's event loop has ended, when the plug-in has nothing left to do: a
// blocking SMTP dialogue or sendmail pipe then keeps nothing waiting on the main thread.
class SendCommand {
public:
    explicit SendCommand(Environment& environment);
    int run(const CommandLine& line);

private:
    int deliver(const Destination& destination, const OutgoingMessage& message, const Envelope& envelope);
    void report(const QString& text);

    Environment& env_;
};

} // namespace qm::cli
