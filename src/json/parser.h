#pragma once

#include "platform/error.h"
#include "platform/result.h"

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

    // The document's value, or an Error in the codec's domain carrying the message.
    platform::Result<QVariant> objectWithData(const QByteArray& data);
    platform::Result<QVariant> objectWithString(const QString& text);

private:
    unsigned maxDepth_ = 512;
    QString error_;
};

} // namespace qm::json
