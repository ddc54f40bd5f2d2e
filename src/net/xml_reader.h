#pragma once

#include "platform/error.h"

#include <QVariantMap>
#include <optional>

namespace qm::net {

// XML text to nested dictionaries: an element is a map of its attributes, its text under "text", and its
// children by name (a list when a name repeats). One text buffer serves every element, so text between
// child elements goes to whichever element ends next.
class XMLReader {
public:
    // Nothing on a parse failure; `error` then receives the parser's error.
    static std::optional<QVariantMap> dictionaryForXMLData(const QByteArray& data,
                                                           platform::Error* error = nullptr);
    static std::optional<QVariantMap> dictionaryForXMLString(const QString& text,
                                                             platform::Error* error = nullptr);
};

} // namespace qm::net
