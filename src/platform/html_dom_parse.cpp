#include "platform/html_dom_internal.h"

#include <cstring>
#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/dict.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <mutex>

namespace qm::platform::dom::detail {

namespace {

void ignoreGeneric(void*, const char*, ...) {}

constexpr int kParseOptions =
    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_NODEFDTD;

struct ParseState {
    startElementSAXFunc startElement = nullptr;
    bool browserTree = false;
    std::vector<xmlNodePtr> impliedElements;
};

void startElement(void* userData, const xmlChar* name, const xmlChar** attributes) {
    auto* ctxt = static_cast<htmlParserCtxtPtr>(userData);
    auto* state = static_cast<ParseState*>(ctxt->_private);
    const xmlNodePtr parent = ctxt->node;
    state->startElement(userData, name, attributes);
    const xmlNodePtr element = ctxt->node;
    if (element == nullptr || element == parent || element->type != XML_ELEMENT_NODE)
        return;
    // The tree builder splits a prefixed tag such as Outlook's <o:p> and drops the prefix, leaving a <p> that
    // changes the layout once serialized; browsers keep the whole name.
    if (!xmlStrEqual(element->name, name))
        xmlNodeSetName(element, name);
    // libxml2 wraps text outside any element (or right in <html>) in a <p> of its own making, and text after
    // </html> even in a second <html>; a browser puts such text straight into the body. These elements are
    // started with literal names instead of names from the parser's dictionary, which tells them apart from
    // markup.
    if (state->browserTree && !xmlDictOwns(ctxt->dict, name) &&
        (xmlStrEqual(name, BAD_CAST "p") ||
         (xmlStrEqual(name, BAD_CAST "html") && element->parent != nullptr &&
          element->parent->type == XML_ELEMENT_NODE)))
        state->impliedElements.push_back(element);
}

xmlNodePtr firstElementChild(xmlNodePtr parent, const char* name) {
    for (xmlNodePtr child = parent ? parent->children : nullptr; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrcasecmp(child->name, BAD_CAST name) == 0)
            return child;
    }
    return nullptr;
}

void appendTo(xmlNodePtr parent, xmlNodePtr node) {
    node->parent = parent;
    node->prev = parent->last;
    node->next = nullptr;
    if (parent->last)
        parent->last->next = node;
    else
        parent->children = node;
    parent->last = node;
}

void insertBefore(xmlNodePtr reference, xmlNodePtr node) {
    node->parent = reference->parent;
    node->next = reference;
    node->prev = reference->prev;
    if (reference->prev)
        reference->prev->next = node;
    else
        reference->parent->children = node;
    reference->prev = node;
}

void insertAfter(xmlNodePtr reference, xmlNodePtr node) {
    node->parent = reference->parent;
    node->prev = reference;
    node->next = reference->next;
    if (reference->next)
        reference->next->prev = node;
    else
        reference->parent->last = node;
    reference->next = node;
}

// libxml2 does not know the newer void elements (wbr, embed, source, track, keygen, bgsound) and nests
// whatever follows them inside them, where no writer puts it back; a browser puts it after them.
void moveContentOutOfVoidElements(xmlDocPtr doc) {
    const xmlNodePtr root = reinterpret_cast<xmlNodePtr>(doc);
    xmlNodePtr node = root->children;
    while (node != nullptr) {
        if (node->type != XML_ELEMENT_NODE) {
            // Entity references have children too, but they belong to the entity.
        } else if (isVoidElement(node->name)) {
            while (xmlNodePtr last = node->last) {
                xmlUnlinkNode(last);
                insertAfter(node, last);
            }
        } else if (node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node->next == nullptr)
            node = node->parent == root ? nullptr : node->parent;
        if (node != nullptr)
            node = node->next;
    }
}

void unwrap(xmlNodePtr element) {
    while (xmlNodePtr child = element->children) {
        xmlUnlinkNode(child);
        insertBefore(element, child);
    }
    xmlUnlinkNode(element);
    xmlFreeNode(element);
}

void repairBrowserTree(xmlDocPtr doc, const std::vector<xmlNodePtr>& impliedElements) {
    // Innermost first: an implied <p> may sit inside an implied <html>.
    for (auto it = impliedElements.rbegin(); it != impliedElements.rend(); ++it) {
        if ((*it)->parent != nullptr)
            unwrap(*it);
    }
    xmlNodePtr html = xmlDocGetRootElement(doc);
    if (html == nullptr) {
        html = xmlNewDocNode(doc, nullptr, BAD_CAST "html", nullptr);
        xmlDocSetRootElement(doc, html);
    }
    if (xmlStrcasecmp(html->name, BAD_CAST "html") != 0)
        return;
    xmlNodePtr body = firstElementChild(html, "body");
    if (body == nullptr)
        body = firstElementChild(html, "frameset");
    if (body == nullptr) {
        body = xmlNewDocNode(doc, nullptr, BAD_CAST "body", nullptr);
        appendTo(html, body);
    }
    if (firstElementChild(html, "head") == nullptr) {
        xmlNodePtr head = xmlNewDocNode(doc, nullptr, BAD_CAST "head", nullptr);
        xmlNodePtr firstElement = html->children;
        while (firstElement && firstElement->type != XML_ELEMENT_NODE)
            firstElement = firstElement->next;
        insertBefore(firstElement ? firstElement : body, head);
    }
    // After </body> libxml2 keeps content in <html>; a browser moves it into the body.
    if (xmlStrEqual(body->name, BAD_CAST "body")) {
        while (xmlNodePtr stray = body->next) {
            xmlUnlinkNode(stray);
            appendTo(body, stray);
        }
    }
}

} // namespace

