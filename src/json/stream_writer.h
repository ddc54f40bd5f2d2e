#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace qm::json {

// Writes one JSON document from events, placing separators and (when human readable) line breaks and
// indentation. Each call returns false after a failure, whose message error() gives.
class StreamWriter {
public:
    StreamWriter(unsigned maxDepth, bool humanReadable);

    bool writeObjectOpen() { return open('{'); }
    bool writeObjectClose() { return close('}'); }
    bool writeArrayOpen() { return open('['); }
    bool writeArrayClose() { return close(']'); }
    bool writeKey(const QString& key);
    bool writeString(const QString& text);
    // Text already in JSON form: numbers, true, false, null.
    bool writeLiteral(const QByteArray& text);

    QByteArray data() const { return data_; }
    QString error() const { return error_; }

private:
    struct Level {
        bool isObject;
        int count = 0;
        bool afterKey = false;
    };

    bool beforeValue();
    bool open(char bracket);
    bool close(char bracket);
    void newLine();
    void appendString(const QString& text);
    bool fail(const QString& message);

    const unsigned maxDepth_;
    const bool humanReadable_;
    QList<Level> levels_;
    bool complete_ = false;
    QByteArray data_;
    QString error_;
};

} // namespace qm::json
