#include "platform/error.h"
#include "platform/html_dom.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace qm::platform::dom;
using qm::platform::InvalidArgument;

namespace {

// The attribute `name` of each node, or each node's name when `name` is empty.
QStringList attributeValues(const QList<Node>& nodes, const QString& name = {}) {
    QStringList values;
    for (const Node& node : nodes)
        values << (name.isEmpty() ? node.nodeName() : node.getAttribute(name));
    return values;
}

Node firstElement(const Document& document, const QString& tag) {
    const QList<Node> found = document.documentElement().getElementsByTagName(tag);
    return found.isEmpty() ? Node() : found.first();
}

} // namespace

TEST(DomParse, NonAsciiAndEntitiesSurviveASecondParse) {
    const Document first = Document::parseHTML(
        QString::fromUtf8("<p>Grüße, 日本語, emoji 😀 &amp; &lt;b&gt;bold?&lt;/b&gt; a&nbsp;b</p>"));
    const QString expectedText = QString::fromUtf8("Grüße, 日本語, emoji 😀 & <b>bold?</b> a\u00A0b");
    const Node paragraph = firstElement(first, "p");
    EXPECT_EQ(paragraph.textContent(), expectedText);
    const QString html = paragraph.outerHTML();
    EXPECT_TRUE(html.contains(QString::fromUtf8("日本語, emoji 😀"))) << html.toStdString();
    EXPECT_TRUE(html.contains("&lt;b&gt;")) << html.toStdString();

    const Document second = Document::parseHTML(html);
    EXPECT_EQ(firstElement(second, "p").textContent(), expectedText);
    EXPECT_TRUE(second.body().getElementsByTagName("b").isEmpty());
    EXPECT_EQ(firstElement(second, "p").outerHTML(), html);

    // A meta charset does not override the UTF-8 input.
    const Document meta = Document::parseHTML(QString::fromUtf8("<meta charset=\"iso-8859-1\"><p>Grüße</p>"));
    EXPECT_EQ(firstElement(meta, "p").textContent(), QString::fromUtf8("Grüße"));
}

TEST(DomParse, AttributeValuesWithQuotesAndMarkupRoundTrip) {
    const Document document = Document::parseHTML("<div></div>");
    Node div = document.body().firstChild();
    const QString tricky = QString::fromUtf8("say \"hi\" & 'bye' <b> Größe --> 日本");
    div.setAttribute("title", tricky);
    div.setAttribute("data-empty", "");

    Node holder = document.createElement("div");
    holder.setInnerHTML(div.outerHTML());
    const Node copy = holder.firstChild();
    ASSERT_EQ(copy.nodeName(), "div");
    EXPECT_EQ(copy.getAttribute("title"), tricky);
    EXPECT_EQ(copy.getAttribute("data-empty"), "");
    EXPECT_EQ(copy.outerHTML(), div.outerHTML());
}

TEST(DomParse, ImpliesHtmlHeadAndBodyLikeABrowserAndKeepsForeignMarkup) {
    // Outlook's empty <o:p> must not turn into a paragraph of its own.
    const QString outlook =
        "<p class=\"MsoNormal\">Hi<o:p></o:p></p><p class=\"MsoNormal\">There<o:p>x</o:p></p>";
    const struct {
        QString input, body;
    } cases[] = {
        {"Hello <b>there</b><div>x</div>", "Hello <b>there</b><div>x</div>"}, // libxml2 alone would add a <p>
        {"", ""},
        {"<head><title>t</title></head><body>a</body><p>late</p>", "a<p>late</p>"},
        {"<html><body>a</body></html>tail", "atail"},
        {outlook, outlook},
        {"<body><script>if (a < b && c) go();</script></body>", "<script>if (a < b && c) go();</script>"},
    };
    for (const auto& c : cases) {
        const Document document = Document::parseHTML(c.input);
        ASSERT_FALSE(document.body().isNull()) << c.input.toStdString();
        EXPECT_EQ(document.body().innerHTML(), c.body) << c.input.toStdString();
        EXPECT_EQ(attributeValues(document.documentElement().childNodes()), QStringList({"head", "body"}));
    }
    EXPECT_EQ(Document::parseHTML("").toHTML(), "<html><head></head><body></body></html>");
    EXPECT_EQ(firstElement(Document::parseHTML(cases[2].input), "title").parentNode().nodeName(), "head");
    const Document document = Document::parseHTML(outlook);
    EXPECT_EQ(document.body().getElementsByTagName("p").size(), 2);
    EXPECT_EQ(document.body().getElementsByTagName("o:p").size(), 2);
}

