#include "net/url_connection_operation.h"
#include "servers/cloudapp/fake_cloudapp.h"
#include "services/cloudapp/api_engine.h"
#include "support/test_support.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

using namespace qm::cloudapp;

// Every callback of the engine, in order.
struct EngineRecorder final : APIEngineDelegate {
    QStringList events; // "kind id"
    QList<double> progress;
    QList<platform::Error> errors;
    QList<WebItem> items;
    QList<Account> accounts;
    QList<WebItem> list;
    QVariantList products;
    QVariant lastUserInfo;

    void note(const char* kind, const Id& id, const QVariant& info) {
        events.append(QString::fromLatin1(kind) + QLatin1Char(' ') + id);
        lastUserInfo = info;
    }
    void requestDidSucceed(const Id& id, const QVariant& info) override { note("succeeded", id, info); }
    void requestDidFail(const platform::Error& e, const Id& id, const QVariant& info) override {
        errors.append(e);
        note("failed", id, info);
    }
    void fileUploadDidProgress(double p, const Id&, const QVariant&) override { progress.append(p); }
    void fileUploadDidSucceed(const WebItem& i, const Id& id, const QVariant& info) override {
        items.append(i);
        note("uploaded", id, info);
    }
    void linkBookmarkDidSucceed(const WebItem& i, const Id& id, const QVariant& info) override {
        items.append(i);
        note("bookmarked", id, info);
    }
    void itemUpdateDidSucceed(const WebItem& i, const Id& id, const QVariant& info) override {
        items.append(i);
        note("updated", id, info);
    }
    void itemDeletionDidSucceed(const WebItem& i, const Id& id, const QVariant& info) override {
        items.append(i);
        note("deleted", id, info);
    }
    void itemRestorationDidSucceed(const WebItem& i, const Id& id, const QVariant& info) override {
        items.append(i);
        note("restored", id, info);
    }
    void itemInformationRetrievalSucceeded(const WebItem& i, const Id& id, const QVariant& info) override {
        items.append(i);
        note("item", id, info);
    }
    void accountInformationRetrievalSucceeded(const Account& a, const Id& id, const QVariant& info) override {
        accounts.append(a);
        note("account", id, info);
    }
    void itemListRetrievalSucceeded(const QList<WebItem>& l, const Id& id, const QVariant& info) override {
        list = l;
        note("list", id, info);
    }
    void accountCreationSucceeded(const Account& a, const Id& id, const QVariant& info) override {
        accounts.append(a);
        note("created", id, info);
    }
    void storeProductInformationRetrievalSucceeded(const QVariantList& p, const Id& id,
                                                   const QVariant& info) override {
        products = p;
        note("products", id, info);
    }
    void storeReceiptRedemptionSucceeded(const Account& a, const Id& id, const QVariant& info) override {
        accounts.append(a);
        note("redeemed", id, info);
    }
};

class CloudAppEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine.email = QStringLiteral("Alice@Example.ORG"); // answered lower-cased
        engine.password = cloud.password();
    }

    // Waits for the request's ending and returns the events it brought; a late second ending would show.
    QStringList run(const QString& id) {
        EXPECT_FALSE(id.isNull());
        const qsizetype before = recorder.events.size();
        EXPECT_TRUE(waitUntil(
            [&] {
                const QStringList since = recorder.events.mid(before);
                return !since.isEmpty() && !since.last().startsWith(QLatin1String("succeeded"));
            },
            20000));
        waitUntil([] { return false; }, 100);
        EXPECT_EQ(engine.transactionCount(), 0);
        return recorder.events.mid(before);
    }

    platform::Error failureOf(const QString& id) {
        const QStringList events = run(id);
        EXPECT_EQ(events, QStringList{QStringLiteral("failed ") + id});
        return recorder.errors.value(recorder.errors.size() - 1);
    }

    int storagePosts() { return cloud.storage().requests(); }

    FakeCloudApp cloud;
    EngineRecorder recorder;
    APIEngine engine{cloud.apiURL(), &recorder};
};

