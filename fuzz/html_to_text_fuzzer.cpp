#include "cli/html_to_text.h"

#include <cstdint>

// Any compose body gives the text of the message's plain alternative, in both modes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qm::platform::dom::Document;
    const Document document =
        Document::parseHTML(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (document.isNull())
        return 0;
    (void)qm::cli::HtmlToText::convert(document.body(), qm::cli::HtmlToText::Mode::Rich);
    (void)qm::cli::HtmlToText::convert(document.body(), qm::cli::HtmlToText::Mode::Plain);
    return 0;
}