TEST(DomParse, ObjectElementsInDivParagraphAndBodyKeepDocumentOrder) {
    const Document document =
        Document::parseHTML("<body><object data=\"cid:A\" type=\"application/pdf\"></object>"
                            "<div>text<object data=\"cid:B\" width=\"32\"></object><p>p<object "
                            "data=\"cid:C\"></object>q</p></div>"
                            "<p><object data=\"cid:D\"></object></p></body>");
    const QStringList expected{"cid:A", "cid:B", "cid:C", "cid:D"};
    EXPECT_EQ(attributeValues(document.body().getElementsByTagName("object"), "data"), expected);
    EXPECT_EQ(attributeValues(document.nodesForXPath("//object"), "data"), expected);
    EXPECT_EQ(firstElement(document, "p").getElementsByTagName("object").size(), 1);
}

TEST(DomParse, LibxmlDiagnosticsNeverReachStandardError) {
    QTemporaryFile capture;
    ASSERT_TRUE(capture.open());
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    Document::parseHTML("<p><<b>soup</i></table>&bogus; <div a=b=c>");
    Document::parseTidyHTML("</x><y");
    QString error;
    Document::parseHTML("<p>").nodesForXPath("//p[", Node(), &error);
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(capture.readAll(), QByteArray());
    EXPECT_FALSE(error.isEmpty());
}

TEST(DomElement, AttributesDistinguishAbsentFromEmptyAndIgnoreCase) {
    const Document document = Document::parseHTML("<img alt=\"\" SRC=\"a.png\">");
    Node image = firstElement(document, "img");
    EXPECT_TRUE(image.getAttribute("title").isNull());
    EXPECT_FALSE(image.hasAttribute("title"));
    EXPECT_FALSE(image.getAttribute("alt").isNull());
    EXPECT_TRUE(image.getAttribute("alt").isEmpty());
    EXPECT_EQ(image.getAttribute("Src"), "a.png");

    image.setAttribute("SRC", "b.png");
    EXPECT_EQ(image.outerHTML(), "<img alt=\"\" src=\"b.png\">");
    image.removeAttribute("ALT");
    EXPECT_FALSE(image.hasAttribute("alt"));
    image.setIdName("pic");
    EXPECT_EQ(image.idName(), "pic");
    EXPECT_EQ(document.nodesForXPath("//img[@id='pic']").value(0), image);
}

TEST(DomElement, TagAndClassLookupsInDocumentOrderExcludingSelf) {
    const Document document = Document::parseHTML(
        "<div id=outer><p id=1><DIV id=inner><span id=2></span></DIV></p><div id=3></div></div>");
    const Node outer = firstElement(document, "div");
    EXPECT_EQ(attributeValues(outer.getElementsByTagName("DiV"), "id"), QStringList({"inner", "3"}));
    EXPECT_EQ(attributeValues(outer.getElementsByTagName("*"), "id"), QStringList({"1", "inner", "2", "3"}));
    EXPECT_TRUE(outer.getElementsByTagName("table").isEmpty());

    // Class names match whole tokens only, case-sensitively.
    const Document classes = Document::parseHTML(
        "<div class=\"AppleOriginalContents\" id=a></div><div class=\"xAppleOriginalContentsx\" id=b></div>"
        "<div class=\"quote\tAppleOriginalContents\nother\" id=c></div><div class=\"appleoriginalcontents\" "
        "id=d>");
    EXPECT_EQ(attributeValues(classes.body().descendantsWithClassName("AppleOriginalContents"), "id"),
              QStringList({"a", "c"}));
}

