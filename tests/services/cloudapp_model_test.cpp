#include "services/cloudapp/api_deserializer.h"
#include "services/cloudapp/api_serializer.h"
#include "services/cloudapp/unicode_url.h"
#include "support/test_support.h"
#include "json/value.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

using namespace qm::cloudapp;

QByteArray readAll(QIODevice& device) {
    EXPECT_TRUE(device.open(QIODevice::ReadOnly));
    QByteArray bytes;
    char buffer[7]; // small windows cross every part boundary
    for (qint64 got; (got = device.read(buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    return bytes;
}

TEST(CloudAppModel, ItemFromJSONReadsEveryField) {
    const auto item = APIDeserializer::webItemWithJSONDictionaryData(R"({
        "name": "report.pdf", "item_type": "Image", "url": "http://bücher.example/a b", "view_counter": 7,
        "remote_url": "http://s3.example/items/report.pdf", "href": "http://my.example/items/3",
        "icon": "http://my.example/icon.png", "private": true, "created_at": "2026-12-07T01:02:03Z",
        "updated_at": "2026-12-07T01:02:03.5Z", "deleted_at": null})");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->type, ItemType::Image);
    EXPECT_EQ(item->URL.toEncoded(), "http://xn--bcher-kva.example/a%20b");
    EXPECT_EQ(item->viewCount, 7);
    EXPECT_EQ(item->remoteURL, QUrl(QStringLiteral("http://s3.example/items/report.pdf")));
    EXPECT_EQ(item->iconURL, QUrl(QStringLiteral("http://my.example/icon.png")));
    EXPECT_TRUE(item->isPrivate);
    EXPECT_EQ(item->createdAt, QDateTime(QDate(2026, 12, 7), QTime(1, 2, 3), QTimeZone::utc()));
    EXPECT_FALSE(item->updatedAt.isValid()); // fractional seconds do not parse
    EXPECT_FALSE(item->trashed);
    EXPECT_EQ(item->description(),
              QStringLiteral("<WebItem: report.pdf (7) http://xn--bcher-kva.example/a%20b>"));
}

TEST(CloudAppModel, TypesBookmarksAndTrash) {
    EXPECT_EQ(APIDeserializer::webItemTypeForTypeString(QStringLiteral("VIDEO")), ItemType::Video);
    EXPECT_EQ(APIDeserializer::webItemTypeForTypeString(QStringLiteral("pdf")), ItemType::Unknown);
    EXPECT_EQ(APISerializer::webItemTypeStringForType(ItemType::Unknown), QStringLiteral("unknown"));
    EXPECT_EQ(APISerializer::webItemTypeStringForType(ItemType::All), QStringLiteral("unknown"));
    EXPECT_EQ(APISerializer::webItemTypeStringForType(ItemType::Archive), QStringLiteral("archive"));

    const auto bookmark = APIDeserializer::webItemWithJSONDictionaryData(
        R"({"item_type": "bookmark", "redirect_url": "http://xn--bcher-kva.example/x", "remote_url": "http://no",
            "deleted_at": "2026-01-02T03:04:05Z"})");
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->name, QStringLiteral("http://bücher.example/x"));
    EXPECT_EQ(bookmark->remoteURL.host(), QStringLiteral("xn--bcher-kva.example"));
    EXPECT_TRUE(bookmark->trashed);
    EXPECT_FALSE(APIDeserializer::webItemWithJSONDictionaryData("[1]"));
    EXPECT_FALSE(APIDeserializer::arrayFromJSONData("{}"));
    EXPECT_FALSE(APIDeserializer::dictionaryFromJSONData(""));
    EXPECT_FALSE(APIDeserializer::dictionaryFromJSONData("{\"a\": "));
    const auto list = APIDeserializer::webItemArrayWithJSONArrayData(R"([{"name": "a"}, {"name": "b"}])");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2);
    EXPECT_EQ(list->at(1).name, QStringLiteral("b"));
}

