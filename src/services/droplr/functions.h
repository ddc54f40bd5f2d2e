#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The small formatting, digest and encoding functions the Droplr client shares.
namespace qm::droplr {

// Wall-clock milliseconds since 1970.
qint64 currentTimeMillis();

// 40 lower-case hex digits of the SHA-1 of the text's UTF-8 bytes (up to a NUL); hashPassword is sha1.
QString sha1(const QString& text);
QString md5(const QString& text);
inline QString hashPassword(const QString& clearPassword) {
    return sha1(clearPassword);
}
// The 20 raw bytes of HMAC-SHA1 with the key's bytes over the data's UTF-8 bytes.
QByteArray hmacSha1WithKey(const QString& data, const QString& key);

// Percent-encodes UTF-8 bytes, keeping only letters, digits and "-._~": every reserved character,
// the space included, is escaped, so a value never ends or splits a query.
QString urlEncode(const QString& text);
// Standard Base64, padded, no line breaks; a null string for empty input.
QString base64Encode(const QString& text);
QString base64EncodeData(const QByteArray& bytes);
// Standard Base64 skipping tab, line feed, form feed, carriage return and space; nothing for any other
// character outside the alphabet, or a pad after a single character of a quantum.
std::optional<QByteArray> base64DecodeAsData(const QString& text);
std::optional<QString> base64Decode(const QString& text);
// Digits in base 62 ("0-9A-Za-z"), most significant first; 0 gives "0".
QString base62Encode(quint64 value);

// "n/a" when negative, else "%.1f" with B, KB, MB or GB (powers of 1024).
QString prettySize(double bytes);
QString prettyTransferRate(double bytesPerSecond);
// "yyyy-MM-dd HH:mm:ss" in local time of the whole second; "n/a" when negative.
QString prettyDate(qint64 milliseconds);
QDateTime dateFromMilliseconds(qint64 milliseconds);

} // namespace qm::droplr
