#include "json/json.h"
#include "json/parser.h"
#include "json/writer.h"

#include <cstdint>
#include <cstdlib>

// Any bytes: the reader answers a value or an error. A value it read is written back and read again to
// the same text, so the two sides agree on every document the reader accepts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    qm::json::Parser parser;
    const auto value = parser.objectWithData(input);
    if (!value)
        return 0;
    qm::json::Writer writer;
    const auto written = writer.stringWithObject(*value);
    if (!written)
        return 0; // a value the writer refuses (e.g. a non-finite number cannot come from text, but say why)
    qm::json::Parser again;
    const auto reread = again.objectWithString(*written);
    if (!reread || writer.stringWithObject(*reread).valueOr(QString()) != *written)
        std::abort();
    return 0;
}
