#include "cli/html_to_text.h"

#include <QSet>
#include <QStringList>

namespace qm::cli {

namespace {

using platform::dom::Node;

const QSet<QString>& silentElements() {
    static const QSet<QString> names{
        QStringLiteral("head"),     QStringLiteral("style"),  QStringLiteral("script"),
        QStringLiteral("title"),    QStringLiteral("object"), QStringLiteral("template"),
        QStringLiteral("noscript"), QStringLiteral("iframe"), QStringLiteral("embed"),
        QStringLiteral("meta"),     QStringLiteral("link")};
    return names;
}

// Set apart from their neighbours by a blank line.
const QSet<QString>& paragraphElements() {
    static const QSet<QString> names{QStringLiteral("p"),  QStringLiteral("h1"),    QStringLiteral("h2"),
                                     QStringLiteral("h3"), QStringLiteral("h4"),    QStringLiteral("h5"),
                                     QStringLiteral("h6"), QStringLiteral("table"), QStringLiteral("dl")};
    return names;
}

// Begin and end a line.
const QSet<QString>& blockElements() {
    static const QSet<QString> names{
        QStringLiteral("div"),        QStringLiteral("section"),  QStringLiteral("article"),
        QStringLiteral("header"),     QStringLiteral("footer"),   QStringLiteral("nav"),
        QStringLiteral("aside"),      QStringLiteral("address"),  QStringLiteral("center"),
        QStringLiteral("form"),       QStringLiteral("fieldset"), QStringLiteral("figure"),
        QStringLiteral("figcaption"), QStringLiteral("main"),     QStringLiteral("dt"),
        QStringLiteral("dd"),         QStringLiteral("tr"),       QStringLiteral("caption"),
        QStringLiteral("body"),       QStringLiteral("html"),     QStringLiteral("ul"),
        QStringLiteral("ol"),         QStringLiteral("li"),       QStringLiteral("blockquote"),
        QStringLiteral("pre"),        QStringLiteral("hr")};
    return names;
}

bool isCollapsibleSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

class TextWriter {
public:
    explicit TextWriter(HtmlToText::Mode mode)
        : mode_(mode) {}

    void node(const Node& node) {
        switch (node.type()) {
        case Node::Type::Text:
            text(node.nodeValue());
            break;
        case Node::Type::Element:
            element(node);
            break;
        case Node::Type::Document:
            children(node);
            break;
        default: // comments hide attachments and markers, never text for the reader
            break;
        }
    }

    QString result() const {
        if (mode_ == HtmlToText::Mode::Plain)
            return out_;
        // Rich: no trailing blanks, at most one empty line in a row, one final line break.
        QStringList lines = out_.split(u'\n');
        QStringList kept;
        for (QString line : lines) {
            while (!line.isEmpty() && line.back().isSpace())
                line.chop(1);
            if (line.isEmpty() && (kept.isEmpty() || kept.last().isEmpty()))
                continue;
            kept.append(line);
        }
        while (!kept.isEmpty() && kept.last().isEmpty())
            kept.removeLast();
        return kept.isEmpty() ? QString() : kept.join(u'\n') + u'\n';
    }

    void children(const Node& parent) {
        for (Node child = parent.firstChild(); !child.isNull(); child = child.nextSibling())
            node(child);
    }

private:
    bool rich() const { return mode_ == HtmlToText::Mode::Rich; }

    void element(const Node& element) {
        const QString name = element.nodeName().toLower();
        if (silentElements().contains(name))
            return;
        if (name == u"br") {
            lineBreak();
            return;
        }
        if (!rich()) {
            const bool block = blockElements().contains(name) || paragraphElements().contains(name);
            if (block)
                ensureLineStart();
            children(element);
            if (block)
                ensureLineStart();
            return;
        }
        if (name == u"img") {
            write(element.getAttribute(QStringLiteral("alt")).simplified());
            return;
        }
        if (name == u"hr") {
            ensureLineStart();
            write(QString(20, u'-'));
            lineBreak();
            return;
        }
        if (name == u"a") {
            link(element);
            return;
        }
        if (name == u"td" || name == u"th") {
            pendingSpace_ = !atLineStart_;
            children(element);
            pendingSpace_ = !atLineStart_;
            return;
        }
        if (name == u"li") {
            listItem(element);
            return;
        }
        if (name == u"ul" || name == u"ol") {
            if (lists_.isEmpty())
                ensureBlankLine();
            else
                ensureLineStart();
            lists_.append(name == u"ol" ? 1 : 0);
            children(element);
            lists_.removeLast();
            if (lists_.isEmpty())
                ensureBlankLine();
            else
                ensureLineStart();
            return;
        }
        if (name == u"blockquote") {
            ensureLineStart();
            ++quoteDepth_;
            children(element);
            ensureLineStart();
            --quoteDepth_;
            return;
        }
        if (name == u"pre") {
            ensureBlankLine();
            ++preformatted_;
            children(element);
            --preformatted_;
            ensureBlankLine();
            return;
        }
        if (paragraphElements().contains(name)) {
            ensureBlankLine();
            children(element);
            ensureBlankLine();
            return;
        }
        const bool block = blockElements().contains(name);
        if (block)
            ensureLineStart();
        children(element);
        if (block)
            ensureLineStart();
    }

