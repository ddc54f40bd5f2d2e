#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QVariantMap>

namespace qm::net {

// XML text to nested dictionaries: an element is a map of its attributes, its text under "text", and its
// children by name (a list when a name repeats). One text buffer serves every element, so text between
// child elements goes to whichever element ends next.
class XMLReader {
public:
    // The parser's error on a parse failure.
    static platform::Result<QVariantMap> dictionaryForXMLData(const QByteArray& data);
    static platform::Result<QVariantMap> dictionaryForXMLString(const QString& text);
};

} // namespace qm::net
