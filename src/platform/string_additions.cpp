#include "platform/string_additions.h"

#include "platform/data_additions.h"

#include <QCryptographicHash>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace qm::platform {

bool containsString(const QString& text, const QString& part, Qt::CaseSensitivity cs) {
    // An empty part is found nowhere, as with a range search that yields no match.
    return !part.isEmpty() && text.contains(part, cs);
}

bool containsWordsInArray(const QString& text, const QStringList& words, Qt::CaseSensitivity cs) {
    return !firstContainingWordFromArray(text, words, cs).isNull();
}

QString firstContainingWordFromArray(const QString& text, const QStringList& words, Qt::CaseSensitivity cs) {
    for (const QString& word : words)
        if (containsString(text, word, cs))
            return word;
    return {};
}

namespace {

bool hasNonZeroDigit(QStringView digits) {
    return std::any_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'1' && c <= u'9'; });
}

// Rounds on the shortest decimal form rather than the binary value, so 1.135 becomes 1.14 (half-even on
// the digits the user would see), the way a number formatter treats doubles.
QString roundToTwoFractionDigits(double value) {
    QString text = QString::number(value, 'f', QLocale::FloatingPointShortest);
    const bool negative = text.startsWith(u'-');
    if (negative)
        text.remove(0, 1);
    const qsizetype dot = text.indexOf(u'.');
    QString integer = dot < 0 ? text : text.left(dot);
    QString fraction = dot < 0 ? QString() : text.mid(dot + 1);

    if (fraction.size() > 2) {
        const QChar decider = fraction.at(2);
        const bool restNonZero = hasNonZeroDigit(QStringView(fraction).mid(3));
        QString kept = integer + fraction.left(2);
        const bool lastOdd = kept.back().digitValue() % 2 == 1;
        if (decider > u'5' || (decider == u'5' && (restNonZero || lastOdd))) {
            qsizetype i = kept.size() - 1;
            for (; i >= 0 && kept.at(i) == u'9'; --i)
                kept[i] = u'0';
            if (i < 0)
                kept.prepend(u'1');
            else
                kept[i] = QChar(kept.at(i).unicode() + 1);
        }
        integer = kept.left(kept.size() - 2);
        fraction = kept.right(2);
    }
    while (fraction.endsWith(u'0'))
        fraction.chop(1);

    QString result = fraction.isEmpty() ? integer : integer + u'.' + fraction;
    const bool zero = !hasNonZeroDigit(result);
    return negative && !zero ? u'-' + result : result;
}

QString formatQuotient(double value, bool localized) {
    if (!std::isfinite(value))
        return (localized ? QLocale() : QLocale::c()).toString(value);
    const QString plain = roundToTwoFractionDigits(value);
    if (!localized)
        return plain;
    const qsizetype dot = plain.indexOf(u'.');
    const int fractionDigits = dot < 0 ? 0 : int(plain.size() - dot - 1);
    // The rounded text has at most 2 fraction digits, so printing it back with that many is exact.
    return QLocale().toString(plain.toDouble(), 'f', fractionDigits);
}

} // namespace

QString stringFromBytes(double bytes, int flags) {
    return stringFromBytes(bytes, flags, leopardOrGreater());
}

QString stringFromBytes(double bytes, int flags, bool leopardOrGreater) {
    static constexpr char kPrefixes[] = {'k', 'M', 'G', 'T', 'P', 'E', 'Z', 'Y'};
    const bool binary =
        (flags & SizeTextBase1024) || ((flags & SizeTextBase1024BeforeLeopard) && !leopardOrGreater);
    const double base = binary ? 1024.0 : 1000.0;

    int divisions = 0;
    while (bytes >= base && divisions < 8) {
        bytes /= base;
        ++divisions;
    }
    const QString number = formatQuotient(bytes, flags & SizeTextLocalized);
    return divisions == 0 ? number + QStringLiteral(" B")
                          : number + u' ' + QLatin1Char(kPrefixes[divisions - 1]) + u'B';
}

bool leopardOrGreater() {
    return true;
}

QString sha1Digest(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QString stringByEncodingBase64(const QString& text, QStringConverter::Encoding encoding) {
    // Qt's Latin-1 encoder substitutes "?" without flagging it, so that range is checked here.
    if (encoding == QStringConverter::Latin1 &&
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
        return {};
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return {};
    return base64EncodedString(bytes);
}

QString stringByDecodingBase64(const QString& base64, QStringConverter::Encoding encoding) {
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(dataFromBase64String(base64));
    if (decoder.hasError())
        return {};
    // Keeps an empty result distinguishable from the null that marks failure.
    return text.isNull() ? QStringLiteral("") : text;
}

namespace {

int upperHexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The offending character of a message, whole even when it spans several UTF-8 bytes.
QString characterAt(const QByteArray& bytes, qsizetype index) {
    const QString rest = QString::fromUtf8(bytes.mid(index, 4));
    return rest.left(rest.at(0).isHighSurrogate() ? 2 : 1);
}

} // namespace

Result<QString> stringWithQuotedPrintableString(const QString& text, QStringConverter::Encoding encoding) {
    QByteArray input = text.toUtf8();
    // The text is read as a C string, so a NUL ends it.
    if (const qsizetype nul = input.indexOf('\0'); nul >= 0)
        input.truncate(nul);
    const QString shown = QString::fromUtf8(input);

    auto fail = [](StringErrorCode code, const QString& message) -> Result<QString> {
        return Error(QString::fromLatin1(kStringErrorDomain), code, message);
    };
    auto prematureEnd = [&] {
        return fail(QuotedPrintablePrematureEnd,
                    QStringLiteral("Premature end in quoted printable string: %1").arg(shown));
    };

    QByteArray bytes;
    bytes.reserve(input.size());
    for (qsizetype i = 0; i < input.size(); ++i) {
        const char c = input.at(i);
        if (c != '=') {
            bytes.append(c);
            continue;
        }
        if (i + 1 >= input.size())
            return prematureEnd();
        const char first = input.at(i + 1);
        // Only the one break character goes, so the LF of a CRLF soft break stays in the text.
        if (first == '\r' || first == '\n') {
            ++i;
            continue;
        }
        const int high = upperHexValue(first);
        if (high < 0)
            return fail(QuotedPrintableInvalidCharacter,
                        QStringLiteral("Invalid character '%1' in quoted printable string: %2")
                            .arg(characterAt(input, i + 1), shown));
        if (i + 2 >= input.size())
            return prematureEnd();
        const int low = upperHexValue(input.at(i + 2));
        if (low < 0)
            return fail(QuotedPrintableBadEncodedCharacter, QStringLiteral("bad encoded character"));
        bytes.append(static_cast<char>(high * 16 + low));
        i += 2;
    }

    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    if (!utf8.hasError())
        return decoded;
    QStringDecoder fallback(encoding, QStringConverter::Flag::Stateless);
    return QString(fallback.decode(bytes));
}

} // namespace qm::platform
