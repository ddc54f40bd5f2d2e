#include "json/tokeniser.h"

#include "json/value.h"

namespace qm::json {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr qsizetype kMaxIntegerLength = 11;
constexpr qsizetype kMaxDoubleLength = 6;

} // namespace

QString Tokeniser::name(Kind kind) {
    switch (kind) {
    case Kind::ObjectStart:
        return QStringLiteral("start of object");
    case Kind::KeyValueSeparator:
        return QStringLiteral("key-value separator");
    case Kind::ObjectEnd:
        return QStringLiteral("end of object");
    case Kind::ArrayStart:
        return QStringLiteral("start of array");
    case Kind::ArrayEnd:
        return QStringLiteral("end of array");
    case Kind::Separator:
        return QStringLiteral("value separator");
    case Kind::String:
        return QStringLiteral("string");
    case Kind::Number:
        return QStringLiteral("number");
    case Kind::Bool:
        return QStringLiteral("boolean");
    case Kind::Null:
        return QStringLiteral("null");
    case Kind::Incomplete:
        return QStringLiteral("end of input");
    case Kind::Error:
        return QStringLiteral("error");
    }
    return {};
}

Tokeniser::Token Tokeniser::fail(const QString& message) {
    error_ = message;
    return {Kind::Error, {}};
}

Tokeniser::Token Tokeniser::next() {
    while (!atEnd(pos_) && (at(pos_) == ' ' || at(pos_) == '\t' || at(pos_) == '\n' || at(pos_) == '\r'))
        ++pos_;
    if (atEnd(pos_))
        return {Kind::Incomplete, {}};
    switch (at(pos_)) {
    case '{':
        ++pos_;
        return {Kind::ObjectStart, {}};
    case '}':
        ++pos_;
        return {Kind::ObjectEnd, {}};
    case '[':
        ++pos_;
        return {Kind::ArrayStart, {}};
    case ']':
        ++pos_;
        return {Kind::ArrayEnd, {}};
    case ':':
        ++pos_;
        return {Kind::KeyValueSeparator, {}};
    case ',':
        ++pos_;
        return {Kind::Separator, {}};
    case '"':
        return string();
    case 't':
        return keyword("true", true);
    case 'f':
        return keyword("false", false);
    case 'n':
        return keyword("null", QVariant::fromValue(nullptr));
    case '+':
        return fail(QStringLiteral("Leading + is illegal in numbers at offset %1").arg(pos_));
    default:
        if (at(pos_) == '-' || isDigit(at(pos_)))
            return number();
        return fail(QStringLiteral("Unrecognised leading character at offset %1").arg(pos_));
    }
}

Tokeniser::Token Tokeniser::keyword(const char* word, QVariant value) {
    const QByteArray expected(word);
    const QByteArray found = input_.mid(pos_, expected.size());
    if (found == expected) {
        pos_ += expected.size();
        return {expected == "null" ? Kind::Null : Kind::Bool, std::move(value)};
    }
    if (expected.startsWith(found))
        return {Kind::Incomplete, {}};
    return fail(QStringLiteral("Expected '%1' but found '%2'.")
                    .arg(QString::fromLatin1(expected), QString::fromUtf8(found)));
}

int Tokeniser::hexQuad() {
    if (atEnd(pos_ + 3))
        return -2;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = at(pos_ + i);
        const int digit = isDigit(c)               ? c - '0'
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    pos_ += 4;
    return value;
}

