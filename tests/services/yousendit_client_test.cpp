#include "fake_yousendit.h"
#include "services/yousendit/async_connection.h"
#include "services/yousendit/dictionary_values.h"
#include "services/yousendit/you_send_it.h"
#include "services/yousendit/ys_error.h"
#include "support/test_support.h"

#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace ys = yousendit;
using NI = ys::NetworkInterface;

// The client blocks, so the tests call it from a thread of their own, as the uploader does from the pool.
template <typename Call> auto offMain(Call call) {
    return std::async(std::launch::async, std::move(call)).get();
}

class YouSendItClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.addAccount("me@example.org", "p&ss=w+rd ü");
        client.setServerUrl(fake.url().toString() + "/");
        client.setApiKey(QString::fromLatin1(FakeYouSendIt::kApiKey));
    }
    platform::Result<ys::AuthToken> login(const QString& password = QStringLiteral("p&ss=w+rd ü")) {
        return offMain(
            [&] { return client.loginWithEmail(QStringLiteral("me@example.org"), password, runner); });
    }

    FakeYouSendIt fake;
    ys::YouSendIt client;
    net::BlockingRequestRunner runner;
    QTemporaryDir temp;
};

TEST(YouSendItEncodingTest, FormValuesAreEscapedAndListsJoined) {
    EXPECT_EQ(NI::stringFromDictionary({{"email", "a@b.c"}, {"password", "a&b=c+d e/ü"}}),
              QStringLiteral("email=a%40b.c&password=a%26b%3Dc%2Bd%20e%2F%C3%BC"));
    EXPECT_TRUE(NI::stringFromDictionary({}).isNull());
    EXPECT_EQ(NI::stringFromArray({"a@x.org", "b@y.org"}), QStringLiteral("a@x.org,b@y.org"));
    EXPECT_EQ(NI::stringFromItemType(1) + NI::stringFromItemType(2) + NI::stringFromItemType(7),
              QStringLiteral("expiredunexpiredall"));
    EXPECT_EQ(NI::stringFromFolderPermissionType(1) + NI::stringFromFolderPermissionType(0),
              QStringLiteral("writeread"));
    EXPECT_TRUE(NI::isNumberFromString(QStringLiteral("12.5")));
    EXPECT_FALSE(NI::isNumberFromString(QString()));
    EXPECT_EQ(NI::escapedFileName(QStringLiteral("a\"b\r\n.txt")), QStringLiteral("a%22b%0D%0A.txt"));
}

TEST(YouSendItEncodingTest, RequestsCarryKeyAcceptTokenAndTimeout) {
    ys::Endpoint endpoint{QStringLiteral("https://api.test"), QStringLiteral("key"), {}};
    net::HTTPRequest before = NI::prepareUploadURLForNewItemRequest(endpoint, {{"recipients", "a,b"}});
    EXPECT_EQ(before.url.toString(), QStringLiteral("https://api.test/dpi/v1/item/send"));
    EXPECT_EQ(before.header("X-Api-Key"), "key");
    EXPECT_EQ(before.header("Accept"), "application/json");
    EXPECT_TRUE(before.header("X-Auth-Token").isEmpty());
    EXPECT_EQ(before.body, "recipients=a%2Cb");
    EXPECT_EQ(before.timeout, std::chrono::seconds(30));
    endpoint.authToken = QStringLiteral("t");
    const net::HTTPRequest query = NI::renameFileRequest(endpoint, QStringLiteral("f1"), {{"name", "x y"}});
    EXPECT_EQ(query.method, "PUT");
    EXPECT_EQ(query.url.toString(QUrl::FullyEncoded),
              QStringLiteral("https://api.test/dpi/v1/folder/file/f1/rename?name=x%20y"));
    EXPECT_EQ(query.header("X-Auth-Token"), "t");
    EXPECT_TRUE(query.body.isEmpty());
    EXPECT_TRUE(NI::loginURLRequest(endpoint, {}).header("X-Auth-Token").isEmpty());
    EXPECT_EQ(NI::deleteItemRequest(endpoint, QStringLiteral("i9")).method, "DELETE");
}

