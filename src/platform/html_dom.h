#pragma once

#include <QList>
#include <QString>
#include <memory>

struct _xmlNode;

namespace qm::platform::dom {

namespace detail {
struct DocumentImpl;
}

class Document;
class TreeWalker;

// A reference to a node of a Document, cheap to copy. It keeps its document alive, so a node that was removed
// from the tree (or never inserted) stays usable and can be inserted again.
class Node {
public:
    Node();
    bool isNull() const;
    explicit operator bool() const { return !isNull(); }

    enum class Type { Element, Text, Comment, Document, Other };
    Type type() const;
    QString nodeName() const;
    QString nodeValue() const;

    QString outerHTML() const;
    QString innerHTML() const;
    // Parses `html` as the content of a <div> in a body; the old children become detached nodes.
    void setInnerHTML(const QString& html);
    QString textContent() const;

    // Null when absent, empty when present without a value; names are case-insensitive.
    QString getAttribute(const QString& name) const;
    bool hasAttribute(const QString& name) const;
    void setAttribute(const QString& name, const QString& value);
    void removeAttribute(const QString& name);
    void setIdName(const QString& id);
    QString idName() const;

    // Element descendants (not the node itself) in document order; "*" matches every tag.
    QList<Node> getElementsByTagName(const QString& tagName) const;
    QList<Node> descendantsWithClassName(const QString& className) const;

    Node parentNode() const;
    Node firstChild() const;
    Node lastChild() const;
    Node nextSibling() const;
    Node previousSibling() const;
    QList<Node> childNodes() const;

    // The mutators throw qm::platform::InvalidArgument when the reference node is not a child of this node,
    // when the move would make a node its own ancestor, or when the nodes belong to different documents.
    Node appendChild(const Node& child);
    Node insertBefore(const Node& newChild, const Node& referenceChild);
    Node replaceChild(const Node& newChild, const Node& oldChild);
    Node removeChild(const Node& child);
    void insertAsSiblingBeforeNode(const Node& reference);
    void detach();

    Document ownerDocument() const;
    bool operator==(const Node& other) const;

private:
    friend class Document;
    friend class TreeWalker;
    Node(std::shared_ptr<detail::DocumentImpl> document, _xmlNode* node);

    std::shared_ptr<detail::DocumentImpl> document_;
    _xmlNode* node_ = nullptr;
};

// Walks the nodes below a root in document order. Like the DOM one it does not follow mutations: after its
// current node is removed, it continues from wherever that node now is.
class TreeWalker {
public:
    static constexpr unsigned long ShowAll = 0xFFFFFFFF, ShowElement = 0x1, ShowText = 0x4,
                                   ShowComment = 0x80;

    Node root() const { return root_; }
    Node currentNode() const { return current_; }
    Node nextNode();

private:
    friend class Document;
    TreeWalker(Node root, unsigned long whatToShow);

    Node root_;
    Node current_;
    unsigned long whatToShow_;
};

class Document {
public:
    Document();
    bool isNull() const;

    // An HTML document as a browser builds it from markup: html, head and body implied when missing.
    static Document parseHTML(const QString& html);
    // Lenient parse for queries; null only when the input holds no markup and no text at all.
    static Document parseTidyHTML(const QString& html);

    Node documentElement() const;
    Node body() const;
    Node createElement(const QString& tagName) const;
    Node createComment(const QString& text) const;
    Node createTextNode(const QString& text) const;
    TreeWalker createTreeWalker(const Node& root, unsigned long whatToShow,
                                bool expandEntityReferences = false) const;

    // XPath 1.0; nodes in document order. An invalid expression, or one that yields no node-set, gives an
    // empty list and sets *error.
    QList<Node> nodesForXPath(const QString& xpath, const Node& context = Node(),
                              QString* error = nullptr) const;
    QString stringValue() const;
    QString toHTML() const;

private:
    friend class Node;
    explicit Document(std::shared_ptr<detail::DocumentImpl> impl);
    Node wrap(_xmlNode* node) const;

    std::shared_ptr<detail::DocumentImpl> impl_;
};

} // namespace qm::platform::dom