TEST_F(CloudAppEngineTest, UploadAnswersDigestTwiceAcrossTheStorageRedirect) {
    engine.clearsCookies = true;
    const QString id = engine.uploadFile(QStringLiteral("hello.txt"), "hello", QStringLiteral("info"));
    EXPECT_EQ(engine.userInfoForConnectionIdentifier(id), QStringLiteral("info"));
    EXPECT_EQ(engine.requestTypeForConnectionIdentifier(id), RequestType::UploadRequest);
    EXPECT_EQ(run(id), (QStringList{QStringLiteral("succeeded ") + id, QStringLiteral("uploaded ") + id}));
    ASSERT_EQ(recorder.items.size(), 1);
    const WebItem& item = recorder.items.first();
    EXPECT_EQ(item.name, QStringLiteral("hello.txt"));
    EXPECT_EQ(item.type, ItemType::Text);
    EXPECT_TRUE(item.URL.toString().startsWith(cloud.apiURL().toString() + QStringLiteral("/i/")));
    EXPECT_FALSE(item.iconURL.isEmpty());
    EXPECT_EQ(recorder.lastUserInfo, QStringLiteral("info"));
    ASSERT_FALSE(recorder.progress.isEmpty());
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);
    EXPECT_EQ(cloud.itemNamed("hello.txt")->content, "hello");
    EXPECT_EQ(cloud.itemNamed("hello.txt")->contentType, "text/plain");
    EXPECT_EQ(cloud.acceptedChallenges(), 2); // the upload request and the item behind the redirect
    for (const LoggedRequest& request : cloud.server().log().all())
        EXPECT_EQ(request.header("Accept"), "application/json") << request.path;
    EXPECT_EQ(storagePosts(), 1);
}

TEST_F(CloudAppEngineTest, UploadFromAFileWithPrivacy) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.png"));
    writeFile(path, QByteArray(300000, 'p'));
    const QString id = engine.uploadFileAtPath(path, QStringLiteral("photo.png"), {},
                                               {{QString::fromLatin1(kAPIEngineUploadOptionPrivacyKey),
                                                 QString::fromLatin1(kAPIEnginePrivacyOptionPrivate)}});
    run(id);
    EXPECT_EQ(cloud.lastRequestedPrivacy(), "true");
    EXPECT_EQ(cloud.itemNamed("photo.png")->content, std::string(300000, 'p'));
    EXPECT_EQ(recorder.items.value(0).type, ItemType::Image);
    EXPECT_TRUE(
        engine.uploadFileAtPath(dir.filePath(QStringLiteral("missing")), QStringLiteral("m"), {}).isNull());
}

TEST_F(CloudAppEngineTest, WrongPasswordAnswersOneChallengeOnly) {
    engine.password = QStringLiteral("wrong");
    const platform::Error error = failureOf(engine.uploadFile(QStringLiteral("a.bin"), "a", {}));
    EXPECT_EQ(error.domain, QString::fromLatin1(net::kURLErrorDomain));
    EXPECT_EQ(error.code, -1012);
    EXPECT_TRUE(error.localizedDescription.contains(QStringLiteral("did not accept")))
        << error.localizedDescription.toStdString();
    EXPECT_EQ(cloud.server().log().size(), 2u); // asked, answered once, refused; never a third time
    EXPECT_TRUE(cloud.items().empty());
}

