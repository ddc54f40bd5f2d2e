#include "platform/base64.h"

#include <array>
#include <cstring>

namespace qm::platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBytesPerLine = 48;

constexpr std::array<signed char, 256> decodeTable() {
    std::array<signed char, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return table;
}

constexpr auto kDecode = decodeTable();

} // namespace

QByteArray newBase64Encode(const char* bytes, std::size_t length, bool separateLines) {
    QByteArray out;
    if (!bytes || length == 0)
        return out;
    const std::size_t lines = (length + kBytesPerLine - 1) / kBytesPerLine;
    out.reserve(static_cast<qsizetype>((length + 2) / 3 * 4 + (separateLines ? 2 * (lines - 1) : 0)));

    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < length; i += 3) {
        if (separateLines && i > 0 && i % kBytesPerLine == 0)
            out.append("\r\n", 2);
        const std::size_t left = length - i;
        const unsigned chunk = (unsigned(in[i]) << 16) | (left > 1 ? unsigned(in[i + 1]) << 8 : 0u) |
                               (left > 2 ? unsigned(in[i + 2]) : 0u);
        out.append(kAlphabet[(chunk >> 18) & 0x3F]);
        out.append(kAlphabet[(chunk >> 12) & 0x3F]);
        out.append(left > 1 ? kAlphabet[(chunk >> 6) & 0x3F] : '=');
        out.append(left > 2 ? kAlphabet[chunk & 0x3F] : '=');
    }
    return out;
}

QByteArray newBase64Decode(const char* text, std::size_t length) {
    QByteArray out;
    if (!text)
        return out;
    if (length == SIZE_MAX)
        length = std::strlen(text);
    out.reserve(static_cast<qsizetype>(length / 4 * 3 + 2));

    unsigned accumulator = 0;
    int count = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const int value = kDecode[static_cast<unsigned char>(text[i])];
        if (value < 0)
            continue;
        accumulator = (accumulator << 6) | unsigned(value);
        if (++count == 4) {
            out.append(char(accumulator >> 16));
            out.append(char(accumulator >> 8));
            out.append(char(accumulator));
            accumulator = 0;
            count = 0;
        }
    }
    // A lone trailing character holds fewer than 8 bits, so it yields no byte.
    if (count == 3) {
        out.append(char(accumulator >> 10));
        out.append(char(accumulator >> 2));
    } else if (count == 2) {
        out.append(char(accumulator >> 4));
    }
    return out;
}

} // namespace qm::platform
