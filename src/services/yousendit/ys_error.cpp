#include "services/yousendit/ys_error.h"

#include "services/yousendit/dictionary_values.h"

namespace qm::yousendit {

platform::Error makeError(int statusCode, const QString& message) {
    return platform::Error(QString::fromLatin1(kErrorDomain), statusCode, message);
}

platform::Error invalidParameters() {
    return makeError(400, QString::fromLatin1(kMessageInvalidParameters));
}

platform::Error errorWithDictionary(const QVariant& errorStatus) {
    const QVariantMap map = errorStatus.toMap();
    return makeError(int(integerForKey(QStringLiteral("code"), map)),
                     valueForKey(QStringLiteral("message"), map));
}

} // namespace qm::yousendit
