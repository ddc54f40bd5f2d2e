#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace qm::json {

class StreamWriter;

// Writes an object or an array as JSON text; see value.h for the values it accepts. A value of a type with
// a registered QMetaType conversion to qm::json::Object is written as that object.
class Writer {
public:
    unsigned maxDepth() const { return maxDepth_; }
    void setMaxDepth(unsigned maxDepth) { maxDepth_ = maxDepth; }
    bool humanReadable() const { return humanReadable_; }
    // Each value on its own line, indented two spaces per level, and a blank after each key's colon.
    void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
    bool sortKeys() const { return sortKeys_; }
    // Object members in ascending key order instead of the container's own order.
    void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }
    // The message of the last failure.
    QString error() const { return error_; }

    // The text, or an Error in the codec's domain carrying the message.
    platform::Result<QByteArray> dataWithObject(const QVariant& value);
    platform::Result<QString> stringWithObject(const QVariant& value);

private:
    bool write(StreamWriter& stream, const QVariant& value);
    bool writeObject(StreamWriter& stream, QList<QPair<QVariant, QVariant>> members);
    bool writeNumber(StreamWriter& stream, const QVariant& value);
    bool fail(const QString& message);

    unsigned maxDepth_ = 512;
    bool humanReadable_ = false;
    bool sortKeys_ = false;
    QString error_;
};

} // namespace qm::json
