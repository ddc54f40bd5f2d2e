#include "cli/html_to_text.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

using qm::cli::HtmlToText;
namespace dom = platform::dom;

QString rich(const QString& bodyHTML) {
    const dom::Document document = dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(bodyHTML));
    return HtmlToText::convert(document.body(), HtmlToText::Mode::Rich);
}

QString plain(const QString& bodyHTML) {
    const dom::Document document = dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(bodyHTML));
    return HtmlToText::convert(document.body(), HtmlToText::Mode::Plain);
}

TEST(HtmlToTextTest, ParagraphsDivsAndBreaks) {
    EXPECT_EQ(rich(QStringLiteral("<p>One\n  two</p><p>Three</p><div>Four</div><div>Five<br>Six</div>")),
              QStringLiteral("One two\n\nThree\n\nFour\nFive\nSix\n"));
    EXPECT_EQ(rich(QStringLiteral("<div>Hi,</div><div><br></div><div>text</div>")), QStringLiteral("Hi,\n\ntext\n"));
}

TEST(HtmlToTextTest, QuotesListsLinksAndImages) {
    EXPECT_EQ(rich(QStringLiteral("<div>She wrote:</div><blockquote type=\"cite\"><div>a</div><blockquote>b</blockquote></blockquote>after")),
              QStringLiteral("She wrote:\n> a\n>> b\nafter\n"));
    EXPECT_EQ(rich(QStringLiteral("<ul><li>one</li><li>two<ol><li>x</li><li>y</li></ol></li></ul>")),
              QStringLiteral("* one\n* two\n  1. x\n  2. y\n"));
    EXPECT_EQ(rich(QStringLiteral("See <a href=\"https://example.org/a\">the file</a> or <a href=\"https://example.org/b\">https://example.org/b</a>"
                                  " or <a href=\"mailto:ada@example.com\">ada@example.com</a>.")),
              QStringLiteral("See the file <https://example.org/a> or https://example.org/b or ada@example.com.\n"));
    EXPECT_EQ(rich(QStringLiteral("<img src=\"cid:x\" alt=\"Logo\"> text&nbsp;&nbsp;here")), QStringLiteral("Logo text  here\n"));
}

TEST(HtmlToTextTest, ObjectsCommentsStylesAndScriptsGiveNoText) {
    EXPECT_EQ(rich(QStringLiteral("<style>p{}</style><p>a<object data=\"cid:1\">fallback</object>b</p>"
                                  "<!--<object data=\"cid:2\"></object>--><script>x()</script>")),
              QStringLiteral("ab\n"));
}

TEST(HtmlToTextTest, PreformattedTextKeepsItsSpaces) {
    EXPECT_EQ(rich(QStringLiteral("<p>x</p><pre>a   b\n  c</pre>")), QStringLiteral("x\n\na   b\n  c\n"));
}

TEST(HtmlToTextTest, PlainModeGivesTheTextBack) {
    EXPECT_EQ(plain(QStringLiteral("Hello,<br><br>  indented&nbsp;text<br>line<br>")),
              QStringLiteral("Hello,\n\n  indented text\nline\n"));
    // The quoted-message wrapper stands for the line breaks around it.
    EXPECT_EQ(plain(QStringLiteral("before<br><div class=\"AppleOriginalContents\">On x, y wrote:<br>&gt; q</div>after")),
              QStringLiteral("before\nOn x, y wrote:\n> q\nafter"));
    // The download box of a plain-text message.
    EXPECT_EQ(plain(QStringLiteral("text<br><div id=\"QuillmoorAttachmentInfo\"><br><br>Files<br>====<br>&nbsp;&nbsp;- a.pdf (1 KB): https://x/a</div>")),
              QStringLiteral("text\n\n\nFiles\n====\n  - a.pdf (1 KB): https://x/a\n"));
}

} // namespace
} // namespace qm::test::cli
