#include "platform/html_dom.h"

#include "platform/error.h"
#include "platform/html_dom_internal.h"

#include <libxml/valid.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <QRegularExpression>

namespace qm::platform::dom {

using detail::DocumentImpl;

namespace {

QString fromXml(const xmlChar* text) {
    if (text == nullptr)
        return {};
    if (*text == 0)
        return QStringLiteral("");
    return QString::fromUtf8(reinterpret_cast<const char*>(text));
}

const xmlChar* xml(const QByteArray& bytes) {
    return reinterpret_cast<const xmlChar*>(bytes.constData());
}

bool isDocument(xmlNodePtr node) {
    return node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE;
}

bool isCharacterData(xmlNodePtr node) {
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
           node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE;
}

// Only these carry children the DOM exposes; attribute and DTD children are libxml2 internals.
bool hasDomChildren(xmlNodePtr node) {
    return node->type == XML_ELEMENT_NODE || isDocument(node) || node->type == XML_DOCUMENT_FRAG_NODE;
}

bool isAncestorOrSelf(xmlNodePtr candidate, xmlNodePtr node) {
    for (xmlNodePtr current = node; current; current = current->parent) {
        if (current == candidate)
            return true;
    }
    return false;
}

// Names that the serializer could not write back as one attribute or tag name.
bool isValidName(const QString& name) {
    if (name.isEmpty())
        return false;
    for (QChar c : name) {
        if (c.isSpace() || c == u'"' || c == u'\'' || c == u'<' || c == u'>' || c == u'/' || c == u'=' ||
            c == QChar(0))
            return false;
    }
    return true;
}

xmlAttrPtr findAttribute(xmlNodePtr element, const QString& name) {
    if (element == nullptr || element->type != XML_ELEMENT_NODE)
        return nullptr;
    const QByteArray wanted = name.toUtf8();
    for (xmlAttrPtr attribute = element->properties; attribute; attribute = attribute->next) {
        if (xmlStrcasecmp(attribute->name, xml(wanted)) == 0)
            return attribute;
    }
    return nullptr;
}

// Pre-order walk of the descendants of `root`, not `root` itself.
template <typename Visit> void forEachDescendant(xmlNodePtr root, Visit visit) {
    if (root == nullptr || !hasDomChildren(root))
        return;
    xmlNodePtr node = root->children;
    while (node != nullptr) {
        visit(node);
        if (node->children != nullptr && hasDomChildren(node)) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node != root && node->next == nullptr)
            node = node->parent;
        node = (node == nullptr || node == root) ? nullptr : node->next;
    }
}

unsigned long showBit(xmlNodePtr node) {
    switch (node->type) {
    case XML_HTML_DOCUMENT_NODE:
        return 1ul << (XML_DOCUMENT_NODE - 1);
    case XML_DTD_NODE:
        return 1ul << (XML_DOCUMENT_TYPE_NODE - 1);
    default:
        // libxml2 numbers node kinds 1 to 12 as the DOM does.
        return node->type <= XML_NOTATION_NODE ? 1ul << (node->type - 1) : 0;
    }
}

[[noreturn]] void invalid(const char* reason) {
    throw InvalidArgument(QString::fromLatin1(reason));
}

} // namespace

namespace detail {

DocumentImpl::~DocumentImpl() {
    // Before the document: detached nodes may use its dictionary and ID table.
    for (xmlNodePtr node : detached)
        xmlFreeNode(node);
    detached.clear();
    xmlFreeDoc(doc);
}

void DocumentImpl::unlink(xmlNodePtr node) {
    if (node == nullptr || isDocument(node))
        return;
    if (node->type == XML_ATTRIBUTE_NODE) {
        auto* attribute = reinterpret_cast<xmlAttrPtr>(node);
        if (attribute->atype == XML_ATTRIBUTE_ID) {
            xmlRemoveID(doc, attribute);
            attribute->atype = XML_ATTRIBUTE_CDATA;
        }
    }
    xmlUnlinkNode(node);
    detached.insert(node);
}

void DocumentImpl::link(xmlNodePtr parent, xmlNodePtr node, xmlNodePtr reference) {
    detached.erase(node);
    node->parent = parent;
    node->next = reference;
    node->prev = reference ? reference->prev : parent->last;
    if (node->prev)
        node->prev->next = node;
    else
        parent->children = node;
    if (reference)
        reference->prev = node;
    else
        parent->last = node;
}

} // namespace detail

// ---- Node

Node::Node() = default;

Node::Node(std::shared_ptr<DocumentImpl> document, xmlNodePtr node)
    : document_(node ? std::move(document) : nullptr)
    , node_(node) {}

bool Node::isNull() const {
    return node_ == nullptr;
}

