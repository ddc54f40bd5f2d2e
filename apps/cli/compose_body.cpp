#include "cli/compose_body.h"

#include "platform/html_dom.h"

#include <QStringList>

namespace qm::cli::compose_body {

namespace dom = platform::dom;

namespace {

QString escapedLines(const QStringList& lines) {
    QStringList escaped;
    escaped.reserve(lines.size());
    for (const QString& line : lines)
        escaped.append(line.toHtmlEscaped());
    return escaped.join(QStringLiteral("<br>"));
}

QString wrapperStart() {
    return QStringLiteral("<div class=\"%1\">").arg(QLatin1String(quotedContentClass));
}

bool hasClass(const dom::Node& node, const QString& name) {
    return node.type() == dom::Node::Type::Element &&
           node.getAttribute(QStringLiteral("class")).split(u' ', Qt::SkipEmptyParts).contains(name);
}

bool isBlankOrBreak(const dom::Node& node) {
    if (node.type() == dom::Node::Type::Text)
        return node.nodeValue().trimmed().isEmpty();
    return node.type() == dom::Node::Type::Element &&
           node.nodeName().compare(QLatin1String("br"), Qt::CaseInsensitive) == 0;
}

// "On ..., Ada wrote:" and its translations end with a colon.
bool isCitationLine(const dom::Node& node) {
    if (node.type() != dom::Node::Type::Text && node.type() != dom::Node::Type::Element)
        return false;
    QString text = node.textContent();
    text.replace(QChar(0xA0), u' ');
    return text.trimmed().endsWith(u':');
}

void wrapFirstQuote(const dom::Document& document) {
    const QList<dom::Node> quotes =
        document.nodesForXPath(QStringLiteral("//blockquote[translate(@type, 'CITE', 'cite') = 'cite']"));
    if (quotes.isEmpty())
        return;
    dom::Node quote = quotes.first();
    const QString wrapperClass = QString::fromLatin1(quotedContentClass);
    for (dom::Node ancestor = quote.parentNode(); !ancestor.isNull(); ancestor = ancestor.parentNode())
        if (hasClass(ancestor, wrapperClass))
            return;
    dom::Node first = quote;
    dom::Node before = quote.previousSibling();
    while (!before.isNull() && isBlankOrBreak(before))
        before = before.previousSibling();
    if (!before.isNull() && isCitationLine(before))
        first = before;
    dom::Node wrapper = document.createElement(QStringLiteral("div"));
    wrapper.setAttribute(QStringLiteral("class"), wrapperClass);
    quote.parentNode().insertBefore(wrapper, first);
    for (dom::Node node = first; !node.isNull();) {
        const dom::Node next = node.nextSibling();
        wrapper.appendChild(node);
        if (node == quote)
            break;
        node = next;
    }
}

} // namespace

QString objectElement(const QString& contentID, const QString& mimeType) {
    return QStringLiteral("<object data=\"cid:%1\" type=\"%2\"></object>")
        .arg(contentID.toHtmlEscaped(), mimeType.toHtmlEscaped());
}

QString fromPlainText(const QString& text, bool* wrapQuote) {
    const QStringList lines = text.split(u'\n');
    qsizetype first = -1;
    for (qsizetype i = 0; wrapQuote && *wrapQuote && i < lines.size() && first < 0; ++i)
        if (lines[i].startsWith(u'>'))
            first = i;
    if (first < 0)
        return escapedLines(lines);
    qsizetype end = first;
    while (end < lines.size() && lines[end].startsWith(u'>'))
        ++end;
    qsizetype start = first;
    qsizetype citation = first - 1;
    while (citation >= 0 && lines[citation].trimmed().isEmpty())
        --citation;
    if (citation >= 0 && lines[citation].trimmed().endsWith(u':'))
        start = citation;
    *wrapQuote = false;
    // The wrapper's own line boundaries stand for the line breaks around it.
    QString html = escapedLines(lines.mid(0, start));
    if (start > 0)
        html += QStringLiteral("<br>");
    html += wrapperStart() + escapedLines(lines.mid(start, end - start)) + QStringLiteral("</div>");
    return html + escapedLines(lines.mid(end));
}

QString fromHtml(const QString& html) {
    const dom::Document document = dom::Document::parseHTML(html);
    QString styles;
    for (const dom::Node& style : document.nodesForXPath(QStringLiteral("/html/head//style")))
        styles += style.outerHTML();
    return styles + document.body().innerHTML();
}

QString wrapQuotedMessage(const QString& bodyContent) {
    const dom::Document document =
        dom::Document::parseHTML(QStringLiteral("<html><body>%1</body></html>").arg(bodyContent));
    wrapFirstQuote(document);
    return document.body().innerHTML();
}

} // namespace qm::cli::compose_body
