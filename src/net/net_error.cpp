#include "net/net_error.h"

#include "platform/bundle.h"

namespace qm::net {

platform::Error makeNetError(const QString& englishReason) {
    QString reason = englishReason;
    if (const auto bundle = platform::Bundle::locate())
        reason = bundle->localizedString(englishReason, englishReason, QStringLiteral("QMNet"));
    return platform::Error(QString::fromLatin1(kNetErrorDomain), kNetErrorCode, reason,
                           {{QStringLiteral("NSLocalizedFailureReason"), reason}});
}

} // namespace qm::net