Node::Type Node::type() const {
    if (node_ == nullptr)
        return Type::Other;
    switch (node_->type) {
    case XML_ELEMENT_NODE:
        return Type::Element;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        return Type::Text;
    case XML_COMMENT_NODE:
        return Type::Comment;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return Type::Document;
    default:
        return Type::Other;
    }
}

QString Node::nodeName() const {
    if (node_ == nullptr)
        return {};
    switch (node_->type) {
    case XML_ELEMENT_NODE:
        return fromXml(node_->name).toLower();
    case XML_TEXT_NODE:
        return QStringLiteral("#text");
    case XML_CDATA_SECTION_NODE:
        return QStringLiteral("#cdata-section");
    case XML_COMMENT_NODE:
        return QStringLiteral("#comment");
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return QStringLiteral("#document");
    case XML_DOCUMENT_FRAG_NODE:
        return QStringLiteral("#document-fragment");
    default:
        return fromXml(node_->name);
    }
}

QString Node::nodeValue() const {
    if (node_ == nullptr)
        return {};
    if (isCharacterData(node_))
        return node_->content ? fromXml(node_->content) : QStringLiteral("");
    if (node_->type == XML_ATTRIBUTE_NODE)
        return textContent();
    return {};
}

QString Node::outerHTML() const {
    return QString::fromUtf8(detail::serializeHtml(node_, true));
}

QString Node::innerHTML() const {
    return QString::fromUtf8(detail::serializeHtml(node_, false));
}

void Node::setInnerHTML(const QString& html) {
    if (node_ == nullptr || node_->type != XML_ELEMENT_NODE)
        invalid("setInnerHTML needs an element");
    const std::vector<xmlNodePtr> fresh = detail::parseHtmlFragment(html.toUtf8(), document_->doc);
    while (node_->children != nullptr)
        document_->unlink(node_->children);
    for (xmlNodePtr node : fresh)
        document_->link(node_, node, nullptr);
}

QString Node::textContent() const {
    return QString::fromUtf8(detail::textOf(node_));
}

QString Node::getAttribute(const QString& name) const {
    xmlAttrPtr attribute = findAttribute(node_, name);
    if (attribute == nullptr)
        return {};
    xmlChar* value = xmlNodeListGetString(node_->doc, attribute->children, 1);
    QString result = value ? fromXml(value) : QStringLiteral("");
    xmlFree(value);
    return result;
}

bool Node::hasAttribute(const QString& name) const {
    return findAttribute(node_, name) != nullptr;
}

void Node::setAttribute(const QString& name, const QString& value) {
    if (node_ == nullptr || node_->type != XML_ELEMENT_NODE)
        invalid("setAttribute needs an element");
    if (!isValidName(name))
        invalid("invalid attribute name");
    const xmlAttrPtr existing = findAttribute(node_, name);
    const QByteArray attributeName =
        existing ? QByteArray(reinterpret_cast<const char*>(existing->name)) : name.toLower().toUtf8();
    // xmlSetProp stores the value as literal text; no entity references are interpreted.
    xmlSetProp(node_, xml(attributeName), xml(value.toUtf8()));
}

void Node::removeAttribute(const QString& name) {
    // Unlinked rather than freed: an XPath result may still refer to the attribute node.
    if (xmlAttrPtr attribute = findAttribute(node_, name))
        document_->unlink(reinterpret_cast<xmlNodePtr>(attribute));
}

void Node::setIdName(const QString& id) {
    setAttribute(QStringLiteral("id"), id);
}

QString Node::idName() const {
    return getAttribute(QStringLiteral("id"));
}

QList<Node> Node::getElementsByTagName(const QString& tagName) const {
    QList<Node> result;
    const bool all = tagName == u"*";
    const QByteArray wanted = tagName.toUtf8();
    forEachDescendant(node_, [&](xmlNodePtr node) {
        if (node->type == XML_ELEMENT_NODE && (all || xmlStrcasecmp(node->name, xml(wanted)) == 0))
            result.append(Node(document_, node));
    });
    return result;
}

QList<Node> Node::descendantsWithClassName(const QString& className) const {
    QList<Node> result;
    if (className.isEmpty())
        return result;
    forEachDescendant(node_, [&](xmlNodePtr node) {
        if (node->type != XML_ELEMENT_NODE)
            return;
        const Node element(document_, node);
        const QString classes = element.getAttribute(QStringLiteral("class"));
        // HTML splits class lists on ASCII whitespace only.
        static const QRegularExpression separators(QStringLiteral("[ \t\n\f\r]+"));
        if (!classes.isEmpty() && classes.split(separators, Qt::SkipEmptyParts).contains(className))
            result.append(element);
    });
    return result;
}