QuietErrors::QuietErrors()
    : genericFunc_(xmlGenericError)
    , genericContext_(xmlGenericErrorContext)
    , structuredFunc_(xmlStructuredError)
    , structuredContext_(xmlStructuredErrorContext) {
    xmlSetGenericErrorFunc(nullptr, &ignoreGeneric);
    xmlSetStructuredErrorFunc(this, &QuietErrors::record);
}

void QuietErrors::record(void* self, xmlErrorPtr error) {
    auto* quiet = static_cast<QuietErrors*>(self);
    if (quiet->firstMessage_.isEmpty() && error != nullptr && error->message != nullptr)
        quiet->firstMessage_ = QByteArray(error->message).trimmed();
}

QuietErrors::~QuietErrors() {
    xmlSetGenericErrorFunc(genericContext_, genericFunc_);
    xmlSetStructuredErrorFunc(structuredContext_, structuredFunc_);
}

void ensureLibxmlInitialized() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

xmlDocPtr parseHtmlDocument(const QByteArray& utf8, bool browserTree) {
    ensureLibxmlInitialized();
    QuietErrors quiet;
    htmlParserCtxtPtr ctxt =
        utf8.isEmpty() ? nullptr : htmlCreateMemoryParserCtxt(utf8.constData(), int(utf8.size()));
    if (ctxt == nullptr) {
        if (!browserTree)
            return nullptr;
        xmlDocPtr doc = htmlNewDocNoDtD(nullptr, nullptr);
        repairBrowserTree(doc, {});
        return doc;
    }
    htmlCtxtUseOptions(ctxt, kParseOptions);
    // An explicit decoder also keeps a <meta charset> in the markup from switching the decoding: QString
    // input is always UTF-8 by the time it gets here.
    if (xmlCharEncodingHandlerPtr utf8Handler = xmlFindCharEncodingHandler("UTF-8"))
        xmlSwitchToEncoding(ctxt, utf8Handler);
    ParseState state;
    state.browserTree = browserTree;
    if (ctxt->sax != nullptr) {
        state.startElement = ctxt->sax->startElement;
        ctxt->sax->startElement = &startElement;
        ctxt->_private = &state;
    }
    htmlParseDocument(ctxt);
    xmlDocPtr doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    htmlFreeParserCtxt(ctxt);
    if (doc != nullptr)
        moveContentOutOfVoidElements(doc);
    if (browserTree) {
        if (doc == nullptr) {
            doc = htmlNewDocNoDtD(nullptr, nullptr);
            state.impliedElements.clear();
        }
        repairBrowserTree(doc, state.impliedElements);
    }
    return doc;
}

std::vector<xmlNodePtr> parseHtmlFragment(const QByteArray& utf8, xmlDocPtr target) {
    std::vector<xmlNodePtr> nodes;
    if (utf8.isEmpty())
        return nodes;
    // Left open so that the fragment cannot close the wrapper early with a stray </div> unnoticed: whatever
    // escapes the wrapper ends up after it in the body and is collected too.
    xmlDocPtr doc = parseHtmlDocument("<html><body><div>" + utf8, true);
    if (doc == nullptr)
        return nodes;
    xmlNodePtr body = firstElementChild(xmlDocGetRootElement(doc), "body");
    xmlNodePtr wrapper = firstElementChild(body, "div");
    if (wrapper != nullptr) {
        for (xmlNodePtr child = wrapper->children; child; child = child->next)
            nodes.push_back(xmlDocCopyNode(child, target, 1));
        for (xmlNodePtr sibling = wrapper->next; sibling; sibling = sibling->next)
            nodes.push_back(xmlDocCopyNode(sibling, target, 1));
    }
    xmlFreeDoc(doc);
    std::erase(nodes, nullptr);
    return nodes;
}

} // namespace qm::platform::dom::detail