TEST_F(YouSendItClientTest, LoginSendsReservedCharactersIntactAndKeepsTheSession) {
    const auto token = login();
    ASSERT_TRUE(token) << token.error().localizedDescription.toStdString();
    EXPECT_EQ(client.authToken(), token->content);
    ASSERT_TRUE(client.loggedUser());
    EXPECT_EQ(client.loggedUser()->email, QStringLiteral("me@example.org"));
    EXPECT_FALSE(fake.server().log().last().hasHeader("X-Auth-Token"));

    const auto wrong = login(QStringLiteral("nope"));
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().localizedDescription,
              QStringLiteral("Authentication failed: wrong e-mail address or password"));
    EXPECT_EQ(client.authToken(), token->content); // a failed attempt keeps the session there was
    client.logout();
    EXPECT_FALSE(client.loggedUser());
}

TEST_F(YouSendItClientTest, EmptyCredentialsAreRefusedWithoutARequest) {
    const auto refused =
        offMain([&] { return client.loginWithEmail(QString(), QStringLiteral("x"), runner); });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, 400);
    EXPECT_EQ(refused.error().localizedDescription, QStringLiteral("Invalid parameters"));
    EXPECT_EQ(fake.server().log().size(), 0u);
}

TEST_F(YouSendItClientTest, AnswersBecomeOneClearError) {
    fake.answerWithErrorPage("/dpi/v1/auth", 500, "Service Temporarily Down");
    auto page = login();
    ASSERT_FALSE(page);
    EXPECT_EQ(page.error().code, 400);
    EXPECT_EQ(page.error().localizedDescription, QStringLiteral("Service Temporarily Down"));

    FakeYouSendIt plain;
    plain.addAccount("me@example.org", "p&ss=w+rd ü");
    client.setServerUrl(plain.url().toString());
    plain.server().setFault(Fault::malformedBody().times(1));
    EXPECT_EQ(login().error().localizedDescription, QStringLiteral("Failed..."));
    plain.server().setFault(Fault::status(503).times(1));
    EXPECT_EQ(login().error().localizedDescription,
              QStringLiteral("The Hightail server answered with HTTP status 503."));
    plain.server().setFault(Fault::dropMidBody().times(1));
    EXPECT_FALSE(login().error().localizedDescription.isEmpty());
    client.setRequestTimeout(std::chrono::milliseconds(300));
    ASSERT_TRUE(login());
    plain.server().setFault(Fault::stall(std::chrono::seconds(5)).times(1));
    const auto stalled = offMain([&] { return client.getItemCount(true, 0, runner); });
    ASSERT_FALSE(stalled);
    EXPECT_EQ(stalled.error().code, net::kURLErrorTimedOut);
    ASSERT_TRUE(login());

    // Before a login nothing carries a token and the refusal comes back through "errorStatus".
    ys::YouSendIt fresh;
    fresh.setServerUrl(plain.url().toString());
    fresh.setApiKey(QString::fromLatin1(FakeYouSendIt::kApiKey));
    const auto refused =
        offMain([&] { return fresh.commitItemSend(QStringLiteral("item1"), true, 0, runner); });
    EXPECT_EQ(refused.error().localizedDescription,
              QStringLiteral("Invalid or expired authentication token"));
    EXPECT_FALSE(plain.server().log().last().hasHeader("X-Auth-Token"));
}

