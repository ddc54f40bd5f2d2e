#include "platform/data_additions.h"

#include "platform/base64.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace qm::platform {

QByteArray dataFromBase64String(const QString& text) {
    // Latin-1 keeps every ASCII character and turns the rest into bytes the decoder skips.
    const QByteArray ascii = text.toLatin1();
    return newBase64Decode(ascii.constData(), static_cast<std::size_t>(ascii.size()));
}

QString base64EncodedString(const QByteArray& data) {
    return QString::fromLatin1(
        newBase64Encode(data.constData(), static_cast<std::size_t>(data.size()), true));
}

QByteArray md5Digest(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

QString md5HexDigest(const QByteArray& data) {
    return QString::fromLatin1(md5Digest(data).toHex());
}

QByteArray sha256Digest(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QString sha256HexDigest(const QByteArray& data) {
    return QString::fromLatin1(sha256Digest(data).toHex());
}

QByteArray randomDataWithBytes(int count) {
    QByteArray out;
    if (count <= 0)
        return out;
    out.reserve(count);
    QRandomGenerator* source = QRandomGenerator::system();
    for (int i = 0; i < count; ++i)
        out.append(static_cast<char>(source->generate() & 0xFF));
    return out;
}

} // namespace qm::platform