TEST_F(CloudAppEngineTest, DailyLimitAndSizeLimitStopBeforeAnyFileByte) {
    cloud.setUploadsRemaining(0);
    platform::Error error = failureOf(engine.uploadFile(QStringLiteral("a.bin"), "a", {}));
    EXPECT_EQ(error.domain, QString::fromLatin1(kAPIEngineErrorDomain));
    EXPECT_EQ(error.code, DailyUploadLimit);
    EXPECT_EQ(error.localizedDescription, QString::fromLatin1(kDailyLimitMessage));
    EXPECT_EQ(error.userInfo.value(QString::fromLatin1(kAPIEngineErrorRequestTypeKey)).toLongLong(), 10);

    cloud.setUploadsRemaining(std::nullopt);
    cloud.setMaxUploadSize(26214400);
    QTemporaryDir dir;
    QFile big(dir.filePath(QStringLiteral("big.bin")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(30000000));
    big.close();
    error = failureOf(engine.uploadFileAtPath(big.fileName(), QStringLiteral("big.bin"), {}));
    EXPECT_EQ(error.code, FileTooLarge);
    EXPECT_EQ(
        error.localizedDescription,
        QStringLiteral("This file is too large. You can upload files up to 25MB but this file is 28MB."));
    EXPECT_EQ(error.userInfo.value(QString::fromLatin1(kAPIEngineErrorStatusCodeKey)).toLongLong(), 200);
    EXPECT_EQ(storagePosts(), 0);
}

TEST_F(CloudAppEngineTest, ServerMessagesBecomeTheErrorsUserInfo) {
    const platform::Error error =
        failureOf(engine.getItemInformationAtURL(cloud.server().url(QStringLiteral("/i/gone")), {}));
    EXPECT_EQ(error.code, ServerRefused);
    EXPECT_EQ(error.userInfo.value(QString::fromLatin1(kAPIEngineErrorMessagesKey)).toList(),
              QVariantList{QStringLiteral("Item not found")});
    EXPECT_EQ(error.userInfo.value(QStringLiteral("NSLocalizedRecoverySuggestion")).toString(),
              QStringLiteral("• Item not found\n"));
    EXPECT_EQ(error.userInfo.value(QString::fromLatin1(kAPIEngineErrorStatusCodeKey)).toLongLong(), 404);
    EXPECT_TRUE(error.localizedDescription.contains(QStringLiteral("Item not found")));

    cloud.server().setFault(Fault::status(503).onPath("/items/new"));
    const platform::Error unavailable = failureOf(engine.uploadFile(QStringLiteral("a"), "a", {}));
    EXPECT_EQ(unavailable.code, ServerRefused);
    EXPECT_FALSE(unavailable.userInfo.contains(QString::fromLatin1(kAPIEngineErrorMessagesKey)));
    EXPECT_TRUE(unavailable.localizedDescription.contains(QStringLiteral("503")));
}

TEST_F(CloudAppEngineTest, UnreadableAnswersFailInsteadOfReportingAnEmptyItem) {
    cloud.setOmitParams(true);
    EXPECT_EQ(failureOf(engine.uploadFile(QStringLiteral("a"), "a", {})).code, -1011);
    cloud.setOmitParams(false);
    cloud.server().setFault(Fault::malformedBody().onPath("/items/s3"));
    EXPECT_EQ(failureOf(engine.uploadFile(QStringLiteral("a"), "a", {})).code, -1011);
    cloud.server().clearFaults();
    cloud.server().setFault(Fault::malformedBody().onPath("/items/new"));
    EXPECT_EQ(failureOf(engine.uploadFile(QStringLiteral("a"), "a", {})).code, -1011);
    EXPECT_EQ(storagePosts(), 1);
}

TEST_F(CloudAppEngineTest, DroppedAndStalledConnectionsFailOnce) {
    cloud.server().setFault(Fault::dropMidBody().onPath("/items/s3"));
    platform::Error error = failureOf(engine.uploadFile(QStringLiteral("a"), "a", {}));
    EXPECT_EQ(error.domain, QString::fromLatin1(net::kURLErrorDomain));
    EXPECT_TRUE(error.localizedDescription.startsWith(QStringLiteral("The connection to CloudApp failed: ")));
    cloud.server().clearFaults();
    engine.timeout = std::chrono::milliseconds(1000);
    cloud.server().setFault(Fault::stall(std::chrono::milliseconds(5000)).onPath("/items/new"));
    error = failureOf(engine.uploadFile(QStringLiteral("a"), "a", {}));
    EXPECT_EQ(error.code, net::kURLErrorTimedOut);
}

TEST_F(CloudAppEngineTest, CancelReportsNothing) {
    const QString first = engine.uploadFile(QStringLiteral("a"), "a", {});
    engine.cancelConnection(first);
    EXPECT_EQ(engine.transactionCount(), 0);
    cloud.server().setFault(Fault::trickle(std::chrono::milliseconds(20)).onPath("/items/s3"));
    engine.uploadFile(QStringLiteral("b"), QByteArray(1 << 20, 'b'), {});
    ASSERT_TRUE(waitUntil([&] { return !recorder.progress.isEmpty(); }, 20000));
    engine.cancelAllConnections();
    EXPECT_EQ(engine.transactionCount(), 0);
    waitUntil([] { return false; }, 500);
    EXPECT_TRUE(recorder.events.isEmpty()) << recorder.events.join(QLatin1Char(',')).toStdString();
}

TEST_F(CloudAppEngineTest, RefusedCallsReturnNoIdentifier) {
    APIEngine bare(cloud.apiURL(), &recorder);
    EXPECT_FALSE(bare.isReady());
    EXPECT_TRUE(bare.uploadFile(QStringLiteral("a"), "a", {}).isNull());
    EXPECT_TRUE(bare.getAccountInformation({}).isNull());
    EXPECT_TRUE(engine.deleteItem(WebItem(), {}).isNull());
    EXPECT_TRUE(engine.bookmarkLinkWithURL(QUrl(), QStringLiteral("x"), {}).isNull());
    EXPECT_TRUE(engine.createAccountWithEmail({}, QStringLiteral("p"), true, {}).isNull());
    EXPECT_TRUE(engine.getItemInformationAtURL(QUrl(), {}).isNull());
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(recorder.events.isEmpty());
    // Item information and registration need no credentials.
    const QString id =
        bare.createAccountWithEmail(QStringLiteral("bob@example.org"), QStringLiteral("pw"), true, {});
    const QStringList events = run(id);
    EXPECT_EQ(events.value(events.size() - 1), QStringLiteral("created ") + id);
    EXPECT_EQ(recorder.accounts.last().email, QStringLiteral("bob@example.org"));
}

TEST_F(CloudAppEngineTest, EveryItemAndAccountOperation) {
    run(engine.uploadFile(QStringLiteral("one.zip"), "1", {}));
    const WebItem uploaded = recorder.items.last();
    run(engine.bookmarkLinkWithURL(QUrl(QStringLiteral("http://xn--bcher-kva.example/")), {}, {},
                                   {{QString::fromLatin1(kAPIEngineUploadOptionPrivacyKey),
                                     QString::fromLatin1(kAPIEnginePrivacyOptionPublic)}}));
    EXPECT_EQ(recorder.items.last().type, ItemType::Bookmark);
    EXPECT_EQ(recorder.items.last().name,
              QStringLiteral("http://xn--bcher-kva.example/")); // named after its URL

    run(engine.changeNameOfItem(uploaded, QStringLiteral("renamed.zip"), {}));
    EXPECT_EQ(recorder.items.last().name, QStringLiteral("renamed.zip"));
    run(engine.changePrivacyOfItemAtHref(uploaded.href, true, {}));
    EXPECT_TRUE(recorder.items.last().isPrivate);
    run(engine.getItemListStartingAtPage(1, 5, {}, ItemType::Archive));
    ASSERT_EQ(recorder.list.size(), 1);
    EXPECT_EQ(recorder.list.first().name, QStringLiteral("renamed.zip"));
    EXPECT_TRUE(cloud.server().log().last().target.find("type=archive") != std::string::npos);

    run(engine.deleteItem(uploaded, {}));
    EXPECT_TRUE(recorder.items.last().trashed);
    run(engine.getItemListStartingAtPage(1, 5, {}, ItemType::All, true));
    EXPECT_EQ(recorder.list.size(), 1);
    EXPECT_EQ(cloud.server().log().last().target.find("type="), std::string::npos);
    run(engine.restoreItemAtHref(uploaded.href, {}));
    EXPECT_FALSE(recorder.items.last().trashed);
    run(engine.getItemInformation(uploaded, {}));
    EXPECT_EQ(recorder.items.last().href, uploaded.href);

    run(engine.getAccountInformation({}));
    EXPECT_EQ(recorder.accounts.last().email, QStringLiteral("alice@example.org"));
    EXPECT_EQ(recorder.accounts.last().domain.host(), QStringLiteral("xn--bcher-kva.example"));
    EXPECT_EQ(recorder.accounts.last().socket.APIKey, QStringLiteral("pusher-key"));
    run(engine.getStoreProducts({}));
    EXPECT_EQ(recorder.products.size(), 1);
    run(engine.redeemStoreReceipt(QStringLiteral("UkVDRUlQVA=="), {}));
    EXPECT_EQ(recorder.accounts.last().type, Account::Subscribed);

    cloud.server().setFault(Fault::status(304).onPath("/account").times(1));
    EXPECT_EQ(run(engine.getAccountInformation({})).size(), 2); // succeeded, then account
}

} // namespace
} // namespace qm::test
