#include "net/json_request_operation.h"
#include "net/property_list_request_operation.h"
#include "net/xml_reader.h"
#include "net/xml_request_operation.h"
#include "platform/dispatch.h"
#include "platform/property_list.h"
#include "support/operation_outcome.h"
#include "support/test_server.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace qm::net;
using qm::platform::Error;
using qm::test::waitUntil;

namespace {

struct Server : qm::test::TestServer {
    Server() {
        auto reply = [this](const char* path, int status, std::string body, const char* type) {
            route("GET", path, [=](const httplib::Request&, httplib::Response& res) {
                res.status = status;
                res.set_content(body, type);
            });
        };
        reply("/empty", 200, "", "application/json");
        reply("/invalid", 200, "{\"a\": ", "application/json");
        reply("/ok.json", 200, R"({"a": [1, 2]})", "text/javascript");
        reply("/missing", 404, R"({"error": "missing"})", "application/json");
        reply("/html", 200, "<p>x</p>", "text/html");
        reply("/feed", 200, R"(<feed><item id="1">one</item><item id="2">two</item></feed>)", "text/xml");
        reply("/broken.xml", 200, "<feed><item></feed>", "application/xml");
        const QByteArray plist = qm::platform::plist::toXml(QVariantMap{{QStringLiteral("k"), 7}});
        reply("/list.plist", 200, plist.toStdString(), "application/x-plist");
    }
    HTTPRequest request(const char* path) const { return HTTPRequest(url(QLatin1String(path))); }
};

// Records where decoding ran.
class ObservedJSONOperation : public JSONRequestOperation {
public:
    static std::shared_ptr<ObservedJSONOperation> create(HTTPRequest request) {
        return std::shared_ptr<ObservedJSONOperation>(new ObservedJSONOperation(std::move(request)));
    }
    std::atomic<int> decodedOffMain{0}, decodedOnMain{0};

protected:
    using JSONRequestOperation::JSONRequestOperation;
    void decode() override {
        ++(qm::platform::dispatch::isMainThread() ? decodedOnMain : decodedOffMain);
        JSONRequestOperation::decode();
    }
};

} // namespace

TEST(ResponseDecoding, JSONDecodedOffTheMainThreadDeliveredOnIt) {
    Server server;
    auto op = ObservedJSONOperation::create(server.request("/ok.json"));
    const auto outcome = qm::test::run(op);
    EXPECT_EQ(outcome->successes, 1);
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(op->decodedOffMain, 1);
    EXPECT_EQ(op->decodedOnMain, 0);
    EXPECT_EQ(outcome->object.toMap().value(QStringLiteral("a")).toList().size(), 2);
}

TEST(ResponseDecoding, JSONEmptyBodySucceedsWithNoValue) {
    Server server;
    const auto outcome = qm::test::run(JSONRequestOperation::create(server.request("/empty")));
    EXPECT_EQ(outcome->successes, 1);
    EXPECT_FALSE(outcome->object.isValid());
}

TEST(ResponseDecoding, InvalidJSONFailsWithTheParseError) {
    Server server;
    auto op = JSONRequestOperation::create(server.request("/invalid"));
    const auto outcome = qm::test::run(op);
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_FALSE(outcome->object.isValid());
    EXPECT_EQ(outcome->error, op->JSONError());
}

TEST(ResponseDecoding, NotFoundCarriesTheStatusErrorAndTheDecodedBody) {
    Server server;
    const auto outcome = qm::test::run(JSONRequestOperation::create(server.request("/missing")));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->code, kNetErrorBadServerResponse);
    EXPECT_EQ(outcome->object.toMap().value(QStringLiteral("error")).toString(), QStringLiteral("missing"));
}

TEST(ResponseDecoding, OtherContentTypeIsRejected) {
    Server server;
    const auto outcome = qm::test::run(JSONRequestOperation::create(server.request("/html")));
    ASSERT_EQ(outcome->failures, 1);
    EXPECT_EQ(outcome->error->code, kNetErrorCannotDecodeContentData);
    EXPECT_EQ(JSONRequestOperation::acceptableContentTypes(),
              (QSet<QString>{QStringLiteral("application/json"), QStringLiteral("text/json"),
                             QStringLiteral("text/javascript")}));
}

TEST(ResponseDecoding, LoneSpaceAndUndecodableText) {
    const auto nothing = decodeJSONText(QStringLiteral(" "));
    ASSERT_TRUE(nothing);
    EXPECT_FALSE(nothing->isValid());
    const QString broken = QStringLiteral("[") + QChar(0xD800) + QStringLiteral("]");
    const auto decoded = decodeJSONText(broken);
    ASSERT_FALSE(decoded);
    const Error& error = decoded.error();
    EXPECT_EQ(error.domain, QStringLiteral("QMNetErrorDomain"));
    EXPECT_EQ(error.code, -1016);
    EXPECT_EQ(error.localizedDescription,
              QStringLiteral("Operation responseData failed decoding as a UTF-8 string"));
    EXPECT_EQ(error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString(),
              QStringLiteral("Could not decode string: ") + broken);
}

