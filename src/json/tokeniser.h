#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace qm::json {

// Splits UTF-8 JSON text into tokens, decoding strings and numbers on the way.
class Tokeniser {
public:
    enum class Kind {
        ObjectStart,
        KeyValueSeparator,
        ObjectEnd,
        ArrayStart,
        ArrayEnd,
        Separator,
        String,
        Number,
        Bool,
        Null,
        Incomplete, // the input ends inside a token or before one
        Error,
    };

    struct Token {
        Kind kind = Kind::Incomplete;
        QVariant value; // for String, Number, Bool and Null
    };

    explicit Tokeniser(const QByteArray& input)
        : input_(input) {}

    Token next();
    QString error() const { return error_; }

    static QString name(Kind kind);

private:
    Token fail(const QString& message);
    Token keyword(const char* word, QVariant value);
    Token string();
    Token number();
    // Reads four hex digits at pos_; -1 when they are not there, -2 when the input ends first.
    int hexQuad();
    bool atEnd(qsizetype pos) const { return pos >= input_.size(); }
    char at(qsizetype pos) const { return input_.at(pos); }

    const QByteArray input_;
    qsizetype pos_ = 0;
    QString error_;
};

} // namespace qm::json