    void listItem(const Node& element) {
        ensureLineStart();
        QString marker = QStringLiteral("* ");
        if (!lists_.isEmpty() && lists_.last() > 0)
            marker = QStringLiteral("%1. ").arg(lists_.last()++);
        write(QString(2 * std::max<qsizetype>(lists_.size() - 1, 0), u' ') + marker);
        children(element);
        ensureLineStart();
    }

    // The target follows the text unless the text already says it.
    void link(const Node& element) {
        children(element);
        const QString href = element.getAttribute(QStringLiteral("href")).trimmed();
        const bool web = href.startsWith(QLatin1String("http:"), Qt::CaseInsensitive) ||
                         href.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
        const bool mail = href.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive);
        if (!web && !mail)
            return;
        const QString shown = element.textContent().simplified();
        const QString target = mail ? href.mid(7) : href;
        if (shown == target || shown == href)
            return;
        if (shown.isEmpty()) {
            write(target);
            return;
        }
        pendingSpace_ = true;
        write(u'<' + target + u'>');
    }

    void text(const QString& value) {
        if (!rich() || preformatted_ > 0) {
            const QStringList lines = value.split(u'\n');
            for (qsizetype i = 0; i < lines.size(); ++i) {
                if (i > 0)
                    lineBreak();
                QString line = lines[i];
                line.replace(QChar(0xA0), u' ');
                if (line.endsWith(u'\r'))
                    line.chop(1);
                write(line, /*verbatim=*/true);
            }
            return;
        }
        QString run;
        for (const QChar c : value) {
            if (isCollapsibleSpace(c)) {
                write(run);
                run.clear();
                if (!atLineStart_)
                    pendingSpace_ = true;
                continue;
            }
            run.append(c == QChar(0xA0) ? QChar(u' ') : c);
        }
        write(run);
    }

    void write(const QString& text, bool verbatim = false) {
        if (text.isEmpty())
            return;
        if (atLineStart_) {
            out_ += prefix();
            atLineStart_ = false;
        } else if (pendingSpace_ && !verbatim) {
            out_ += u' ';
        }
        pendingSpace_ = false;
        out_ += text;
        lineHasContent_ = true;
    }

    void lineBreak() {
        if (atLineStart_)
            out_ += prefix().trimmed();
        out_ += u'\n';
        lastLineEmpty_ = !lineHasContent_;
        lineHasContent_ = false;
        atLineStart_ = true;
        pendingSpace_ = false;
    }

    void ensureLineStart() {
        if (!atLineStart_)
            lineBreak();
    }

    void ensureBlankLine() {
        ensureLineStart();
        if (!out_.isEmpty() && !lastLineEmpty_)
            lineBreak();
    }

    QString prefix() const { return quoteDepth_ > 0 ? QString(quoteDepth_, u'>') + u' ' : QString(); }

    HtmlToText::Mode mode_;
    QString out_;
    bool atLineStart_ = true;
    bool lineHasContent_ = false;
    bool lastLineEmpty_ = true;
    bool pendingSpace_ = false;
    int quoteDepth_ = 0;
    int preformatted_ = 0;
    QList<int> lists_; // per open list: 0 for bullets, else the next number
};

} // namespace

QString HtmlToText::convert(const platform::dom::Node& root, Mode mode) {
    TextWriter writer(mode);
    // The root's own boundaries are the text's start and end, not line breaks.
    if (root.type() == platform::dom::Node::Type::Element)
        writer.children(root);
    else
        writer.node(root);
    return writer.result();
}

} // namespace qm::cli