TEST_F(YouSendItClientTest, SendUploadAndCommitPutTheirWordsOnTheWire) {
    ASSERT_TRUE(login());
    const QString path = temp.filePath(QStringLiteral("a \"quoted\" name.txt"));
    writeFile(path, "file body");
    const auto send = offMain([&] {
        return client.prepareUploadFilesWithRecipients({"a@x.org", "b@y.org"}, 1, "", "", false, false, "",
                                                       runner);
    });
    ASSERT_TRUE(send) << send.error().localizedDescription.toStdString();
    ASSERT_EQ(send->uploadURLs.size(), 1);
    const LoggedRequest created = fake.server().log().last();
    EXPECT_EQ(created.body, "recipients=a%40x.org%2Cb%40y.org&fileCount=1");

    const auto early = offMain([&] { return client.commitItemSend(send->objectId, true, 0, runner); });
    EXPECT_EQ(early.error().localizedDescription, QStringLiteral("The item has no file yet"));
    EXPECT_TRUE(fake.server().log().last().body.empty()); // notifications wanted, no expiration: no body

    const auto status =
        offMain([&] { return client.uploadFile(send->objectId, send->uploadURLs[0], path, runner); });
    ASSERT_TRUE(status) << status.error().localizedDescription.toStdString();
    EXPECT_EQ(status->content, QStringLiteral("complete"));
    const LoggedRequest upload = fake.server().log().last();
    EXPECT_FALSE(upload.hasHeader("X-Api-Key"));
    EXPECT_EQ(upload.header("Content-Type"), "multipart/form-data; boundary=AaB03x");
    EXPECT_EQ(fake.deliveries()[0].fileName, "a %22quoted%22 name.txt");

    const auto commit = offMain([&] { return client.commitItemSend(send->objectId, false, 60, runner); });
    ASSERT_TRUE(commit);
    EXPECT_EQ(fake.server().log().last().body, "sendEmailNotifications=false&expiration=60");
    EXPECT_EQ(commit->content.toStdString(), fake.deliveries()[0].downloadUrl);

    fake.refuseUploads(413, "File too large");
    const auto refused =
        offMain([&] { return client.uploadFile(send->objectId, send->uploadURLs[0], path, runner); });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, 413);
    EXPECT_EQ(refused.error().localizedDescription, QStringLiteral("File too large"));
    EXPECT_EQ(refused.error().userInfo.value(ys::kUploadStatusKey).toString(), QStringLiteral("failed"));
    const auto missing =
        offMain([&] { return client.uploadFile("i", "http://x/", temp.filePath("gone"), runner); });
    EXPECT_EQ(missing.error().localizedDescription, QStringLiteral("File to be uploaded does not exist!"));
}

TEST_F(YouSendItClientTest, CancelEndsABlockedCallPromptly) {
    ASSERT_TRUE(login());
    fake.server().setFault(Fault::stall(std::chrono::seconds(20)));
    auto pending =
        std::async(std::launch::async, [&] { return client.getItemInfo(QStringLiteral("i1"), runner); });
    ASSERT_TRUE(waitUntil([&] { return fake.server().log().size() == 2; }));
    const auto started = std::chrono::steady_clock::now();
    runner.cancel();
    const auto cancelled = pending.get();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error().code, net::kURLErrorCancelled);
    EXPECT_EQ(fake.server().log().size(), 2u);
    // The main thread is never blocked: the runner refuses it.
    EXPECT_FALSE(client.deleteItem(QStringLiteral("i1"), runner));
}

struct DownloadRecorder : ys::ConnectionDataDelegate {
    bool started = false;
    qint64 received = 0;
    std::optional<bool> written;
    std::optional<platform::Error> error;
    void connectionDidStart() override { started = true; }
    void connectionReceivedDataLength(qint64 length) override { received += length; }
    void connectionFinishedWithStatus(bool ok) override { written = ok; }
    void connectionFinishedWithError(const platform::Error& e) override { error = e; }
};

