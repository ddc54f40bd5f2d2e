#include "services/droplr/functions.h"

#include "platform/base64.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QUrl>
#include <cstring>
#include <sys/time.h>

namespace qm::droplr {

namespace {

constexpr char kBase62Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

QByteArray untilNul(const QString& text) {
    QByteArray bytes = text.toUtf8();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

QString scaled(double value, const char* suffix) {
    if (value < 0)
        return QStringLiteral("n/a");
    const char* unit = "B";
    if (value >= 1073741824.0) {
        value /= 1073741824.0;
        unit = "GB";
    } else if (value >= 1048576.0) {
        value /= 1048576.0;
        unit = "MB";
    } else if (value >= 1024.0) {
        value /= 1024.0;
        unit = "KB";
    }
    return QString::asprintf("%.1f%s%s", value, unit, suffix);
}

} // namespace

qint64 currentTimeMillis() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

QString sha1(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(untilNul(text), QCryptographicHash::Sha1).toHex());
}

QString md5(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(untilNul(text), QCryptographicHash::Md5).toHex());
}

QByteArray hmacSha1WithKey(const QString& data, const QString& key) {
    return QMessageAuthenticationCode::hash(data.toUtf8(), key.toLatin1(), QCryptographicHash::Sha1);
}

QString urlEncode(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString base64Encode(const QString& text) {
    return base64EncodeData(text.toUtf8());
}

QString base64EncodeData(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {};
    return QString::fromLatin1(
        platform::newBase64Encode(bytes.constData(), static_cast<std::size_t>(bytes.size()), false));
}

std::optional<QByteArray> base64DecodeAsData(const QString& text) {
    QByteArray out;
    quint32 bits = 0;
    int count = 0; // characters of the current quantum
    bool padded = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\t' || u == '\n' || u == '\f' || u == '\r' || u == ' ')
            continue;
        if (u == '=') {
            if (count == 1)
                return std::nullopt;
            padded = true;
            continue;
        }
        const char* found = u < 128 ? std::strchr(kBase64Alphabet, static_cast<char>(u)) : nullptr;
        if (!found || u == 0 || padded)
            return std::nullopt;
        bits = (bits << 6) | static_cast<quint32>(found - kBase64Alphabet);
        if (++count == 4) {
            out.append(static_cast<char>((bits >> 16) & 0xff));
            out.append(static_cast<char>((bits >> 8) & 0xff));
            out.append(static_cast<char>(bits & 0xff));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1)
        return std::nullopt;
    if (count == 2)
        out.append(static_cast<char>((bits >> 4) & 0xff));
    else if (count == 3) {
        out.append(static_cast<char>((bits >> 10) & 0xff));
        out.append(static_cast<char>((bits >> 2) & 0xff));
    }
    return out;
}

std::optional<QString> base64Decode(const QString& text) {
    const std::optional<QByteArray> bytes = base64DecodeAsData(text);
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

QString base62Encode(quint64 value) {
    QString digits;
    do {
        digits.prepend(QLatin1Char(kBase62Alphabet[value % 62]));
        value /= 62;
    } while (value > 0);
    return digits;
}

QString prettySize(double bytes) {
    return scaled(bytes, "");
}

QString prettyTransferRate(double bytesPerSecond) {
    return scaled(bytesPerSecond, "/s");
}

QDateTime dateFromMilliseconds(qint64 milliseconds) {
    return QDateTime::fromSecsSinceEpoch(milliseconds / 1000);
}

QString prettyDate(qint64 milliseconds) {
    if (milliseconds < 0)
        return QStringLiteral("n/a");
    return dateFromMilliseconds(milliseconds).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace qm::droplr
