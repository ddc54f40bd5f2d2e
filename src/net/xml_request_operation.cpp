#include "net/xml_request_operation.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>

namespace qm::net {

using platform::Error;
using platform::Result;

namespace {

QString fromXml(const xmlChar* text, int length = -1) {
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text), length) : QString();
}

Error xmlErrorValue(const xmlError* error) {
    const int code = error ? error->code : XML_ERR_INTERNAL_ERROR;
    const QString message = error && error->message ? QString::fromUtf8(error->message).trimmed()
                                                    : QStringLiteral("The XML could not be parsed");
    return Error(QStringLiteral("NSXMLParserErrorDomain"), code, message,
                 {{QStringLiteral("NSLocalizedDescription"), message},
                  {QStringLiteral("NSXMLParserErrorLineNumber"), error ? error->line : 0}});
}

void silently(void*, xmlErrorPtr) {}

} // namespace

Result<std::shared_ptr<XMLDocument>> XMLDocument::parse(const QByteArray& data) {
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt)
        return Error();
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, data.constData(), int(data.size()), nullptr, nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc || !ctxt->wellFormed) {
        Error error = xmlErrorValue(xmlCtxtGetLastError(ctxt));
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        return error;
    }
    xmlFreeParserCtxt(ctxt);
    return std::shared_ptr<XMLDocument>(new XMLDocument(doc));
}

XMLDocument::~XMLDocument() {
    xmlFreeDoc(doc_);
}

QStringList XMLDocument::valuesForXPath(const QString& expression) const {
    QStringList values;
    xmlXPathContextPtr context = xmlXPathNewContext(doc_);
    if (!context)
        return values;
    context->error = silently;
    const QByteArray utf8 = expression.toUtf8();
    if (xmlXPathObjectPtr result =
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(utf8.constData()), context)) {
        if (result->type == XPATH_NODESET) {
            for (int i = 0; result->nodesetval && i < result->nodesetval->nodeNr; ++i) {
                xmlChar* text = xmlXPathCastNodeToString(result->nodesetval->nodeTab[i]);
                values << fromXml(text);
                xmlFree(text);
            }
        } else {
            xmlChar* text = xmlXPathCastToString(result);
            values << fromXml(text);
            xmlFree(text);
        }
        xmlXPathFreeObject(result);
    }
    xmlXPathFreeContext(context);
    return values;
}

struct XMLParser::Callbacks {
    static XMLParser* parser(void* ctx) {
        return static_cast<XMLParser*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
    }

    static Handlers current(void* ctx) {
        XMLParser* self = parser(ctx);
        std::lock_guard guard(self->mutex_);
        if (self->detached_) {
            xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
            return {};
        }
        return self->handlers_;
    }

    static QString qualified(const xmlChar* prefix, const xmlChar* local) {
        return prefix ? fromXml(prefix) + QLatin1Char(':') + fromXml(local) : fromXml(local);
    }

    static void start(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar*,
                      int namespaceCount, const xmlChar** namespaces, int attributeCount, int,
                      const xmlChar** attributes) {
        const Handlers handlers = current(ctx);
        if (!handlers.startElement)
            return;
        QVariantMap map;
        for (int i = 0; i < namespaceCount; ++i) {
            const xmlChar* name = namespaces[2 * i];
            map.insert(name ? QStringLiteral("xmlns:") + fromXml(name) : QStringLiteral("xmlns"),
                       fromXml(namespaces[2 * i + 1]));
        }
        // Five pointers per attribute: local name, prefix, URI, value start, value end.
        for (int i = 0; i < attributeCount; ++i) {
            const xmlChar** a = attributes + 5 * i;
            map.insert(qualified(a[1], a[0]), fromXml(a[3], int(a[4] - a[3])));
        }
        handlers.startElement(qualified(prefix, local), map);
    }

    static void end(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar*) {
        if (const Handlers handlers = current(ctx); handlers.endElement)
            handlers.endElement(qualified(prefix, local));
    }

    static void characters(void* ctx, const xmlChar* text, int length) {
        if (const Handlers handlers = current(ctx); handlers.characters)
            handlers.characters(fromXml(text, length));
    }
};