Node Node::parentNode() const {
    if (node_ == nullptr || node_->type == XML_ATTRIBUTE_NODE)
        return {};
    return Node(document_, node_->parent);
}

Node Node::firstChild() const {
    return node_ && hasDomChildren(node_) ? Node(document_, node_->children) : Node();
}

Node Node::lastChild() const {
    return node_ && hasDomChildren(node_) ? Node(document_, node_->last) : Node();
}

Node Node::nextSibling() const {
    return node_ && node_->type != XML_ATTRIBUTE_NODE ? Node(document_, node_->next) : Node();
}

Node Node::previousSibling() const {
    return node_ && node_->type != XML_ATTRIBUTE_NODE ? Node(document_, node_->prev) : Node();
}

QList<Node> Node::childNodes() const {
    QList<Node> result;
    if (node_ && hasDomChildren(node_)) {
        for (xmlNodePtr child = node_->children; child; child = child->next)
            result.append(Node(document_, child));
    }
    return result;
}

Node Node::appendChild(const Node& child) {
    return insertBefore(child, Node());
}

Node Node::insertBefore(const Node& newChild, const Node& referenceChild) {
    if (node_ == nullptr || !hasDomChildren(node_))
        invalid("only elements and documents take children");
    if (newChild.node_ == nullptr)
        invalid("cannot insert a null node");
    if (newChild.document_ != document_ || (referenceChild.node_ && referenceChild.document_ != document_))
        invalid("the nodes belong to different documents");
    const xmlNodePtr node = newChild.node_;
    const bool childKind =
        node->type == XML_ELEMENT_NODE || node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE ||
        (!isDocument(node_) && (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE));
    if (!childKind)
        invalid("this kind of node cannot be inserted here");
    if (referenceChild.node_ && referenceChild.node_->parent != node_)
        invalid("the reference node is not a child of this node");
    if (isAncestorOrSelf(node, node_))
        invalid("a node cannot be inserted into itself or its descendants");
    if (isDocument(node_) && node->type == XML_ELEMENT_NODE) {
        const xmlNodePtr root = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(node_));
        if (root != nullptr && root != node)
            invalid("a document has only one element child");
    }
    xmlNodePtr reference = referenceChild.node_;
    if (reference == node)
        reference = node->next;
    document_->unlink(node);
    document_->link(node_, node, reference);
    return newChild;
}

Node Node::replaceChild(const Node& newChild, const Node& oldChild) {
    if (oldChild.node_ == nullptr || oldChild.document_ != document_ || oldChild.node_->parent != node_ ||
        oldChild.node_->type == XML_ATTRIBUTE_NODE)
        invalid("the node to replace is not a child of this node");
    if (newChild == oldChild)
        return oldChild;
    // Insert first so that every check runs before the tree changes.
    insertBefore(newChild, oldChild);
    document_->unlink(oldChild.node_);
    return oldChild;
}

Node Node::removeChild(const Node& child) {
    if (node_ == nullptr || child.node_ == nullptr || child.document_ != document_ ||
        child.node_->parent != node_ || child.node_->type == XML_ATTRIBUTE_NODE)
        invalid("the node to remove is not a child of this node");
    document_->unlink(child.node_);
    return child;
}

void Node::insertAsSiblingBeforeNode(const Node& reference) {
    if (reference.node_ == nullptr || reference.node_->parent == nullptr ||
        reference.node_->type == XML_ATTRIBUTE_NODE)
        invalid("the reference node has no parent");
    Node(reference.document_, reference.node_->parent).insertBefore(*this, reference);
}

void Node::detach() {
    if (node_ != nullptr && !isDocument(node_))
        document_->unlink(node_);
}

Document Node::ownerDocument() const {
    return Document(document_);
}

bool Node::operator==(const Node& other) const {
    return node_ == other.node_;
}

// ---- TreeWalker

TreeWalker::TreeWalker(Node root, unsigned long whatToShow)
    : root_(root)
    , current_(std::move(root))
    , whatToShow_(whatToShow) {}

Node TreeWalker::nextNode() {
    if (current_.isNull())
        return {};
    const xmlNodePtr root = root_.node_;
    xmlNodePtr node = current_.node_;
    while (true) {
        xmlNodePtr next = nullptr;
        if (node->children != nullptr && hasDomChildren(node)) {
            next = node->children;
        } else {
            for (xmlNodePtr up = node; up != nullptr && up != root; up = up->parent) {
                if (up->next != nullptr) {
                    next = up->next;
                    break;
                }
            }
        }
        if (next == nullptr)
            return {};
        node = next;
        if (showBit(node) & whatToShow_) {
            current_ = Node(root_.document_, node);
            return current_;
        }
    }
}

// ---- Document

Document::Document() = default;