TEST(DomMutation, HidingAnObjectInACommentAndRestoringIt) {
    const Document document = Document::parseHTML(
        QString::fromUtf8("<div><object data=\"cid:AAA-1\" type=\"application/pdf\" width=\"32\"></object>"
                          "<object data=\"cid:ABC-123\" type=\"application/pdf\" width=\"32\""
                          " title=\"Größe 日本.pdf\"></object><object data=\"cid:ZZZ-9\"></object></div>"));
    const QString original = document.toHTML();
    const Node target = document.nodesForXPath("//object[@data='cid:ABC-123']").value(0);
    ASSERT_FALSE(target.isNull());

    Node container = target.parentNode();
    const Node comment = document.createComment(target.outerHTML());
    EXPECT_EQ(container.replaceChild(comment, target), target);
    EXPECT_TRUE(target.parentNode().isNull());
    EXPECT_EQ(attributeValues(document.body().getElementsByTagName("object"), "data"),
              QStringList({"cid:AAA-1", "cid:ZZZ-9"}));
    EXPECT_EQ(comment.previousSibling().getAttribute("data"), "cid:AAA-1");

    // Survives a serialize/parse of the whole document while hidden.
    const Document reparsed = Document::parseHTML(document.toHTML());
    const Node hidden = reparsed.nodesForXPath("//comment()").value(0);
    ASSERT_FALSE(hidden.isNull());
    EXPECT_EQ(hidden.nodeValue(), comment.nodeValue());

    Node holder = reparsed.createElement("div");
    holder.setInnerHTML(hidden.nodeValue());
    ASSERT_EQ(holder.childNodes().size(), 1);
    const Node restored = holder.firstChild();
    EXPECT_EQ(restored.getAttribute("title"), QString::fromUtf8("Größe 日本.pdf"));
    hidden.parentNode().replaceChild(restored, hidden);
    EXPECT_EQ(reparsed.toHTML(), original);
    EXPECT_TRUE(holder.childNodes().isEmpty());
}

TEST(DomMutation, InsertingMovesNodesFromTheirOldPlace) {
    const Document document = Document::parseHTML("<p id=a>1</p><p id=b>2</p><p id=c>3</p>");
    Node body = document.body();
    Node a = body.firstChild();
    Node c = body.lastChild();

    c.insertAsSiblingBeforeNode(a);
    EXPECT_EQ(attributeValues(body.childNodes(), "id"), QStringList({"c", "a", "b"}));
    body.appendChild(c);
    EXPECT_EQ(attributeValues(body.childNodes(), "id"), QStringList({"a", "b", "c"}));
    body.insertBefore(a, Node());
    EXPECT_EQ(attributeValues(body.childNodes(), "id"), QStringList({"b", "c", "a"}));
    a.appendChild(c);
    EXPECT_EQ(body.innerHTML(), "<p id=\"b\">2</p><p id=\"a\">1<p id=\"c\">3</p></p>");

    // Adjacent text nodes stay separate nodes instead of being merged (and freed) by libxml2.
    Node first = document.createTextNode("x");
    Node second = document.createTextNode("y");
    body.appendChild(first);
    body.appendChild(second);
    EXPECT_EQ(first.nextSibling(), second);
    EXPECT_EQ(second.nodeValue(), "y");
}

TEST(DomMutation, InvalidMutationsThrowAndLeaveTheTreeAlone) {
    const Document document = Document::parseHTML("<div id=a><p id=b></p></div><div id=c></div>");
    Node a = firstElement(document, "div");
    Node b = a.firstChild();
    Node c = a.nextSibling();
    const QString before = document.toHTML();

    EXPECT_THROW(a.replaceChild(document.createComment("x"), c), InvalidArgument);
    EXPECT_THROW(a.removeChild(c), InvalidArgument);
    EXPECT_THROW(b.appendChild(a), InvalidArgument);
    EXPECT_THROW(a.insertBefore(c, document.body()), InvalidArgument);
    EXPECT_THROW(document.createElement("p").insertAsSiblingBeforeNode(document.createElement("q")),
                 InvalidArgument);
    EXPECT_THROW(a.appendChild(Document::parseHTML("<i></i>").body().firstChild()), InvalidArgument);
    EXPECT_EQ(document.toHTML(), before);
}

TEST(DomMutation, DetachedNodesStayUsableAndCanBeReinserted) {
    Node orphan;
    Node removed;
    {
        const Document document = Document::parseHTML("<div id=keep><b>old</b><i>gone</i></div>");
        Node div = firstElement(document, "div");
        removed = div.removeChild(div.lastChild());
        const Node oldChild = div.firstChild();
        div.setInnerHTML("<u>new</u>");
        EXPECT_EQ(oldChild.outerHTML(), "<b>old</b>");
        EXPECT_TRUE(oldChild.parentNode().isNull());

        orphan = document.createElement("SECTION");
        orphan.setAttribute("class", "x");
        orphan.appendChild(document.createTextNode("a < b"));
        orphan.appendChild(oldChild);
        Node span = document.createElement("span");
        span.detach();
        orphan.appendChild(span);
        span.detach();
        EXPECT_EQ(orphan.childNodes().size(), 2);
    }
    // The documents went out of scope; the handles keep them alive.
    EXPECT_EQ(orphan.outerHTML(), "<section class=\"x\">a &lt; b<b>old</b></section>");
    EXPECT_EQ(removed.textContent(), "gone");
    Document owner = orphan.ownerDocument();
    owner.body().appendChild(orphan);
    owner.body().appendChild(removed);
    EXPECT_EQ(owner.body().innerHTML(),
              "<div id=\"keep\"><u>new</u></div><section class=\"x\">a &lt; b<b>old</b>"
              "</section><i>gone</i>");
}

