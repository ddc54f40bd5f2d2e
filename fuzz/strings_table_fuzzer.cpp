#include "platform/strings_table.h"

#include <cstdint>

// A translation table is a file anyone can edit: any bytes give a table or a syntax error.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto table =
        qm::platform::StringsTable::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (table)
        for (auto it = table->entries().cbegin(); it != table->entries().cend(); ++it)
            (void)table->value(it.key());
    return 0;
}
