#include "services/droplr/auth_utils.h"
#include "services/droplr/functions.h"
#include "services/droplr/json_parsers.h"
#include "services/droplr/service.h"
#include "support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::droplr {
namespace {

using platform::InvalidArgument;

TEST(DroplrFunctions, EncodersDigestsAndSizes) {
    EXPECT_EQ(base62Encode(0), "0");
    EXPECT_EQ(base62Encode(61), "z");
    EXPECT_EQ(base62Encode(62), "10");
    EXPECT_EQ(prettySize(1023), "1023.0B");
    EXPECT_EQ(prettySize(1536), "1.5KB");
    EXPECT_EQ(prettySize(-1), "n/a");
    EXPECT_EQ(prettyTransferRate(3 * 1048576.0), "3.0MB/s");
    EXPECT_EQ(base64DecodeAsData(QStringLiteral(" QUJD\r\nRA==\t")), QByteArray("ABCD"));
    EXPECT_FALSE(base64DecodeAsData(QStringLiteral("QUJD*")));
    EXPECT_FALSE(base64DecodeAsData(QStringLiteral("QUJDR===")));
    EXPECT_TRUE(base64Encode(QString()).isNull());
    EXPECT_EQ(sha1(QStringLiteral("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(
        QString::fromLatin1(hmacSha1WithKey(QStringLiteral("what do ya want for nothing?"), "Jefe").toHex()),
        "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"); // RFC 2202, case 2
    EXPECT_EQ(urlEncode(QStringLiteral("a b&c=d/e?f#g+h")), "a%20b%26c%3Dd%2Fe%3Ff%23g%2Bh");
    EXPECT_LE(DropStub::generateRandomPassword().size(), 8);
}

TEST(DroplrFunctions, TextFormsReadByTheirLetter) {
    for (const char* link : {"link", "LINK", "xylophone"})
        EXPECT_EQ(dropTypeFromString(QString::fromLatin1(link)), DropType::Link) << link;
    EXPECT_EQ(dropTypeFromString(QString()), DropType::Unknown);
    EXPECT_EQ(dropTypeFromString(QStringLiteral("FILE")), DropType::File);
    EXPECT_EQ(dropPrivacyFromString(QStringLiteral("PRIVATE")), DropPrivacy::Private);
    EXPECT_EQ(dropPrivacyFromString(QStringLiteral("obscure")), DropPrivacy::Obscure);
    EXPECT_EQ(dropPrivacyFromString(QStringLiteral("P")), DropPrivacy::Public);
    EXPECT_EQ(accountTypeFromString(toString(AccountType::Business)), AccountType::Regular);
    EXPECT_EQ(selfDestructTypeFromString(QStringLiteral("Views")), SelfDestructType::Views);
    EXPECT_EQ(toString(ListSortBy::Unset), QString());
}

TEST(DroplrFunctions, ListFilterQuery) {
    EXPECT_TRUE(ListFilter().isEmpty());
    EXPECT_FALSE(ListFilter().asDictionary());
    ListFilter search;
    search.searchTerm = QStringLiteral("cats");
    EXPECT_EQ(search.asDictionary(), (json::Object{{QStringLiteral("search"), QStringLiteral("cats")}}));
    const ListFilter page =
        ListFilter::dropsOfType(DropType::Image, 5, 500, ListSortBy::Size, ListSortOrder::Ascending);
    EXPECT_EQ(page.amount, 100);
    EXPECT_EQ(page.asDictionary()->keys(), (QStringList{"offset", "amount", "type", "sort_by", "order"}));
}

platform::Result<QVariant> parse(const ResponseParser& parser, const QByteArray& json) {
    return parser.parse({}, json);
}

QString failure(const platform::Result<QVariant>& result) {
    return result ? QStringLiteral("(parsed)")
                  : QStringLiteral("%1 %2").arg(result.error().code).arg(result.error().localizedDescription);
}

constexpr char kDropHead[] = R"("code":"a1","createdAt":9007199254740993,"title":"t","size":2147483648,)"
                             R"("shortlink":"https://d.pr/a1","obscureCode":"x",)";

TEST(DroplrParsers, AccountsAndDropsGoodAndBroken) {
    const auto account = parse(JsonAccountParser(), R"({"id":"u","createdAt":1356998400123,"type":"pro",
        "subscriptionEnd":4102444800000,"email":"me@x.org","dropPrivacy":"OBSCURE","trial":true})");
    ASSERT_TRUE(account) << failure(account).toStdString();
    EXPECT_EQ(account->value<Account>().createdAt, 1356998400123);
    EXPECT_EQ(account->value<Account>().type, AccountType::Pro);
    EXPECT_EQ(account->value<Account>().dropPrivacy, DropPrivacy::Obscure);
    EXPECT_EQ(
        failure(parse(JsonAccountParser(), R"({"id":"u","createdAt":1,"type":"pro","subscriptionEnd":1})")),
        "1001 Field 'email' is missing in response.");

    const JsonDropParser drops;
    const auto exact = parse(drops, QByteArray("{") + kDropHead + R"("type":"LINK","privacy":"PUBLIC"})");
    ASSERT_TRUE(exact) << failure(exact).toStdString();
    EXPECT_EQ(exact->value<Drop>().createdAt, 9007199254740993); // past a double's exact range
    EXPECT_EQ(exact->value<Drop>().size, 2147483648);
    const auto withPrivacy = [&](const char* rest) {
        return parse(drops, QByteArray("{") + kDropHead + rest);
    };
    EXPECT_EQ(failure(withPrivacy(R"("type":"link","privacy":"PRIVATE"})")),
              "1001 Field 'password' is missing in response.");
    EXPECT_TRUE(withPrivacy(R"("type":"link","privacy":"Obscure"})"));
    EXPECT_EQ(failure(withPrivacy(R"("type":"","privacy":"Public"})")), "1003 Unknown drop type");
    EXPECT_EQ(failure(withPrivacy(R"("type":"file","privacy":"Public"})")),
              "1001 Field 'fileCreatedAt' is missing in response.");
    EXPECT_TRUE(parse(JsonDropCreationParser(),
                      QByteArray("{") + kDropHead + R"("type":"file","privacy":"Public"})"));
    const auto views =
        withPrivacy(R"("type":"link","privacy":"Public","selfDestructType":"views","selfDestructValue":3})");
    EXPECT_EQ(views->value<Drop>().selfDestructValue, 3);
    const auto none =
        withPrivacy(R"("type":"link","privacy":"Public","selfDestructType":"NONE","selfDestructValue":3})");
    EXPECT_FALSE(none->value<Drop>().selfDestructValue);
    EXPECT_EQ(failure(parse(drops, R"({"code":"a","createdAt":1,"type":"link","title":5})")),
              "1002 Expecting field 'title' to be same type or subtype of NSString but was NSNumber.");
    EXPECT_EQ(failure(parse(drops, R"({"code":null})")),
              "1002 Expecting field 'code' to be same type or subtype of NSString but was NSNull.");
    EXPECT_EQ(failure(drops.parse({}, {})), "1000 Data is nil or empty, nothing to decode.");
    EXPECT_EQ(drops.parse({}, "{\"code\": \"a\"<{").error().domain, json::kErrorDomain);
}

TEST(DroplrParsers, ListsAndAccessTokens) {
    const JsonDropListParser lists;
    EXPECT_TRUE(lists.parse({}, {})->value<QList<Drop>>().isEmpty());
    const QByteArray good = QByteArray("{") + kDropHead + R"("type":"note","privacy":"Public"})";
    const auto two = parse(lists, "[" + good + "," + good + "]");
    ASSERT_TRUE(two) << failure(two).toStdString();
    EXPECT_EQ(two->value<QList<Drop>>().size(), 2);
    EXPECT_EQ(failure(parse(lists, "[" + good + R"(,{"code":"b"}])")),
              "1001 Field 'createdAt' is missing in response.");

    const auto user = parse(JsonAuthParser(),
                            R"({"droplr":{"access_token_public":"Me@X.org","access_token_secret":"ABC"}})");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->value<UserCredentials>().hashedPassword(), "ABC");
    EXPECT_EQ(failure(parse(JsonAuthParser(), R"({"droplr":{"access_token_public":"a"}})")),
              "1001 Field 'access_token_secret' is missing in response.");
}

TEST(DroplrSigning, StringToSignAndAuthorization) {
    EXPECT_EQ(AuthUtils::stringToSign("/account", "GET", "1400000000000", QString()),
              "GET /account HTTP/1.1\n\n1400000000000");
    const AppCredentials app(QStringLiteral("ABCDEF"), QStringLiteral("secret"));
    const auto upper =
        UserCredentials::withClearPassword(QStringLiteral("Me@Example.COM"), QStringLiteral("pw"));
    const auto lowerCase =
        UserCredentials::withClearPassword(QStringLiteral("me@example.com"), QStringLiteral("pw"));
    EXPECT_EQ(AuthUtils::accessKey(app, upper), base64Encode(QStringLiteral("abcdef:me@example.com")));
    EXPECT_EQ(AuthUtils::accessSecret(app, upper), "secret:" + sha1(QStringLiteral("pw")));
    const QString signature = AuthUtils::signatureForRequest("/files", "POST", "1", "text/plain", app, upper);
    EXPECT_EQ(signature, AuthUtils::signatureForRequest("/files", "POST", "1", "text/plain", app, lowerCase));
    EXPECT_TRUE(signature.startsWith("droplr " + AuthUtils::accessKey(app, upper) + ":"));
    EXPECT_TRUE(AuthUtils::anonymousSignatureForRequest("/a", "GET", "1", {}, app).startsWith("droplranon "));
    EXPECT_EQ(AuthUtils::loginURL("https://auth", "qm", true),
              "https://auth/login?callback=qm&closewhendone=true");
    EXPECT_EQ(AuthUtils::registerURL("https://auth", "qm", false), "https://auth/register?callback=qm");
}

QString reason(const std::function<void()>& build) {
    try {
        build();
    } catch (const InvalidArgument& error) {
        return error.reason();
    }
    return {};
}

TEST(DroplrService, Validations) {
    EXPECT_EQ(reason([] { Service(QString(65, 'u'), {}); }), "Invalid UA.");
    EXPECT_EQ(reason([] { Service(QString(64, 'u'), {}); }), QString());
    EXPECT_THROW(Service(QStringLiteral("ua"), {}).readAccount(), IllegalStateException);
    const QString base = QStringLiteral("http://h.io/");
    EXPECT_TRUE(Service::isValidLink(QUrl(base + QString(10240 - base.size(), 'a'))));
    EXPECT_FALSE(Service::isValidLink(QUrl(base + QString(10241 - base.size(), 'a'))));
    EXPECT_FALSE(Service::isValidLink(QUrl(QStringLiteral("ftp://h.io/"))));
    EXPECT_TRUE(Service::isValidNote(QString(1048576, 'n')));
    EXPECT_FALSE(Service::isValidNote(QString(1048577, 'n')));
    EXPECT_TRUE(Service::isValidMimeType("a/b"));
    for (const char* type : {"/ab", "ab/", "abc"})
        EXPECT_FALSE(Service::isValidMimeType(QString::fromLatin1(type))) << type;
    for (const char* password : {"abc", "abc!", "a23456789012345678901234567890123"})
        EXPECT_FALSE(Service::isValidPassword(QString::fromLatin1(password))) << password;
    EXPECT_TRUE(Service::isValidPassword("aB34"));
    EXPECT_TRUE(Service::isValidPassword(QString(32, 'z')));

    EXPECT_EQ(Service(QStringLiteral("ua"), AppCredentials(QStringLiteral("PK"), QStringLiteral("S")))
                  .description(),
              "DKService{server='http://sandbox.droplr.com:8069/', "
              "appCredentials=DKAppCredentials{publicKey='pk'}}");
    DropCreation drop;
    drop.code = QStringLiteral("c");
    drop.createdAt = -1;
    drop.type = DropType::File;
    drop.size = 1536;
    EXPECT_EQ(drop.description(),
              "DKDropCreation{code='c', createdAt=n/a, type='File', title='', size=1.5KB, shortlink=''}");
    EXPECT_EQ(Service::nameForDrop(QStringLiteral("a"), QStringLiteral("png"), false), "a.png");
}

TEST(DroplrService, RequestsAreBuiltAndSignedLast) {
    Service service(QStringLiteral("Quillmoor/1.0"),
                    AppCredentials(QStringLiteral("K"), QStringLiteral("S")));
    service.setEndpoint(QUrl(QStringLiteral("http://api.test/v1/")));
    service.setUserCredentials(UserCredentials::withClearPassword("me@x.org", "pw"));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("my file.txt"));
    test::writeFile(path, "hello");
    net::HTTPRequest upload = service.uploadFile(path)->request();
    EXPECT_EQ(upload.url.toString(QUrl::FullyEncoded), "http://api.test/v1/files?filename=my%20file.txt");
    EXPECT_EQ(upload.header("Content-Type"), "text/plain");
    EXPECT_EQ(upload.header("User-Agent"), "DKClient/2.1.2 Quillmoor/1.0");
    EXPECT_EQ(upload.header("Accept"), "application/json;v=0.9");
    EXPECT_EQ(upload.header("Authorization"),
              AuthUtils::signatureForRequest("/v1/files", "POST", QString::fromLatin1(upload.header("Date")),
                                             "text/plain", service.appCredentials(),
                                             *service.userCredentials())
                  .toUtf8());
    const Options options{
        {"privacy", static_cast<int>(DropPrivacy::Private)}, {"color", "red"}, {"title", "a&b=c d"}};
    EXPECT_EQ(service.shortenLink(QUrl("https://x.org/"), options)->url().query(QUrl::FullyEncoded),
              "privacy=Private&title=a%26b%3Dc%20d");
    EXPECT_FALSE(service.listDrops(ListFilter())->url().hasQuery());
    EXPECT_EQ(service.createNote("hi", NoteType::Unknown)->request().header("Content-Type"), "text/plain");
    EXPECT_EQ(service.updateDropTitle("c1", "t")->request().body, R"({"title":"t"})");
    EXPECT_EQ(reason([&] { service.uploadData("x", "a/b", Options{}); }), "Missing filename.");
    EXPECT_EQ(reason([&] { service.deleteDrop(QString()); }), "Code cannot be nil or empty.");
}

} // namespace
} // namespace qm::droplr