TEST(DomTreeWalker, ShowsOnlyCommentsInDocumentOrderBelowTheRoot) {
    const Document document = Document::parseHTML(
        "<!--outside--><div id=root><!--1--><p>t<!--2--><b><!--3--></b></p><!--4--></div><!--after-->");
    const Node root = firstElement(document, "div");
    const auto walk = [&](unsigned show, bool values) {
        TreeWalker walker = document.createTreeWalker(root, show);
        EXPECT_EQ(walker.root(), root);
        QStringList seen;
        while (Node node = walker.nextNode())
            seen << (values ? node.nodeValue() : node.nodeName());
        EXPECT_TRUE(walker.nextNode().isNull());
        return seen;
    };
    EXPECT_EQ(walk(TreeWalker::ShowComment, true), QStringList({"1", "2", "3", "4"}));
    EXPECT_EQ(walk(TreeWalker::ShowElement | TreeWalker::ShowText, false), QStringList({"p", "#text", "b"}));
}

TEST(DomTreeWalker, SeesMutationsAheadOfItsCurrentNode) {
    const Document document = Document::parseHTML("<div><!--a--><p></p><!--b--></div>");
    Node div = firstElement(document, "div");
    TreeWalker walker = document.createTreeWalker(div, TreeWalker::ShowComment);
    const Node a = walker.nextNode();
    EXPECT_EQ(a.nodeValue(), "a");
    div.firstChild().nextSibling().appendChild(document.createComment("inserted"));
    div.removeChild(div.lastChild());
    EXPECT_EQ(walker.nextNode().nodeValue(), "inserted");
    EXPECT_TRUE(walker.nextNode().isNull());

    // The usual pattern: collect first, then replace; a fresh walker then finds nothing.
    for (const Node& comment : document.nodesForXPath("//comment()"))
        comment.parentNode().replaceChild(document.createElement("hr"), comment);
    TreeWalker again = document.createTreeWalker(document.documentElement(), TreeWalker::ShowComment);
    EXPECT_TRUE(again.nextNode().isNull());
    EXPECT_EQ(div.getElementsByTagName("hr").size(), 2);
}

TEST(DomXPath, FindsQuotesCommentsAndSignatureAndDetachingThemChangesTheText) {
    const Document document =
        Document::parseTidyHTML("<body>Reply<div id=AppleMailSignature>Sig</div><blockquote "
                                "type=cite>Quoted<blockquote type=cite>Deep"
                                "</blockquote></blockquote><blockquote>Plain</blockquote><!--note--></body>");
    ASSERT_FALSE(document.isNull());
    EXPECT_EQ(document.stringValue(), "ReplySigQuotedDeepPlain");

    const QList<Node> quotes = document.nodesForXPath("//blockquote[@type='cite']");
    ASSERT_EQ(quotes.size(), 2);
    EXPECT_EQ(quotes[0].textContent(), "QuotedDeep");
    const QList<Node> comments = document.nodesForXPath("//comment()");
    ASSERT_EQ(comments.size(), 1);
    EXPECT_EQ(comments[0].type(), Node::Type::Comment);
    const QList<Node> signature = document.nodesForXPath("//div[@id='AppleMailSignature']");
    ASSERT_EQ(signature.size(), 1);
    Node(signature[0]).detach();
    for (Node quote : quotes)
        quote.detach();
    EXPECT_EQ(document.stringValue(), "ReplyPlain");
    EXPECT_EQ(quotes[1].textContent(), "Deep");
    EXPECT_TRUE(document.nodesForXPath("//blockquote[@type='cite']").isEmpty());
}