Tokeniser::Token Tokeniser::string() {
    const qsizetype start = pos_++;
    QString text;
    qsizetype run = pos_; // start of the bytes copied unchanged
    const auto flush = [&] { text += QString::fromUtf8(input_.constData() + run, pos_ - run); };
    for (;;) {
        if (atEnd(pos_))
            return {Kind::Incomplete, {}};
        const unsigned char c = static_cast<unsigned char>(at(pos_));
        if (c == '"') {
            flush();
            ++pos_;
            return {Kind::String, text};
        }
        if (c < 0x20)
            return fail(QString::asprintf("Unescaped control char 0x%02X", unsigned(c)));
        if (c != '\\') {
            ++pos_;
            continue;
        }
        flush();
        if (atEnd(++pos_))
            return {Kind::Incomplete, {}};
        const char escape = at(pos_++);
        switch (escape) {
        case '"':
            text += QLatin1Char('"');
            break;
        case '\\':
            text += QLatin1Char('\\');
            break;
        case '/':
            text += QLatin1Char('/');
            break;
        case 'b':
            text += QLatin1Char('\b');
            break;
        case 'f':
            text += QLatin1Char('\f');
            break;
        case 'n':
            text += QLatin1Char('\n');
            break;
        case 'r':
            text += QLatin1Char('\r');
            break;
        case 't':
            text += QLatin1Char('\t');
            break;
        case 'u': {
            const int unit = hexQuad();
            if (unit == -2)
                return {Kind::Incomplete, {}};
            if (unit < 0)
                return fail(QStringLiteral("Missing hex quad"));
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                return fail(QStringLiteral("Invalid high character in surrogate pair"));
            text += QChar(unit);
            if (unit < 0xD800 || unit > 0xDBFF)
                break;
            if (atEnd(pos_ + 1))
                return {Kind::Incomplete, {}};
            if (at(pos_) != '\\' || at(pos_ + 1) != 'u')
                return fail(QStringLiteral("Missing low character in surrogate pair"));
            pos_ += 2;
            const int low = hexQuad();
            if (low == -2)
                return {Kind::Incomplete, {}};
            if (low < 0)
                return fail(QStringLiteral("Missing hex quad"));
            if (low < 0xDC00 || low > 0xDFFF)
                return fail(QStringLiteral("Invalid low surrogate char"));
            text += QChar(low);
            break;
        }
        default:
            return fail(QStringLiteral("Broken escape character at index %1 in token starting at offset %2")
                            .arg(pos_ - 1 - start)
                            .arg(start));
        }
        run = pos_;
    }
}

Tokeniser::Token Tokeniser::number() {
    const qsizetype start = pos_;
    bool isInteger = true;
    if (at(pos_) == '-') {
        if (atEnd(++pos_))
            return {Kind::Incomplete, {}};
        if (!isDigit(at(pos_)))
            return fail(QStringLiteral("No digits after initial minus"));
    }
    if (at(pos_) == '0' && !atEnd(pos_ + 1) && isDigit(at(pos_ + 1)))
        return fail(QStringLiteral("Leading zero is illegal in number at offset %1").arg(pos_));
    while (!atEnd(pos_) && isDigit(at(pos_)))
        ++pos_;
    if (!atEnd(pos_) && at(pos_) == '.') {
        isInteger = false;
        if (atEnd(++pos_))
            return {Kind::Incomplete, {}};
        if (!isDigit(at(pos_)))
            return fail(QStringLiteral("No digits after decimal point at offset %1").arg(pos_));
        while (!atEnd(pos_) && isDigit(at(pos_)))
            ++pos_;
    }
    if (!atEnd(pos_) && (at(pos_) == 'e' || at(pos_) == 'E')) {
        isInteger = false;
        if (!atEnd(++pos_) && (at(pos_) == '+' || at(pos_) == '-'))
            ++pos_;
        if (atEnd(pos_))
            return {Kind::Incomplete, {}};
        if (!isDigit(at(pos_)))
            return fail(QStringLiteral("No digits after exponent mark at offset %1").arg(pos_));
        while (!atEnd(pos_) && isDigit(at(pos_)))
            ++pos_;
    }
    // A document never ends in a number, and the digits may continue in more input.
    if (atEnd(pos_))
        return {Kind::Incomplete, {}};
    const QByteArray text = input_.mid(start, pos_ - start);
    if (isInteger && text.size() <= kMaxIntegerLength)
        return {Kind::Number, QVariant::fromValue<qint64>(text.toLongLong())};
    if (!isInteger && text.size() <= kMaxDoubleLength)
        return {Kind::Number, text.toDouble()};
    return {Kind::Number, QVariant::fromValue(Decimal{QString::fromLatin1(text)})};
}

} // namespace qm::json
