#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

namespace qm::json {

// Receives the structure of a document as the stream parser reads it.
class StreamParserDelegate {
public:
    virtual ~StreamParserDelegate() = default;
    virtual void objectStart() = 0;
    virtual void objectEnd() = 0;
    virtual void arrayStart() = 0;
    virtual void arrayEnd() = 0;
    virtual void key(const QString& key) = 0;
    virtual void value(const QVariant& value) = 0;
};

// Checks the grammar and the nesting depth of one document and reports it as events. Stops as soon as the
// outermost object or array is complete; what follows it is not looked at.
class StreamParser {
public:
    enum class Status { Complete, WaitingForData, Error };

    StreamParser(StreamParserDelegate& delegate, unsigned maxDepth)
        : delegate_(delegate)
        , maxDepth_(maxDepth) {}

    Status parse(const QByteArray& input);
    QString error() const { return error_; }

private:
    enum class State {
        Start,
        Complete,
        Error,
        ObjectStart,
        ObjectGotKey,
        ObjectSeparator,
        ObjectGotValue,
        ObjectNeedKey,
        ArrayStart,
        ArrayGotValue,
        ArrayNeedValue,
    };
    static QString name(State state);

    bool fail(const QString& message);
    bool open(bool isObject);
    void close();
    void afterValue();

    StreamParserDelegate& delegate_;
    const unsigned maxDepth_;
    State state_ = State::Start;
    QList<bool> isObject_; // one entry per open container
    QString error_;
};

} // namespace qm::json
