#include "platform/string_format.h"

#include <QDateTime>
#include <cstdint>

// A translation's format is data: whatever its specifiers say, filling it reads only the arguments given.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString format = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QVariantList& arguments : {QVariantList{}, QVariantList{QStringLiteral("name"), 5.25, 42},
                                          QVariantList{qint64(-7), QVariant(), QStringLiteral("x"), 1e300}})
        (void)qm::platform::formatString(format, arguments);
    return 0;
}
