#include "json/stream_parser.h"

#include "json/tokeniser.h"

namespace qm::json {

using Kind = Tokeniser::Kind;

QString StreamParser::name(State state) {
    switch (state) {
    case State::Start:
        return QStringLiteral("before outer-most array or object");
    case State::Complete:
        return QStringLiteral("after outer-most array or object");
    case State::Error:
        return QStringLiteral("in error");
    case State::ObjectStart:
        return QStringLiteral("at beginning of object");
    case State::ObjectGotKey:
        return QStringLiteral("after object key");
    case State::ObjectSeparator:
        return QStringLiteral("as object value");
    case State::ObjectGotValue:
        return QStringLiteral("after object value");
    case State::ObjectNeedKey:
        return QStringLiteral("in place of object key");
    case State::ArrayStart:
        return QStringLiteral("at array start");
    case State::ArrayGotValue:
        return QStringLiteral("after array value");
    case State::ArrayNeedValue:
        return QStringLiteral("as array value");
    }
    return {};
}

bool StreamParser::fail(const QString& message) {
    error_ = message;
    state_ = State::Error;
    return false;
}

bool StreamParser::open(bool isObject) {
    if (unsigned(isObject_.size()) >= maxDepth_)
        return fail(QStringLiteral("Parser exceeded max depth of %1").arg(maxDepth_));
    isObject_.append(isObject);
    state_ = isObject ? State::ObjectStart : State::ArrayStart;
    isObject ? delegate_.objectStart() : delegate_.arrayStart();
    return true;
}

void StreamParser::close() {
    isObject_.takeLast() ? delegate_.objectEnd() : delegate_.arrayEnd();
    afterValue();
}

void StreamParser::afterValue() {
    if (isObject_.isEmpty())
        state_ = State::Complete;
    else
        state_ = isObject_.last() ? State::ObjectGotValue : State::ArrayGotValue;
}

StreamParser::Status StreamParser::parse(const QByteArray& input) {
    Tokeniser tokeniser(input);
    while (state_ != State::Complete && state_ != State::Error) {
        const Tokeniser::Token token = tokeniser.next();
        const bool asValue = state_ == State::ObjectSeparator || state_ == State::ArrayStart ||
                             state_ == State::ArrayNeedValue;
        const bool asKey = state_ == State::ObjectStart || state_ == State::ObjectNeedKey;
        bool expected = false;
        switch (token.kind) {
        case Kind::Incomplete:
            return Status::WaitingForData;
        case Kind::Error:
            fail(tokeniser.error());
            continue;
        case Kind::ObjectStart:
        case Kind::ArrayStart:
            expected = asValue || state_ == State::Start;
            break;
        case Kind::ObjectEnd:
            expected = state_ == State::ObjectStart || state_ == State::ObjectGotValue;
            break;
        case Kind::ArrayEnd:
            expected = state_ == State::ArrayStart || state_ == State::ArrayGotValue;
            break;
        case Kind::KeyValueSeparator:
            expected = state_ == State::ObjectGotKey;
            break;
        case Kind::Separator:
            expected = state_ == State::ObjectGotValue || state_ == State::ArrayGotValue;
            break;
        case Kind::String:
            expected = asValue || asKey;
            break;
        case Kind::Number:
        case Kind::Bool:
        case Kind::Null:
            expected = asValue;
            break;
        }
        if (!expected) {
            fail(QStringLiteral("Token '%1' not expected %2").arg(Tokeniser::name(token.kind), name(state_)));
            continue;
        }
        switch (token.kind) {
        case Kind::ObjectStart:
            open(true);
            break;
        case Kind::ArrayStart:
            open(false);
            break;
        case Kind::ObjectEnd:
        case Kind::ArrayEnd:
            close();
            break;
        case Kind::KeyValueSeparator:
            state_ = State::ObjectSeparator;
            break;
        case Kind::Separator:
            state_ = state_ == State::ObjectGotValue ? State::ObjectNeedKey : State::ArrayNeedValue;
            break;
        default:
            if (asKey) {
                delegate_.key(token.value.toString());
                state_ = State::ObjectGotKey;
            } else {
                delegate_.value(token.value);
                afterValue();
            }
        }
    }
    return state_ == State::Complete ? Status::Complete : Status::Error;
}

} // namespace qm::json
