#pragma once

#include <QByteArray>
#include <QString>

namespace qm::platform {

// Bytes of Base64 text; characters outside the Base64 alphabet, non-ASCII ones included, are skipped.
QByteArray dataFromBase64String(const QString& text);
// Base64 of `data` with a "\r\n" after every 64 characters but the last line.
QString base64EncodedString(const QByteArray& data);

// Raw 16-byte MD5 and its 32 lower-case hex digits.
QByteArray md5Digest(const QByteArray& data);
QString md5HexDigest(const QByteArray& data);
// Raw 32-byte SHA-256 and its 64 lower-case hex digits.
QByteArray sha256Digest(const QByteArray& data);
QString sha256HexDigest(const QByteArray& data);

// `count` bytes from the system's cryptographic source; empty for 0 or less.
QByteArray randomDataWithBytes(int count);

} // namespace qm::platform