TEST_F(YouSendItClientTest, DownloadStreamsToTheDestinationWithItsRange) {
    fake.server().route("GET", "/files/report", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("downloaded bytes", "application/octet-stream");
    });
    fake.server().route("GET", "/files/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/files/report");
    });
    auto recorder = std::make_shared<DownloadRecorder>();
    const QString destination = temp.filePath(QStringLiteral("deep/folder/report.bin"));
    // After a redirect the open range from the offset is asked for again.
    client.downloadFile(QStringLiteral("/files/moved"), QStringLiteral("pw"), destination, 5, 0, recorder);
    ASSERT_TRUE(waitUntil([&] { return recorder->written || recorder->error; }));
    EXPECT_TRUE(recorder->started);
    EXPECT_EQ(*recorder->written, true);
    EXPECT_EQ(readFile(destination), "oaded bytes"); // from the offset on
    EXPECT_EQ(fake.server().log().last().header("Range"), "bytes=5-");
    const auto log = fake.server().log().all();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].param("password"), "pw");
    EXPECT_EQ(log[0].header("Range"), "bytes=5-");

    auto missing = std::make_shared<DownloadRecorder>();
    client.downloadFile(QStringLiteral("/files/none"), QString(""), temp.filePath("none.bin"), 0, 10,
                        missing);
    ASSERT_TRUE(waitUntil([&] { return missing->written || missing->error; }));
    EXPECT_EQ(missing->error->code, 404);
    EXPECT_EQ(fake.server().log().last().header("Range"), "bytes=0-10");
    EXPECT_FALSE(QFile::exists(temp.filePath("none.bin")) || QFile::exists(temp.filePath("none.bin.part")));
}

TEST(YouSendItEntityTest, RecordsReadTheirMembersWithThePlaceholder) {
    const QVariantMap folder{{"fileCount", "0"},
                             {"files", QVariantMap{{"file", QVariantList{QVariantMap{{"id", "f"}}}}}},
                             {"id", "regular"},
                             {"readable", "true"},
                             {"writeable", "false"}};
    const ys::Folder regular = ys::Folder::fromDictionary(folder);
    EXPECT_TRUE(regular.files.isEmpty());
    EXPECT_EQ(regular.objectId, QStringLiteral("regular"));
    EXPECT_TRUE(regular.readable);
    EXPECT_FALSE(regular.writable);
    EXPECT_EQ(regular.name, QStringLiteral("N\\A"));
    const ys::Folder change = ys::Folder::fromDictionary(
        QVariantMap{{"folderId", "changed"}, {"canRead", true}, {"canWrite", "1"}, {"id", "ignored"}}, 1);
    EXPECT_EQ(change.objectId, QStringLiteral("changed"));
    EXPECT_TRUE(change.readable && change.writable);

    const ys::Item item = ys::Item::fromDictionary(QVariantMap{{"create", "2014-03-01"}});
    EXPECT_EQ(item.recipeints, QStringList{QStringLiteral("N\\A")});
    EXPECT_FALSE(item.creationDate.isValid());
    EXPECT_EQ(ys::Item::fromDictionary(QVariantMap{{"create", "Mar 01, 2014"}}).creationDate.date(),
              QDate(2014, 3, 1));

    EXPECT_EQ(ys::Policy::fromDictionary(QVariantMap{{"blackListedDomains", "a.org,b.org"}})
                  .blackListedDomains.size(),
              2);
    EXPECT_EQ(ys::Policy::fromDictionary(QVariantMap()).blackListedDomains,
              QStringList{QStringLiteral("N\\A")});
    EXPECT_EQ(ys::Entity::withContent(QVariant(qint64(42))).content, QStringLiteral("42"));
    EXPECT_EQ(ys::Member::fromDictionary(QVariantMap{{"userAccountId", 7}}).userAccountId,
              QStringLiteral("7"));
    EXPECT_EQ(ys::File::fromDictionary(QVariantMap{{"fileName", "n"}, {"folderId", "p"}}, 1).parentId,
              QStringLiteral("p"));
    const ys::User user =
        ys::User::fromDictionary(QVariantMap{{"firstname", "Ann"}, {"policy", QVariantMap{{"vri", "true"}}}});
    EXPECT_EQ(user.firstName, QStringLiteral("Ann"));
    EXPECT_TRUE(user.policy.vri);
    EXPECT_EQ(ys::errorWithDictionary(QVariantMap{{"code", "401"}, {"message", QVariant::fromValue(nullptr)}})
                  .localizedDescription,
              QStringLiteral("N\\A"));
}

} // namespace
} // namespace qm::test
