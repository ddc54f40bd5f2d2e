#pragma once

#include "net/json_request_operation.h"

#include <QStringList>

struct _xmlDoc;

namespace qm::net {

// A parsed XML document, queried with XPath 1.0.
class XMLDocument {
public:
    static platform::Result<std::shared_ptr<XMLDocument>> parse(const QByteArray& data);
    ~XMLDocument();
    // The string value of each node found, or the one value of a non-node result; empty for a bad expression.
    QStringList valuesForXPath(const QString& expression) const;
    _xmlDoc* raw() const { return doc_; }

private:
    explicit XMLDocument(_xmlDoc* doc)
        : doc_(doc) {}
    _xmlDoc* doc_;
};

// Event parser over a byte buffer; events go to whatever handlers are set when parse() runs.
class XMLParser {
public:
    struct Handlers {
        // Qualified names; attributes name to value, namespace declarations included.
        std::function<void(const QString& name, const QVariantMap& attributes)> startElement;
        std::function<void(const QString& name)> endElement;
        std::function<void(const QString& text)> characters;
    };
    explicit XMLParser(QByteArray data)
        : data_(std::move(data)) {}
    void setHandlers(Handlers handlers);
    // Stops delivering events, also in the middle of parse().
    void detach();
    bool parse();
    std::optional<platform::Error> parserError() const;

private:
    struct Callbacks;
    QByteArray data_;
    mutable std::mutex mutex_;
    Handlers handlers_;
    bool detached_ = false;
    std::optional<platform::Error> error_;
};

class XMLRequestOperation : public DecodingRequestOperation {
public:
    using DocumentSuccess = std::function<void(XMLRequestOperation&, const std::shared_ptr<XMLDocument>&)>;
    using DocumentFailure = std::function<void(XMLRequestOperation&, const platform::Error&,
                                               const std::shared_ptr<XMLDocument>&)>;
    using ParserSuccess = std::function<void(XMLRequestOperation&, const std::shared_ptr<XMLParser>&)>;
    using ParserFailure =
        std::function<void(XMLRequestOperation&, const platform::Error&, const std::shared_ptr<XMLParser>&)>;

    static std::shared_ptr<XMLRequestOperation>
    createForDocument(HTTPRequest request, DocumentSuccess success, DocumentFailure failure);
    static std::shared_ptr<XMLRequestOperation> createForParser(HTTPRequest request, ParserSuccess success,
                                                                ParserFailure failure);

    static StatusCodeSet acceptableStatusCodes() { return xmlSets().statusCodes(); }
    static ContentTypeSet acceptableContentTypes() { return xmlSets().contentTypes(); }
    static void addAcceptableStatusCodes(const StatusCodeSet& codes) { xmlSets().addStatusCodes(codes); }
    static void addAcceptableContentTypes(const QSet<QString>& types) { xmlSets().addContentTypes(types); }
    static bool canProcessRequest(const HTTPRequest& request);
    const AcceptableSets& sets() const override { return xmlSets(); }

    // Null when there is none; computed once, after the end, from a non-empty body.
    std::shared_ptr<XMLDocument> responseXMLDocument();
    std::shared_ptr<XMLParser> responseXMLParser();
    std::optional<platform::Error> XMLError();
    // Also detaches the event parser, so no more events reach its handlers.
    void cancel() override;

protected:
    using DecodingRequestOperation::DecodingRequestOperation;
    void decode() override;
    std::optional<platform::Error> decodingError() override { return XMLError(); }
    QThreadPool& decodingPool() const override;

private:
    static AcceptableSets& xmlSets();
    bool wantsDocument_ = true;
    bool documentDecoded_ = false;
    std::shared_ptr<XMLDocument> document_;
    std::shared_ptr<XMLParser> parser_;
    std::optional<platform::Error> xmlError_;
};

} // namespace qm::net
