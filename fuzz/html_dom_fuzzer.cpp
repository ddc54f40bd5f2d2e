#include "platform/html_dom.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A message body is whatever the sender's mail program wrote, and it passes through parse and write
// several times (hiding, restoring, inserting the box). No pass may lose or alter its text. (The markup
// itself may take more than one pass to settle: the parser builds odd trees from broken input, such as an
// html element inside another, which the serializer writes as they are.)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qm::platform::dom::Document;
    const QString html = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    // Control characters other than white space are not characters an HTML document may hold; the parser
    // passes some through in processing instructions and drops them on the next pass.
    for (const QChar c : html)
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r' && c != u'\f')
            return -1;
    const Document first = Document::parseHTML(html);
    if (first.isNull())
        return 0;
    const QString once = first.toHTML();
    const Document second = Document::parseHTML(once);
    const QString twice = second.isNull() ? QString() : second.toHTML();
    const Document third = Document::parseHTML(twice);
    const QString thrice = third.isNull() ? QString() : third.toHTML();
    if (second.isNull() || third.isNull() || second.stringValue() != first.stringValue() ||
        third.stringValue() != first.stringValue()) {
        std::fprintf(stderr, "written once:\n%s\nwritten twice:\n%s\nwritten three times:\n%s\n",
                     once.toUtf8().constData(), twice.toUtf8().constData(), thrice.toUtf8().constData());
        std::abort();
    }
    (void)Document::parseTidyHTML(html).stringValue();
    return 0;
}
