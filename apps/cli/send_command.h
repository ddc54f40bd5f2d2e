#pragma once

#include "cli/command_line.h"
#include "cli/delivery.h"
#include "cli/environment.h"
#include "cli/message_delivery.h"
#include "cli/outgoing_message.h"

#include <functional>

namespace qm::cli {

// `quillmoor send`: loads the message (exit 2 when it cannot be read), lets the plug-in decide at Send in
// a compose session, and when the host's own send is reached writes or submits the message (exit 0, or 1
// when that fails); a run that ends without a send exits 1 with its reason, or 2 when a question had no
// answer.
//
// A signed or encrypted message skips the plug-in and leaves as it came. What would make the delivery
// fail is checked before anything is uploaded; when it fails all the same, the files the run uploaded
// are removed from the service again.
//
// Delivery runs after the session's event loop has ended, when the plug-in has nothing left to do: a
// blocking SMTP dialogue or sendmail pipe then keeps nothing waiting on the main thread.
class SendCommand {
public:
    explicit SendCommand(Environment& environment);
    int run(const CommandLine& line);
    // Takes back what a run stored on the service, for a message that could not be delivered.
    void removeUploads(upload::ServiceId service, const QList<QUrl>& links);

private:
    using Writer = FormattedMessageSource;

    std::optional<QString> checkDestination(const Destination& destination) const;
    int deliver(const Destination& destination, const Envelope& envelope, const Writer& writer);
    void report(const QString& text);

    Environment& env_;
};

} // namespace qm::cli