void XMLParser::setHandlers(Handlers handlers) {
    std::lock_guard guard(mutex_);
    handlers_ = std::move(handlers);
}

void XMLParser::detach() {
    std::lock_guard guard(mutex_);
    detached_ = true;
    handlers_ = {};
}

bool XMLParser::parse() {
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = Callbacks::start;
    sax.endElementNs = Callbacks::end;
    sax.characters = Callbacks::characters;
    // Without a DTD every run of white space is character data too.
    sax.ignorableWhitespace = Callbacks::characters;
    sax.serror = silently;
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
    if (!ctxt)
        return false;
    // The callbacks receive the context itself (no user data given), and find the parser through it.
    ctxt->_private = this;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlParseChunk(ctxt, data_.constData(), int(data_.size()), 1);
    const bool ok = ctxt->wellFormed && !ctxt->disableSAX;
    std::optional<Error> error;
    if (!ok)
        error = xmlErrorValue(xmlCtxtGetLastError(ctxt));
    xmlFreeParserCtxt(ctxt);
    std::lock_guard guard(mutex_);
    error_ = error;
    return ok;
}

std::optional<Error> XMLParser::parserError() const {
    std::lock_guard guard(mutex_);
    return error_;
}

std::shared_ptr<XMLRequestOperation> XMLRequestOperation::createForDocument(HTTPRequest request,
                                                                            DocumentSuccess success,
                                                                            DocumentFailure failure) {
    auto op = std::shared_ptr<XMLRequestOperation>(new XMLRequestOperation(std::move(request)));
    op->setDecodingCompletion(&XMLRequestOperation::responseXMLDocument, std::move(success),
                              std::move(failure));
    return op;
}

std::shared_ptr<XMLRequestOperation>
XMLRequestOperation::createForParser(HTTPRequest request, ParserSuccess success, ParserFailure failure) {
    auto op = std::shared_ptr<XMLRequestOperation>(new XMLRequestOperation(std::move(request)));
    // The parser's user drives it; building a tree nobody asked for would be waste.
    op->wantsDocument_ = false;
    op->setDecodingCompletion(&XMLRequestOperation::responseXMLParser, std::move(success),
                              std::move(failure));
    return op;
}

AcceptableSets& XMLRequestOperation::xmlSets() {
    static AcceptableSets sets(HTTPRequestOperation::acceptableStatusCodes(),
                               QSet<QString>{QStringLiteral("application/xml"), QStringLiteral("text/xml")});
    return sets;
}

bool XMLRequestOperation::canProcessRequest(const HTTPRequest& request) {
    return pathExtensionIs(request, QStringLiteral("xml")) ||
           acceptHeaderMeets(request, xmlSets().contentTypes());
}

QThreadPool& XMLRequestOperation::decodingPool() const {
    static QThreadPool* pool = new QThreadPool; // left alive: pool threads may outlast static destruction
    return *pool;
}

void XMLRequestOperation::decode() {
    if (wantsDocument_)
        responseXMLDocument();
    else
        responseXMLParser();
}

std::shared_ptr<XMLDocument> XMLRequestOperation::responseXMLDocument() {
    std::lock_guard guard(lock_);
    if (!documentDecoded_ && isFinished() && !responseData().isEmpty()) {
        documentDecoded_ = true;
        if (auto parsed = XMLDocument::parse(responseData()))
            document_ = std::move(*parsed);
        else
            xmlError_ = parsed.error();
    }
    return document_;
}

std::shared_ptr<XMLParser> XMLRequestOperation::responseXMLParser() {
    std::lock_guard guard(lock_);
    if (!parser_ && !responseData().isEmpty())
        parser_ = std::make_shared<XMLParser>(responseData());
    return parser_;
}

std::optional<Error> XMLRequestOperation::XMLError() {
    std::lock_guard guard(lock_);
    return xmlError_;
}

void XMLRequestOperation::cancel() {
    std::shared_ptr<XMLParser> parser;
    {
        std::lock_guard guard(lock_);
        parser = parser_;
    }
    if (parser)
        parser->detach();
    URLConnectionOperation::cancel();
}

} // namespace qm::net
