#include "json/stream_writer.h"

namespace qm::json {

StreamWriter::StreamWriter(unsigned maxDepth, bool humanReadable)
    : maxDepth_(maxDepth)
    , humanReadable_(humanReadable) {
    data_.reserve(1024);
}

bool StreamWriter::fail(const QString& message) {
    error_ = message;
    return false;
}

void StreamWriter::newLine() {
    if (!humanReadable_)
        return;
    data_ += '\n';
    data_.append(levels_.size() * 2, ' ');
}

// Puts the separator and line break a value needs where it stands.
bool StreamWriter::beforeValue() {
    if (!error_.isEmpty())
        return false;
    if (complete_)
        return fail(QStringLiteral("Stream is closed"));
    if (levels_.isEmpty())
        return true;
    Level& level = levels_.last();
    if (level.isObject && level.afterKey) {
        level.afterKey = false;
        return true;
    }
    if (level.count++ > 0)
        data_ += ',';
    newLine();
    return true;
}

bool StreamWriter::open(char bracket) {
    if (!beforeValue())
        return false;
    if (unsigned(levels_.size()) >= maxDepth_)
        return fail(QStringLiteral("Nested too deep"));
    data_ += bracket;
    levels_.append({bracket == '{', 0, false});
    return true;
}

bool StreamWriter::close(char bracket) {
    if (!error_.isEmpty())
        return false;
    const Level level = levels_.takeLast();
    if (level.count > 0)
        newLine();
    data_ += bracket;
    complete_ = levels_.isEmpty();
    return true;
}

bool StreamWriter::writeKey(const QString& key) {
    if (!beforeValue())
        return false;
    appendString(key);
    data_ += humanReadable_ ? ": " : ":";
    levels_.last().afterKey = true;
    return true;
}

bool StreamWriter::writeString(const QString& text) {
    if (!beforeValue())
        return false;
    appendString(text);
    return true;
}

bool StreamWriter::writeLiteral(const QByteArray& text) {
    if (!beforeValue())
        return false;
    data_ += text;
    return true;
}

// Encoded strings are not cached: encoding is one pass over the bytes, while a process-wide cache would
// need a lock and grow without bound.
void StreamWriter::appendString(const QString& text) {
    static const char hex[] = "0123456789abcdef";
    data_ += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            data_ += "\\\"";
            break;
        case '\\':
            data_ += "\\\\";
            break;
        case '\b':
            data_ += "\\b";
            break;
        case '\t':
            data_ += "\\t";
            break;
        case '\n':
            data_ += "\\n";
            break;
        case '\f':
            data_ += "\\f";
            break;
        case '\r':
            data_ += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                data_ += "\\u00";
                data_ += hex[(c >> 4) & 0xf];
                data_ += hex[c & 0xf];
            } else {
                data_ += c;
            }
        }
    }
    data_ += '"';
}

} // namespace qm::json