TEST(DomXPath, RelativeQueriesInvalidExpressionsAndNonNodeResults) {
    const Document document = Document::parseHTML("<div id=a><p>1</p></div><div id=b><p>2</p><p>3</p></div>");
    const Node b = document.nodesForXPath("//div[@id='b']").value(0);
    QString error = "stale";
    EXPECT_EQ(document.nodesForXPath(".//p", b, &error).size(), 2);
    EXPECT_TRUE(error.isEmpty());

    for (const char* invalid : {"//div[@id=", "nosuchfunction(//p)", "count(//p)"}) {
        error.clear();
        EXPECT_TRUE(document.nodesForXPath(invalid, Node(), &error).isEmpty()) << invalid;
        EXPECT_FALSE(error.isEmpty()) << invalid;
    }
    EXPECT_TRUE(document.nodesForXPath("//p[", b).isEmpty());
}

TEST(DomTidy, RepairsTagSoupAndRejectsOnlyEmptyInput) {
    const Document soup =
        Document::parseTidyHTML("<p>unclosed <b>bold <i>both</p></b><div>after<span>x</div>");
    ASSERT_FALSE(soup.isNull());
    EXPECT_EQ(soup.documentElement().nodeName(), "html");
    EXPECT_EQ(soup.stringValue(), "unclosed bold bothafterx");
    EXPECT_EQ(soup.nodesForXPath("//i").value(0).parentNode().nodeName(), "b");
    EXPECT_EQ(soup.nodesForXPath("//span").value(0).parentNode().nodeName(), "div");

    EXPECT_TRUE(Document::parseTidyHTML("").isNull());
    EXPECT_TRUE(Document::parseTidyHTML(" \n\t ").isNull());
    EXPECT_EQ(Document::parseTidyHTML("just text").stringValue(), "just text");
}

TEST(DomNode, EqualityIsIdentityOfTheUnderlyingNode) {
    const Document document = Document::parseHTML("<p id=x>a</p><p>b</p>");
    const Node viaTag = firstElement(document, "p");
    const Node viaXPath = document.nodesForXPath("//p[@id='x']").value(0);
    EXPECT_EQ(viaTag, viaXPath);
    EXPECT_EQ(viaTag, viaTag.firstChild().parentNode());
    EXPECT_NE(viaTag, viaTag.nextSibling());
    EXPECT_EQ(Node(), Node());
    EXPECT_NE(viaTag, Node());
    EXPECT_NE(viaTag, firstElement(Document::parseHTML("<p id=x>a</p>"), "p"));
    EXPECT_EQ(viaTag.ownerDocument().body(), document.body());
    EXPECT_EQ(document.documentElement().parentNode().type(), Node::Type::Document);
}

// Each pass of a body through parse and write keeps its text and its escaping: the message is parsed and
// written several times before it leaves.
TEST(DomRoundTrip, TextAfterVoidElementsAndInsideLegacyTextElementsSurvivesEveryPass) {
    const struct {
        QString html, text;
    } cases[] = {
        {"See https://example.org/a/very/long/<wbr>path for the plan.",
         "See https://example.org/a/very/long/path for the plan."},
        {"a<embed src=x>b<source>c<track>d<keygen>e<bgsound>f<br>g", "abcdefg"},
        {"<xmp>&lt;b&gt;x&lt;/b&gt;</xmp><iframe>&lt;i&gt;</iframe><noembed>&amp;lt;</noembed>"
         "<noframes>&lt;p&gt;</noframes><plaintext>&lt;u&gt;</plaintext>",
         "<b>x</b><i>&lt;<p><u>"},
        {"<script>a</scr\fipt</script>b", "a</scriptb"},
        {"<style>x</sty\fle</style>y", "x</styley"},
    };
    for (const auto& c : cases) {
        QString html = c.html;
        for (int pass = 1; pass <= 3; ++pass) {
            const Document document = Document::parseHTML(html);
            EXPECT_EQ(document.stringValue(), c.text) << "pass " << pass << ": " << html.toStdString();
            html = document.toHTML();
        }
    }
    const Document wbr = Document::parseHTML(cases[0].html);
    EXPECT_EQ(firstElement(wbr, "wbr").childNodes().size(), 0);
    EXPECT_EQ(wbr.body().innerHTML(), "See https://example.org/a/very/long/<wbr>path for the plan.");
    EXPECT_EQ(Document::parseTidyHTML(cases[1].html).nodesForXPath("//wbr/node() | //embed/node()").size(),
              0);
}
