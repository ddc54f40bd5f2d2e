#include "json/parser.h"

#include "json/stream_parser.h"
#include "json/value.h"

namespace qm::json {
namespace {

// Builds QVariant values from the stream parser's events.
class Builder : public StreamParserDelegate {
public:
    QVariant result;

    void objectStart() override { stack_.append({true, {}, {}, {}}); }
    void arrayStart() override { stack_.append({false, {}, {}, {}}); }
    void objectEnd() override { value(QVariant::fromValue(stack_.takeLast().object)); }
    void arrayEnd() override { value(stack_.takeLast().array); }
    void key(const QString& key) override { stack_.last().key = key; }
    void value(const QVariant& value) override {
        if (stack_.isEmpty())
            result = value;
        else if (stack_.last().isObject)
            stack_.last().object.insert(stack_.last().key, value);
        else
            stack_.last().array.append(value);
    }

private:
    struct Frame {
        bool isObject;
        Object object;
        QVariantList array;
        QString key;
    };
    QList<Frame> stack_;
};

} // namespace

Parser::Parser() {
    registerTypes();
}

platform::Result<QVariant> Parser::objectWithData(const QByteArray& data) {
    error_.clear();
    QVariant result;
    if (data.isNull()) {
        error_ = QStringLiteral("Input was 'nil'");
    } else {
        Builder builder;
        StreamParser stream(builder, maxDepth_);
        switch (stream.parse(data)) {
        case StreamParser::Status::Complete:
            result = builder.result;
            break;
        case StreamParser::Status::WaitingForData:
            error_ = QStringLiteral("Didn't find full object before EOF");
            break;
        case StreamParser::Status::Error:
            error_ = stream.error();
            break;
        }
    }
    if (!result.isValid())
        return makeError(error_);
    return result;
}

platform::Result<QVariant> Parser::objectWithString(const QString& text) {
    if (text.isNull())
        return objectWithData(QByteArray());
    const QByteArray utf8 = text.toUtf8();
    return objectWithData(utf8.isNull() ? QByteArray("") : utf8);
}

} // namespace qm::json
