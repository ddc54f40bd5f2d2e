#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace qm::json {

// Reads one JSON document whose outermost value is an object or an array; see value.h for the mapping.
class Parser {
public:
    Parser();

    unsigned maxDepth() const { return maxDepth_; }
    void setMaxDepth(unsigned maxDepth) { maxDepth_ = maxDepth; }
    // The message of the last failure.
    QString error() const { return error_; }

    // An invalid QVariant on failure; `error`, when given, then receives the message in the codec's domain.
    QVariant objectWithData(const QByteArray& data, platform::Error* error = nullptr);
    QVariant objectWithString(const QString& text, platform::Error* error = nullptr);

private:
    unsigned maxDepth_ = 512;
    QString error_;
};

} // namespace qm::json
