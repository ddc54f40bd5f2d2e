#include "net/xml_reader.h"

#include <cstdint>

// Server answers are untrusted: any bytes give a dictionary or a parse error.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)qm::net::XMLReader::dictionaryForXMLData(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