Document::Document(std::shared_ptr<DocumentImpl> impl)
    : impl_(std::move(impl)) {}

bool Document::isNull() const {
    return impl_ == nullptr;
}

Node Document::wrap(xmlNodePtr node) const {
    return impl_ ? Node(impl_, node) : Node();
}

Document Document::parseHTML(const QString& html) {
    return Document(std::make_shared<DocumentImpl>(detail::parseHtmlDocument(html.toUtf8(), true)));
}

Document Document::parseTidyHTML(const QString& html) {
    xmlDocPtr doc = detail::parseHtmlDocument(html.toUtf8(), false);
    if (doc == nullptr)
        return {};
    if (xmlDocGetRootElement(doc) == nullptr) {
        xmlFreeDoc(doc);
        return {};
    }
    return Document(std::make_shared<DocumentImpl>(doc));
}

Node Document::documentElement() const {
    return impl_ ? wrap(xmlDocGetRootElement(impl_->doc)) : Node();
}

Node Document::body() const {
    const Node html = documentElement();
    for (const char* name : {"body", "frameset"}) {
        for (Node child = html.firstChild(); child; child = child.nextSibling()) {
            if (child.type() == Node::Type::Element && child.nodeName() == QLatin1String(name))
                return child;
        }
    }
    return {};
}

Node Document::createElement(const QString& tagName) const {
    if (impl_ == nullptr)
        return {};
    if (!isValidName(tagName))
        invalid("invalid tag name");
    xmlNodePtr node = xmlNewDocNode(impl_->doc, nullptr, xml(tagName.toLower().toUtf8()), nullptr);
    impl_->track(node);
    return wrap(node);
}

Node Document::createComment(const QString& text) const {
    if (impl_ == nullptr)
        return {};
    xmlNodePtr node = xmlNewDocComment(impl_->doc, xml(text.toUtf8()));
    impl_->track(node);
    return wrap(node);
}

Node Document::createTextNode(const QString& text) const {
    if (impl_ == nullptr)
        return {};
    xmlNodePtr node = xmlNewDocText(impl_->doc, xml(text.toUtf8()));
    impl_->track(node);
    return wrap(node);
}

TreeWalker Document::createTreeWalker(const Node& root, unsigned long whatToShow, bool) const {
    if (root.node_ != nullptr && root.document_ != impl_)
        invalid("the root belongs to another document");
    return TreeWalker(root, whatToShow);
}

QList<Node> Document::nodesForXPath(const QString& xpath, const Node& context, QString* error) const {
    QList<Node> result;
    QString failure;
    if (impl_ == nullptr) {
        failure = QStringLiteral("no document");
    } else if (context.node_ != nullptr && context.document_ != impl_) {
        invalid("the context node belongs to another document");
    } else {
        detail::QuietErrors quiet;
        xmlXPathContextPtr ctxt = xmlXPathNewContext(impl_->doc);
        ctxt->node = context.node_ ? context.node_ : reinterpret_cast<xmlNodePtr>(impl_->doc);
        const QByteArray expression = xpath.toUtf8();
        xmlXPathCompExprPtr compiled = xmlXPathCtxtCompile(ctxt, xml(expression));
        xmlXPathObjectPtr value = compiled ? xmlXPathCompiledEval(compiled, ctxt) : nullptr;
        if (value == nullptr) {
            const QString message = QString::fromUtf8(quiet.firstMessage());
            failure = QStringLiteral("invalid XPath expression \"%1\": %2")
                          .arg(xpath, message.isEmpty() ? QStringLiteral("evaluation failed") : message);
        } else if (value->type != XPATH_NODESET) {
            failure = QStringLiteral("XPath expression \"%1\" does not yield nodes").arg(xpath);
        } else if (value->nodesetval != nullptr) {
            xmlXPathNodeSetSort(value->nodesetval);
            for (int i = 0; i < value->nodesetval->nodeNr; ++i) {
                xmlNodePtr node = value->nodesetval->nodeTab[i];
                // Namespace nodes are copies that die with the result.
                if (node != nullptr && node->type != XML_NAMESPACE_DECL)
                    result.append(wrap(node));
            }
        }
        xmlXPathFreeObject(value);
        xmlXPathFreeCompExpr(compiled);
        xmlXPathFreeContext(ctxt);
    }
    if (error != nullptr)
        *error = failure;
    return result;
}

QString Document::stringValue() const {
    return impl_ ? QString::fromUtf8(detail::textOf(reinterpret_cast<xmlNodePtr>(impl_->doc))) : QString();
}

QString Document::toHTML() const {
    return impl_ ? QString::fromUtf8(detail::serializeHtml(reinterpret_cast<xmlNodePtr>(impl_->doc), true))
                 : QString();
}

} // namespace qm::platform::dom
