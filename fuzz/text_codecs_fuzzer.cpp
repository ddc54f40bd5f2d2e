#include "platform/base64.h"
#include "platform/string_additions.h"

#include <cstdint>
#include <cstdlib>

// Base64 and quoted-printable text from servers and messages: any input decodes or is refused, and what
// the encoder writes decodes back to the same bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    (void)qm::platform::newBase64Decode(bytes, size);
    for (const bool lines : {false, true}) {
        const QByteArray encoded = qm::platform::newBase64Encode(bytes, size, lines);
        if (qm::platform::newBase64Decode(encoded.constData(), size_t(encoded.size())) !=
            QByteArray(bytes, qsizetype(size)))
            std::abort();
    }
    (void)qm::platform::stringWithQuotedPrintableString(QString::fromLatin1(bytes, qsizetype(size)),
                                                        QStringConverter::Latin1);
    return 0;
}
