#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace qm::platform {

// Base64 text (RFC 4648 alphabet, "=" padding) of `length` bytes. With `separateLines`, "\r\n" follows
// every 64 characters (48 input bytes) except the last line.
QByteArray newBase64Encode(const char* bytes, std::size_t length, bool separateLines);

// Bytes of Base64 text; SIZE_MAX as `length` reads up to the terminating NUL. Characters outside the
// alphabet, "=" included, are skipped; a trailing group of 3 or 2 characters gives 2 or 1 bytes, of 1
// nothing.
QByteArray newBase64Decode(const char* text, std::size_t length = SIZE_MAX);

} // namespace qm::platform
