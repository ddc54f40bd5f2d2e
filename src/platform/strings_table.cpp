#include "platform/strings_table.h"

#include <QFile>
#include <QStringDecoder>

namespace qm::platform {
namespace {

std::optional<QString> decode(const QByteArray& data) {
    auto byte = [&](qsizetype i) { return uchar(data[i]); };
    auto encoding = QStringConverter::Utf8;
    if (data.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        encoding = QStringConverter::Utf16LE;
    } else if (data.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
        encoding = QStringConverter::Utf16BE;
    } else if (!data.startsWith("\xEF\xBB\xBF")) {
        // Tables saved without a byte order mark: mostly-ASCII UTF-16 shows as bytes alternating with NUL.
        const qsizetype pairs = std::min<qsizetype>(data.size() / 2, 512);
        qsizetype little = 0, big = 0;
        for (qsizetype i = 0; i < pairs; ++i) {
            const bool first = byte(2 * i) != 0, second = byte(2 * i + 1) != 0;
            little += first && !second;
            big += !first && second;
        }
        if (pairs > 0 && little * 2 > pairs)
            encoding = QStringConverter::Utf16LE;
        else if (pairs > 0 && big * 2 > pairs)
            encoding = QStringConverter::Utf16BE;
    }
    QStringDecoder decoder(encoding); // drops a leading byte order mark
    QString text = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

class Parser {
public:
    explicit Parser(QString text)
        : s_(std::move(text)) {}

    bool run(QHash<QString, QString>& entries) {
        for (;;) {
            if (!skipSpace())
                return false;
            if (pos_ >= s_.size())
                return true;
            QString key, value;
            if (!token(key) || !skipSpace())
                return false;
            if (at(u';')) {
                ++pos_;
                entries.insert(key, key);
                continue;
            }
            if (!at(u'='))
                return fail(pos_, QStringLiteral("expected “=” or “;” after “%1”").arg(key));
            ++pos_;
            if (!skipSpace() || !token(value))
                return false;
            const qsizetype valueEnd = pos_;
            if (!skipSpace())
                return false;
            if (!at(u';'))
                return fail(valueEnd, QStringLiteral("expected “;” after the value of “%1”").arg(key));
            ++pos_;
            entries.insert(key, value);
        }
    }

    QString error() const { return error_; }

private:
    bool at(char16_t c) const { return pos_ < s_.size() && s_[pos_] == c; }

    bool fail(qsizetype where, const QString& what) {
        const qsizetype line = 1 + QStringView(s_).left(where).count(u'\n');
        error_ = QStringLiteral("line %1: %2").arg(line).arg(what);
        return false;
    }

    bool skipSpace() {
        while (pos_ < s_.size()) {
            const QChar c = s_[pos_];
            const QChar next = pos_ + 1 < s_.size() ? s_[pos_ + 1] : QChar();
            if (c.isSpace()) {
                ++pos_;
            } else if (c == u'/' && next == u'*') {
                const qsizetype end = s_.indexOf(QStringLiteral("*/"), pos_ + 2);
                if (end < 0)
                    return fail(pos_, QStringLiteral("unterminated comment"));
                pos_ = end + 2;
            } else if (c == u'/' && next == u'/') {
                const qsizetype end = s_.indexOf(u'\n', pos_);
                pos_ = end < 0 ? s_.size() : end + 1;
            } else {
                break;
            }
        }
        return true;
    }

    static bool isUnquoted(QChar c) { return c.isLetterOrNumber() || QStringView(u"_.-/$:").contains(c); }

    bool token(QString& out) {
        if (pos_ >= s_.size())
            return fail(pos_, QStringLiteral("unexpected end of file"));
        if (at(u'"'))
            return quoted(out);
        const qsizetype start = pos_;
        while (pos_ < s_.size() && isUnquoted(s_[pos_]))
            ++pos_;
        if (pos_ == start)
            return fail(pos_, QStringLiteral("unexpected “%1”").arg(s_[pos_]));
        out = s_.mid(start, pos_ - start);
        return true;
    }

    bool quoted(QString& out) {
        const qsizetype start = pos_++;
        for (;;) {
            if (pos_ >= s_.size())
                return fail(start, QStringLiteral("unterminated string"));
            const QChar c = s_[pos_++];
            if (c == u'"')
                return true;
            if (c != u'\\') {
                out.append(c);
                continue;
            }
            if (pos_ >= s_.size())
                return fail(start, QStringLiteral("unterminated string"));
            const QChar e = s_[pos_++];
            switch (e.unicode()) {
            case u'n':
                out.append(u'\n');
                break;
            case u't':
                out.append(u'\t');
                break;
            case u'r':
                out.append(u'\r');
                break;
            case u'a':
                out.append(u'\a');
                break;
            case u'b':
                out.append(u'\b');
                break;
            case u'f':
                out.append(u'\f');
                break;
            case u'v':
                out.append(u'\v');
                break;
            case u'U':
            case u'u': {
                // One UTF-16 unit; the two halves of a surrogate pair come as two escapes and join here.
                char16_t unit = 0;
                int digits = 0;
                for (; digits < 4 && pos_ < s_.size(); ++digits, ++pos_) {
                    const int d = QStringView(u"0123456789abcdef").indexOf(s_[pos_].toLower());
                    if (d < 0)
                        break;
                    unit = char16_t(unit * 16 + d);
                }
                if (digits == 0)
                    return fail(pos_, QStringLiteral("“\\%1” without hex digits").arg(e));
                out.append(QChar(unit));
                break;
            }
            default:
                if (e >= u'0' && e <= u'7') {
                    char16_t code = e.unicode() - u'0';
                    for (int i = 0; i < 2 && pos_ < s_.size() && s_[pos_] >= u'0' && s_[pos_] <= u'7'; ++i)
                        code = char16_t(code * 8 + (s_[pos_++].unicode() - u'0'));
                    out.append(QChar(code));
                } else {
                    out.append(e); // \" \\ \' and unknown escapes stand for the character itself
                }
            }
        }
    }

    QString s_;
    qsizetype pos_ = 0;
    QString error_;
};

} // namespace

std::optional<StringsTable> StringsTable::parse(const QByteArray& data, QString* error) {
    const auto text = decode(data);
    if (!text) {
        if (error)
            *error = QStringLiteral("line 1: not valid UTF-8 or UTF-16 text");
        return std::nullopt;
    }
    Parser parser(*text);
    StringsTable table;
    if (!parser.run(table.entries_)) {
        if (error)
            *error = parser.error();
        return std::nullopt;
    }
    return table;
}

std::optional<StringsTable> StringsTable::read(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    QString why;
    auto table = parse(file.readAll(), &why);
    if (!table && error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return table;
}

QString StringsTable::value(const QString& key) const {
    return entries_.value(key);
}

bool StringsTable::contains(const QString& key) const {
    return entries_.contains(key);
}

qsizetype StringsTable::size() const {
    return entries_.size();
}

const QHash<QString, QString>& StringsTable::entries() const {
    return entries_;
}

} // namespace qm::platform
