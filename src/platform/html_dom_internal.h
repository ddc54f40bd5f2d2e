#pragma once

// Shared by the html_dom*.cpp files only; keeps libxml2 out of the public header.

#include <QByteArray>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <unordered_set>
#include <vector>

namespace qm::platform::dom::detail {

// Owns the libxml2 document and every subtree that handles may still reach after it left the tree.
struct DocumentImpl {
    explicit DocumentImpl(xmlDocPtr doc)
        : doc(doc) {}
    ~DocumentImpl();
    DocumentImpl(const DocumentImpl&) = delete;
    DocumentImpl& operator=(const DocumentImpl&) = delete;

    // Takes `node` out of its parent (if any) and keeps it until it is linked again or the document dies.
    void unlink(xmlNodePtr node);
    // Links `node` (already unlinked) into `parent` before `reference`, or last when `reference` is null.
    // Unlike xmlAddChild and friends this never merges adjacent text nodes, which would free nodes that
    // handles hold.
    void link(xmlNodePtr parent, xmlNodePtr node, xmlNodePtr reference);
    // Registers a node created outside the tree.
    void track(xmlNodePtr node) { detached.insert(node); }

    xmlDocPtr doc;
    std::unordered_set<xmlNodePtr> detached;
};

// Keeps libxml2 from printing anything while it lives; libxml2 reports through per-thread handlers.
class QuietErrors {
public:
    QuietErrors();
    ~QuietErrors();
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

    // The first error libxml2 reported meanwhile, trimmed; empty when none.
    QByteArray firstMessage() const { return firstMessage_; }

private:
    static void record(void* self, xmlErrorPtr error);

    QByteArray firstMessage_;
    xmlGenericErrorFunc genericFunc_;
    void* genericContext_;
    xmlStructuredErrorFunc structuredFunc_;
    void* structuredContext_;
};

void ensureLibxmlInitialized();

// Parses markup the way the HTML parser of libxml2 does; with `browserTree`, also repairs the places where
// its tree differs from a browser's (implied paragraphs around bare text, missing head or body, content after
// body).
xmlDocPtr parseHtmlDocument(const QByteArray& utf8, bool browserTree);

// Parses `utf8` as the content of a <div> and returns copies of the resulting nodes, owned by `target` and
// unlinked.
std::vector<xmlNodePtr> parseHtmlFragment(const QByteArray& utf8, xmlDocPtr target);

// Browser-style HTML serialization of `node` (with its own tags when `includeSelf`), UTF-8.
QByteArray serializeHtml(xmlNodePtr node, bool includeSelf);

// Concatenated text of the text descendants, as XPath string() computes it.
QByteArray textOf(xmlNodePtr node);

bool isVoidElement(const xmlChar* name);

} // namespace qm::platform::dom::detail