TEST(CloudAppModel, AccountAndSocket) {
    const auto account = APIDeserializer::accountWithJSONDictionaryData(R"({
        "domain": "http://bücher.example", "domain_home_page": null, "alpha": true, "private_items": false,
        "email": "a@b.example", "subscription_expires_at": "2027-02-03", "subscribed": true,
        "socket": {"api_key": "k", "app_id": 12, "auth_url": "http://p.example/auth", "channels": {"items": "c"}}})");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->domain.host(), QStringLiteral("xn--bcher-kva.example"));
    EXPECT_TRUE(account->domainHomePage.isEmpty());
    EXPECT_TRUE(account->alphaUser);
    EXPECT_EQ(account->type, Account::Subscribed);
    EXPECT_EQ(account->subscriptionExpiresAt, QDateTime(QDate(2027, 2, 3), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(account->socket.appID, 12);
    EXPECT_EQ(account->socket.channels.value(QStringLiteral("items")).toString(), QStringLiteral("c"));
    EXPECT_TRUE(APIDeserializer::socketWithJSONDictionaryData(R"({"channels": [1]})")->channels.isEmpty());

    EXPECT_EQ(Account::fromArchive(account->archive()), *account);
    WebItem item = APIDeserializer::webItemWithAPIDictionary({});
    item.name = QStringLiteral("x");
    item.deletedAt = QDateTime(QDate(2026, 1, 1), QTime(1, 1), QTimeZone::utc());
    item.icon = "PNG";
    EXPECT_EQ(WebItem::fromArchive(item.archive()), item);
    EXPECT_TRUE(item.archive().contains(QStringLiteral("CLWebItemDeletedAtKey")));
}

TEST(CloudAppModel, SerializedBodies) {
    EXPECT_EQ(APISerializer::accountWithEmail(QStringLiteral("a@b"), QStringLiteral("pw"), true),
              R"({"user":{"email":"a@b","password":"pw","accept_tos":true}})");
    EXPECT_TRUE(APISerializer::accountWithEmail(QStringLiteral("a@b"), {}, true).isNull());
    EXPECT_EQ(APISerializer::itemWithName(QStringLiteral("n")), R"({"item":{"name":"n"}})");
    EXPECT_EQ(APISerializer::itemWithPrivate(false), R"({"item":{"private":"false"}})");
    EXPECT_EQ(APISerializer::itemForRestore(), R"({"item":{"deleted_at":null},"deleted":true})");
    EXPECT_EQ(
        APISerializer::bookmarkWithURL(QUrl(QStringLiteral("http://a.example/x")), QStringLiteral("x"), true),
        R"({"item":{"redirect_url":"http://a.example/x","name":"x","private":"true"}})");
    EXPECT_TRUE(APISerializer::bookmarkWithURL(QUrl(), QStringLiteral("x")).isNull());
    EXPECT_EQ(APISerializer::receiptWithBase64String(QStringLiteral("AAA=")), R"({"receipt-data":"AAA="})");
    EXPECT_TRUE(APISerializer::JSONDataFromDictionary(QVariantList{1}).isNull());
    EXPECT_EQ(APISerializer::JSONDataFromArray(QVariantList{1, QStringLiteral("a")}), R"([1,"a"])");
    // Round trip: what is written reads back as the same item.
    const auto back =
        APIDeserializer::dictionaryFromJSONData(APISerializer::itemWithName(QStringLiteral("ü")));
    ASSERT_TRUE(back);
    EXPECT_EQ(APIDeserializer::objectFrom(back->value(QStringLiteral("item"))).value(QStringLiteral("name")),
              QStringLiteral("ü"));
}

TEST(CloudAppModel, UnicodeURLs) {
    EXPECT_EQ(convertUnicodeURLText(QStringLiteral("http://user@bücher.example:8080/ä b?q=1#f"), true),
              QStringLiteral("http://user@xn--bcher-kva.example:8080/%C3%A4%20b?q=1#f"));
    EXPECT_EQ(unicodeAbsoluteString(QUrl(QStringLiteral("http://xn--bcher-kva.example/%41"))),
              QStringLiteral("http://bücher.example/A"));
    // A host IDNA refuses stays as it was.
    EXPECT_EQ(convertUnicodeURLText(QStringLiteral("http://a..b/"), true), QStringLiteral("http://a..b/"));
    EXPECT_EQ(convertUnicodeURLText(QStringLiteral("mailto:x"), true), QStringLiteral("mailto://"));
    EXPECT_EQ(urlWithUnicodeString(QStringLiteral("https://ÄÖ.example/")).host(),
              QStringLiteral("xn--4ca0b.example"));
}

TEST(CloudAppModel, StorageRequestStreamsTheFileAfterTheFieldsInOrder) {
    QTemporaryDir dir;
    const QString decomposed = QStringLiteral("Re\u0301sume\u0301.pdf");
    const QString path = dir.filePath(QStringLiteral("file"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4 body");
    file.close();
    const auto answer = APIDeserializer::dictionaryFromJSONData(
        R"({"url": "http://s3.example/", "params": {"z": "1", "a": "2"}})");
    ASSERT_TRUE(answer);
    const auto request = APIDeserializer::URLRequestWithS3ParametersDictionary(
        *answer, UploadSource::fromFile(decomposed, path));
    ASSERT_TRUE(request);
    const QByteArray b = APIDeserializer::boundary();
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->header("Content-Type"), "multipart/form-data; boundary=" + b + "; charset=UTF-8");
    EXPECT_EQ(request->header("Accept"), "application/json");
    const QByteArray expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"z\"\r\n\r\n1\r\n--" +
                                b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n2\r\n--" + b +
                                "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                                QStringLiteral("R\u00e9sum\u00e9.pdf").toUtf8() +
                                "\"\r\nContent-Type: application/pdf\r\n\r\n%PDF-1.4 body\r\n--" + b +
                                "--\r\n";
    EXPECT_EQ(request->bodyLength, expected.size());
    EXPECT_EQ(readAll(*request->bodyDevice), expected);
    // A resend after a redirect or challenge starts from the first byte.
    ASSERT_TRUE(request->bodyDevice->seek(0));
    EXPECT_EQ(request->bodyDevice->read(expected.size() + 5), expected);

    const auto unnamed =
        APIDeserializer::URLRequestWithS3ParametersDictionary(*answer, UploadSource::fromData({}, "x"));
    EXPECT_TRUE(readAll(*unnamed->bodyDevice)
                    .contains("filename=\"UnknownFileName\"\r\nContent-Type: application/octet-stream\r\n"));
    EXPECT_FALSE(APIDeserializer::URLRequestWithS3ParametersDictionaryData(
        R"({"url": "http://s3/", "params": {}})", UploadSource::fromData({}, "x")));
    EXPECT_FALSE(APIDeserializer::URLRequestWithS3ParametersDictionaryData(
        R"({"url": "", "params": {"a": "b"}})", UploadSource::fromData({}, "x")));
}

} // namespace
} // namespace qm::test