TEST(ResponseDecoding, ClaimsByPathExtensionOrAcceptHeader) {
    const HTTPRequest json(QUrl(QStringLiteral("http://h/a/b.json?x=1")));
    EXPECT_TRUE(JSONRequestOperation::canProcessRequest(json));
    EXPECT_FALSE(XMLRequestOperation::canProcessRequest(json));
    HTTPRequest plain(QUrl(QStringLiteral("http://h/a/b")));
    EXPECT_FALSE(JSONRequestOperation::canProcessRequest(plain));
    plain.setHeader("Accept", "text/html, text/json;q=0.5");
    EXPECT_TRUE(JSONRequestOperation::canProcessRequest(plain));
    EXPECT_TRUE(XMLRequestOperation::canProcessRequest(HTTPRequest(QUrl(QStringLiteral("http://h/f.xml")))));
    EXPECT_TRUE(PropertyListRequestOperation::canProcessRequest(
        HTTPRequest(QUrl(QStringLiteral("http://h/f.plist")))));
}

TEST(ResponseDecoding, XMLDocumentAnswersXPath) {
    Server server;
    std::shared_ptr<XMLDocument> document;
    std::atomic<int> calls{0};
    auto op = XMLRequestOperation::createForDocument(
        server.request("/feed"),
        [&](XMLRequestOperation&, const std::shared_ptr<XMLDocument>& d) {
            document = d;
            ++calls;
        },
        [&](XMLRequestOperation&, const Error&, const std::shared_ptr<XMLDocument>&) { ++calls; });
    op->start();
    ASSERT_TRUE(waitUntil([&] { return calls > 0; }));
    ASSERT_TRUE(document);
    EXPECT_EQ(document, op->responseXMLDocument());
    EXPECT_EQ(document->valuesForXPath(QStringLiteral("//item/@id")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(document->valuesForXPath(QStringLiteral("count(/feed/item)")),
              QStringList{QStringLiteral("2")});
    EXPECT_TRUE(document->valuesForXPath(QStringLiteral("//[")).isEmpty());
}

TEST(ResponseDecoding, MalformedXMLFailsWithXMLError) {
    Server server;
    std::optional<Error> error;
    auto op = XMLRequestOperation::createForDocument(
        server.request("/broken.xml"), {},
        [&](XMLRequestOperation&, const Error& e, const std::shared_ptr<XMLDocument>& d) {
            EXPECT_FALSE(d);
            error = e;
        });
    op->start();
    ASSERT_TRUE(waitUntil([&] { return error.has_value(); }));
    EXPECT_EQ(error, op->XMLError());
}

TEST(ResponseDecoding, XMLParserGivesEventsUntilDetachedByCancel) {
    Server server;
    std::shared_ptr<XMLParser> parser;
    auto op = XMLRequestOperation::createForParser(
        server.request("/feed"),
        [&](XMLRequestOperation&, const std::shared_ptr<XMLParser>& p) { parser = p; }, {});
    op->start();
    ASSERT_TRUE(waitUntil([&] { return parser != nullptr; }));
    int starts = 0;
    parser->setHandlers({[&](const QString&, const QVariantMap&) { ++starts; }, {}, {}});
    EXPECT_TRUE(parser->parse());
    EXPECT_EQ(starts, 3);
    static_cast<URLConnectionOperation&>(*op).cancel(); // as a client or queue holding it would
    starts = 0;
    parser->parse();
    EXPECT_EQ(starts, 0);
}

TEST(ResponseDecoding, PropertyListWithItsFormat) {
    Server server;
    QVariant plist;
    auto op = PropertyListRequestOperation::create(
        server.request("/list.plist"), [&](PropertyListRequestOperation&, const QVariant& p) { plist = p; });
    op->start();
    ASSERT_TRUE(waitUntil([&] { return plist.isValid(); }));
    EXPECT_EQ(plist.toMap().value(QStringLiteral("k")).toInt(), 7);
    EXPECT_EQ(op->propertyListFormat(), PropertyListRequestOperation::XMLFormat);
}

TEST(XMLReader, SiblingsBecomeAnArrayInDocumentOrder) {
    const auto result =
        XMLReader::dictionaryForXMLString(QStringLiteral(R"(<r><item id="a"/><item>second</item></r>)"));
    ASSERT_TRUE(result);
    const QVariantList items =
        result->value(QStringLiteral("r")).toMap().value(QStringLiteral("item")).toList();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toMap(), (QVariantMap{{QStringLiteral("id"), QStringLiteral("a")}}));
    EXPECT_EQ(items[1].toMap().value(QStringLiteral("text")).toString(), QStringLiteral("second"));
}

TEST(XMLReader, ThirdSiblingIsAppended) {
    const auto result = XMLReader::dictionaryForXMLString(QStringLiteral("<r><i>1</i><i>2</i><i>3</i></r>"));
    ASSERT_TRUE(result);
    const QVariantList items = result->value(QStringLiteral("r")).toMap().value(QStringLiteral("i")).toList();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[2].toMap().value(QStringLiteral("text")).toString(), QStringLiteral("3"));
}

TEST(XMLReader, OneBufferCarriesTextToTheNextElementThatEnds) {
    const auto result = XMLReader::dictionaryForXMLString(QStringLiteral("<a>\n<b>x</b>\n</a>"));
    ASSERT_TRUE(result);
    const QVariantMap a = result->value(QStringLiteral("a")).toMap();
    EXPECT_EQ(a.value(QStringLiteral("b")).toMap().value(QStringLiteral("text")).toString(),
              QStringLiteral("\nx"));
    EXPECT_EQ(a.value(QStringLiteral("text")).toString(), QStringLiteral("\n"));
}

TEST(XMLReader, ParseErrorGivesNothingAndTheError) {
    const auto result = XMLReader::dictionaryForXMLData("<a><b></a>");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().code, 0);
    EXPECT_FALSE(result.error().localizedDescription.isEmpty());
}
