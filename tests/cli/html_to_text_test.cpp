#include "cli/html_to_text.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

using qm::cli::HtmlToText;
using Mode = HtmlToText::Mode;

QString convert(const QString& bodyHTML, Mode mode) {
    const auto document =
        platform::dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(bodyHTML));
    return HtmlToText::convert(document.body(), mode);
}

TEST(HtmlToTextTest, RichAndPlainMarkupGiveTheTextAReaderExpects) {
    const struct {
        Mode mode;
        const char* html;
        const char* text;
    } cases[] = {
        {Mode::Rich, "<p>One\n  two</p><p>Three</p><div>Four</div><div>Five<br>Six</div>",
         "One two\n\nThree\n\nFour\nFive\nSix\n"},
        {Mode::Rich, "<div>Hi,</div><div><br></div><div>text</div>", "Hi,\n\ntext\n"},
        {Mode::Rich,
         "<div>She wrote:</div><blockquote "
         "type=\"cite\"><div>a</div><blockquote>b</blockquote></blockquote>after",
         "She wrote:\n> a\n>> b\nafter\n"},
        {Mode::Rich, "<ul><li>one</li><li>two<ol><li>x</li><li>y</li></ol></li></ul>",
         "* one\n* two\n  1. x\n  2. y\n"},
        {Mode::Rich,
         "See <a href=\"https://example.org/a\">the file</a> or <a "
         "href=\"https://example.org/b\">https://example.org/b</a>"
         " or <a href=\"mailto:ada@example.com\">ada@example.com</a>.",
         "See the file <https://example.org/a> or https://example.org/b or ada@example.com.\n"},
        {Mode::Rich, "<img src=\"cid:x\" alt=\"Logo\"> text&nbsp;&nbsp;here", "Logo text  here\n"},
        // Objects, comments, styles and scripts give no text.
        {Mode::Rich,
         "<style>p{}</style><p>a<object data=\"cid:1\">fallback</object>b</p><!--<object "
         "data=\"cid:2\"></object>-->"
         "<script>x()</script>",
         "ab\n"},
        {Mode::Rich, "<p>x</p><pre>a   b\n  c</pre>", "x\n\na   b\n  c\n"},
        // Mail programs break long links with <wbr>; an embedded object gives no text, what follows it does.
        {Mode::Rich, "See https://example.org/a/very/long/<wbr>path for the<embed src=\"x\"> plan.",
         "See https://example.org/a/very/long/path for the plan.\n"},
        {Mode::Plain, "a<wbr>b<embed>c", "abc"},
        {Mode::Plain, "Hello,<br><br>  indented&nbsp;text<br>line<br>", "Hello,\n\n  indented text\nline\n"},
        // The quoted-message wrapper stands for the line breaks around it.
        {Mode::Plain, "before<br><div class=\"AppleOriginalContents\">On x, y wrote:<br>&gt; q</div>after",
         "before\nOn x, y wrote:\n> q\nafter"},
        // The download box of a plain-text message.
        {Mode::Plain,
         "text<br><div id=\"QuillmoorAttachmentInfo\"><br><br>Files<br>====<br>&nbsp;&nbsp;- a.pdf (1 KB): "
         "https://x/a</div>",
         "text\n\n\nFiles\n====\n  - a.pdf (1 KB): https://x/a\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convert(QString::fromUtf8(c.html), c.mode), QString::fromUtf8(c.text)) << c.html;
}

} // namespace
} // namespace qm::test::cli
