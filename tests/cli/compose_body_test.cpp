#include "cli/compose_body.h"

#include "platform/html_dom.h"

#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

namespace body = qm::cli::compose_body;
namespace dom = platform::dom;

QString wrapperText(const QString& content) {
    const dom::Document document =
        dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(content));
    const QList<dom::Node> wrappers =
        document.body().descendantsWithClassName(QStringLiteral("AppleOriginalContents"));
    return wrappers.size() == 1 ? wrappers.first().textContent()
                                : QStringLiteral("%1 wrappers").arg(wrappers.size());
}

TEST(ComposeBodyTest, TheCitationLineBeforeTheQuoteGoesWithIt) {
    EXPECT_EQ(wrapperText(body::wrapQuotedMessage(QStringLiteral(
                  "Yes.<br>On Monday, Ada wrote:<br><blockquote type=\"cite\">q</blockquote>after"))),
              QStringLiteral("On Monday, Ada wrote:q"));
    EXPECT_EQ(wrapperText(body::wrapQuotedMessage(QStringLiteral(
                  "<div>Le lundi, Ada a écrit&nbsp;:</div>\n<blockquote type=\"CITE\">q</blockquote>"))),
              QStringLiteral("Le lundi, Ada a écrit\u00a0:\nq"));
}

TEST(ComposeBodyTest, ALineThatIsNoCitationStaysOutside) {
    EXPECT_EQ(wrapperText(body::wrapQuotedMessage(
                  QStringLiteral("<p>See below.</p><blockquote type=\"cite\">q</blockquote>"))),
              QStringLiteral("q"));
}

TEST(ComposeBodyTest, OnlyTheFirstCiteQuoteAndOnlyOnce) {
    const QString once = body::wrapQuotedMessage(
        QStringLiteral("<blockquote>plain quote</blockquote><blockquote type=\"cite\">a</blockquote>"
                       "<blockquote type=\"cite\">b</blockquote>"));
    EXPECT_EQ(wrapperText(once), QStringLiteral("a"));
    EXPECT_EQ(body::wrapQuotedMessage(once), once);
    EXPECT_EQ(body::wrapQuotedMessage(QStringLiteral("<p>no quote</p>")), QStringLiteral("<p>no quote</p>"));
}

TEST(ComposeBodyTest, PlainTextKeepsItsCharactersAndWrapsTheFirstQuote) {
    bool wrap = true;
    const QString html =
        body::fromPlainText(QStringLiteral("a < b & c\n\nB wrote:\n\n> x\n> y\nz\n> later"), &wrap);
    EXPECT_FALSE(wrap);
    EXPECT_EQ(html, QStringLiteral("a &lt; b &amp; c<br><br><div class=\"AppleOriginalContents\">B "
                                   "wrote:<br><br>&gt; x<br>&gt; y</div>z<br>&gt; later"));
    bool again = false;
    EXPECT_EQ(body::fromPlainText(QStringLiteral("> x"), &again), QStringLiteral("&gt; x"));
    EXPECT_EQ(body::objectElement(QStringLiteral("a\"b"), QStringLiteral("image/png")),
              QStringLiteral("<object data=\"cid:a&quot;b\" type=\"image/png\"></object>"));
}

} // namespace
} // namespace qm::test::cli
