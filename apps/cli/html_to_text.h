#pragma once

#include "platform/html_dom.h"

#include <QString>

namespace qm::cli {

// The text of a compose body, for the text/plain part of an outgoing message.
//
// Rich: laid out as a reader sees the HTML (white space collapsed, paragraphs apart, list items marked,
// quoted messages prefixed with "> ", link targets after their text). Plain: the body of a plain-text
// message, whose text nodes hold the text verbatim and whose lines end at <br> and block boundaries.
// Either way object elements, comments, scripts and styles give no text.
class HtmlToText {
public:
    enum class Mode { Rich, Plain };
    static QString convert(const platform::dom::Node& root, Mode mode);
};

} // namespace qm::cli
