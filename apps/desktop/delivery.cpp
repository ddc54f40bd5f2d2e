#include "desktop/delivery.h"

namespace qm::desktop {

platform::Result<QString> deliver(const DeliverySettings& settings, const cli::Envelope& envelope,
                                  const cli::OutgoingMessage& message) {
    auto done = cli::deliverMessage(settings.destination, envelope,
                                    [&message](int fd, const cli::MessageWriter::Options& options) {
                                        return cli::MessageWriter::write(message, fd, options);
                                    },
                                    {settings.sendmailProgram, settings.credentials});
    if (!done)
        return done.error();
    if (done->isEmpty())
        return QStringLiteral("The message was written to standard output.");
    done->front() = done->front().toUpper();
    return *done + u'.';
}

} // namespace qm::desktop
