#include "platform/html_dom_internal.h"

#include <cstring>
#include <libxml/HTMLparser.h>

// libxml2's own HTML dump is not used: it percent-escapes non-ASCII in href/src, drops the value of
// attributes it deems boolean, and leaves & and < unescaped in attribute values. This follows the browser
// algorithm, except that a leading newline in <pre> is not doubled: libxml2's parser, unlike a browser's,
// keeps it.

namespace qm::platform::dom::detail {

namespace {

bool nameIn(const xmlChar* name, std::initializer_list<const char*> names) {
    if (name == nullptr)
        return false;
    for (const char* candidate : names) {
        if (xmlStrcasecmp(name, BAD_CAST candidate) == 0)
            return true;
    }
    return false;
}

xmlDocPtr parseQuietly(const char* html) {
    QuietErrors quiet;
    return htmlReadMemory(html, int(std::strlen(html)), nullptr, "UTF-8",
                          HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
}

QByteArray textOfMarkup(const char* html) {
    xmlDocPtr doc = parseQuietly(html);
    const QByteArray text = textOf(reinterpret_cast<xmlNodePtr>(doc));
    xmlFreeDoc(doc);
    return text;
}

struct RawTextRules {
    // The elements whose content the parser keeps as raw text. In others, text is escaped like anywhere: a
    // parser that reads <xmp>&lt;b&gt;</xmp> as the text "<b>" would read the raw text back as markup.
    QList<QByteArray> elements;
    // Whether the parser drops a form feed inside raw text. Then one placed after "</" keeps text that
    // contains "</script" from closing the element early, and is gone again on the next parse.
    bool dropsFormFeed = false;
};

// Asked of the parser once: HTML parsers differ on both (libxml2 before 2.14 keeps only script and style
// raw).
const RawTextRules& rawTextRules() {
    static const RawTextRules rules = [] {
        ensureLibxmlInitialized();
        RawTextRules found;
        for (const char* name :
             {"style", "script", "xmp", "iframe", "noembed", "noframes", "plaintext", "noscript"}) {
            const QByteArray probe = "<" + QByteArray(name) + ">&amp;</" + QByteArray(name) + ">";
            if (textOfMarkup(probe.constData()) == "&amp;")
                found.elements.append(name);
        }
        found.dropsFormFeed = textOfMarkup("<script>a\f</script>") == "a";
        return found;
    }();
    return rules;
}

bool isRawTextElement(const xmlChar* name) {
    if (name == nullptr)
        return false;
    for (const QByteArray& raw : rawTextRules().elements) {
        if (xmlStrcasecmp(name, BAD_CAST raw.constData()) == 0)
            return true;
    }
    return false;
}

void appendRawText(QByteArray& out, const xmlChar* element, const xmlChar* text) {
    const QByteArray closing = "</" + QByteArray(reinterpret_cast<const char*>(element));
    const QByteArray content(reinterpret_cast<const char*>(text));
    if (!rawTextRules().dropsFormFeed || !content.contains("</")) {
        out += content;
        return;
    }
    qsizetype from = 0;
    for (qsizetype at = content.indexOf("</"); at >= 0; at = content.indexOf("</", at + 2)) {
        if (content.mid(at, closing.size()).compare(closing, Qt::CaseInsensitive) != 0)
            continue;
        out += content.mid(from, at + 2 - from);
        out += '\f';
        from = at + 2;
    }
    out += content.mid(from);
}

// U+00A0 is written as &nbsp; like browsers do, so that it stays visible in the markup.
void appendEscaped(QByteArray& out, const xmlChar* text, bool attribute) {
    if (text == nullptr)
        return;
    for (const xmlChar* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            if (attribute)
                out += "&quot;";
            else
                out += '"';
            break;
        case 0xC2:
            if (p[1] == 0xA0) {
                out += "&nbsp;";
                ++p;
                break;
            }
            out += char(*p);
            break;
        default:
            out += char(*p);
        }
    }
}

void appendQualifiedName(QByteArray& out, const xmlChar* name, xmlNsPtr ns) {
    if (ns != nullptr && ns->prefix != nullptr) {
        out += reinterpret_cast<const char*>(ns->prefix);
        out += ':';
    }
    out += reinterpret_cast<const char*>(name);
}

void appendNode(QByteArray& out, xmlNodePtr node);

void appendChildren(QByteArray& out, xmlNodePtr node) {
    const bool raw = node->type == XML_ELEMENT_NODE && isRawTextElement(node->name);
    for (xmlNodePtr child = node->children; child; child = child->next) {
        // libxml2 stores script and style content as CDATA sections.
        if (raw && (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) && child->content)
            appendRawText(out, node->name, child->content);
        else
            appendNode(out, child);
    }
}

void appendElement(QByteArray& out, xmlNodePtr node) {
    out += '<';
    appendQualifiedName(out, node->name, node->ns);
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next) {
        out += ' ';
        appendQualifiedName(out, attribute->name, attribute->ns);
        out += "=\"";
        xmlChar* value = xmlNodeListGetString(node->doc, attribute->children, 1);
        appendEscaped(out, value, true);
        xmlFree(value);
        out += '"';
    }
    out += '>';
    if (isVoidElement(node->name))
        return;
    appendChildren(out, node);
    out += "</";
    appendQualifiedName(out, node->name, node->ns);
    out += '>';
}

void appendDoctype(QByteArray& out, xmlDtdPtr dtd) {
    out += "<!DOCTYPE ";
    out += dtd->name ? reinterpret_cast<const char*>(dtd->name) : "html";
    if (dtd->ExternalID) {
        out += " PUBLIC \"";
        out += reinterpret_cast<const char*>(dtd->ExternalID);
        out += '"';
        if (dtd->SystemID) {
            out += " \"";
            out += reinterpret_cast<const char*>(dtd->SystemID);
            out += '"';
        }
    } else if (dtd->SystemID) {
        out += " SYSTEM \"";
        out += reinterpret_cast<const char*>(dtd->SystemID);
        out += '"';
    }
    out += '>';
}

void appendNode(QByteArray& out, xmlNodePtr node) {
    switch (node->type) {
    case XML_ELEMENT_NODE:
        appendElement(out, node);
        break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        appendEscaped(out, node->content, false);
        break;
    case XML_COMMENT_NODE:
        out += "<!--";
        if (node->content)
            out += reinterpret_cast<const char*>(node->content);
        out += "-->";
        break;
    case XML_PI_NODE:
        out += "<?";
        out += reinterpret_cast<const char*>(node->name);
        if (node->content) {
            out += ' ';
            out += reinterpret_cast<const char*>(node->content);
        }
        out += '>';
        break;
    case XML_ENTITY_REF_NODE:
        out += '&';
        out += reinterpret_cast<const char*>(node->name);
        out += ';';
        break;
    case XML_DTD_NODE:
        appendDoctype(out, reinterpret_cast<xmlDtdPtr>(node));
        break;
    case XML_ATTRIBUTE_NODE: {
        xmlChar* value = xmlNodeListGetString(node->doc, node->children, 1);
        appendEscaped(out, value, true);
        xmlFree(value);
        break;
    }
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE:
        appendChildren(out, node);
        break;
    default:
        break;
    }
}

void appendText(QByteArray& out, xmlNodePtr node) {
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) && child->content)
            out += reinterpret_cast<const char*>(child->content);
        else if (child->type == XML_ELEMENT_NODE || child->type == XML_ENTITY_REF_NODE)
            appendText(out, child);
    }
}

} // namespace

bool isVoidElement(const xmlChar* name) {
    return nameIn(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "img",
                         "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

QByteArray serializeHtml(xmlNodePtr node, bool includeSelf) {
    QByteArray out;
    if (node == nullptr)
        return out;
    if (includeSelf)
        appendNode(out, node);
    else if (node->type == XML_ELEMENT_NODE
                 ? !isVoidElement(node->name)
                 : node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE)
        appendChildren(out, node);
    return out;
}

QByteArray textOf(xmlNodePtr node) {
    QByteArray out;
    if (node == nullptr)
        return out;
    switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE:
    case XML_ATTRIBUTE_NODE:
        appendText(out, node);
        break;
    default:
        if (node->content)
            out += reinterpret_cast<const char*>(node->content);
    }
    return out;
}

} // namespace qm::platform::dom::detail
