#pragma once

#include "cli/command_line.h"
#include "cli/delivery.h"
#include "cli/environment.h"
#include "cli/outgoing_message.h"

namespace qm::cli {

// `quillmoor send`: loads the message into a compose window of the command-line host, presses Send with
// the plug-in loaded, lets the plug-in run (sheets, upload, download box), and when the host's own send
// is reached, writes or submits the message.
//
//   loading --(unreadable)--> exit 2
//      |
//   Send pressed --> plug-in runs (event loop) --+--> host's send: message snapshot --> delivery --> exit 0 / 1
//                                                +--> sheet without answer, or --answer names no button --> exit 2
//                                                +--> preferences asked for --> exit 1
//                                                +--> quiet without a send (cancelled, upload failed) --> exit 1
//
// Delivery runs after the event loop has ended, when the plug-in has nothing left to do: a blocking SMTP
// dialogue or sendmail pipe then keeps nothing waiting on the main thread.
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
