#include "accounts/settings_keys.h"
#include "fake_box.h"
#include "platform/system_log.h"
#include "services/box/box_uploader.h"
#include "support/uploader_fixture.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <sys/file.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;

// Box's uploader against the fake, which serves the web site, the API and the upload host.
class BoxUploaderTest : public UploaderFixture<upload::BoxUploaderClass> {
protected:
    void SetUp() override {
        serviceClass = std::make_unique<upload::BoxUploaderClass>(environment, bundle, config());
    }

    upload::BoxConfig config() const {
        const QUrl url = box.url();
        return {url,
                url,
                url,
                url,
                QString::fromStdString(box.options().clientId),
                QString::fromStdString(box.options().clientSecret)};
    }
    // An uploader whose "browser" follows the sign-in page and hands the redirect back, as the URL
    // handler does.
    std::unique_ptr<upload::Uploader> signingIn() {
        auto uploader = make();
        upload::Uploader* raw = uploader.get();
        uploader->setPageOpener([this, raw](const QUrl& page) {
            opened.append(page);
            const QString redirect = FakeBox::follow(page);
            QTimer::singleShot(0, [raw, redirect] { raw->finishSignIn(redirect); });
            return true;
        });
        return uploader;
    }
    // Linked as after a sign-in: a stored credential (expired when asked) and the folder.
    FakeBox::Tokens link(bool expired = false) {
        const FakeBox::Tokens tokens = box.issueTokens();
        net::OAuth2Credential credential(QString::fromStdString(tokens.access), QStringLiteral("bearer"));
        credential.setRefreshToken(QString::fromStdString(tokens.refresh),
                                   QDateTime::currentDateTimeUtc().addSecs(expired ? -10 : 3600));
        EXPECT_TRUE(serviceClass->tokens().store(credential));
        folder = box.addFolder("0", "Quillmoor");
        EXPECT_TRUE(settings.setObject(QString::fromStdString(folder), keys::boxFolderId));
        return tokens;
    }
    std::vector<LoggedRequest> requests(const std::string& method, const std::string& path) {
        std::vector<LoggedRequest> found;
        for (const LoggedRequest& request : box.server().log().all())
            if (request.method == method && request.path == path)
                found.push_back(request);
        return found;
    }
    QString failure() const { return recorder.failures.value(0).second.localizedDescription; }
    static QString stateOf(const QUrl& url) {
        return QUrlQuery(url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    }
    // An uploader that waits for its redirect; `opened` gets its sign-in page.
    std::unique_ptr<upload::Uploader> waitingForRedirect() {
        auto uploader = make();
        uploader->setPageOpener([this](const QUrl& page) { return opened.append(page), true; });
        uploader->authenticate();
        return uploader;
    }

    FakeBox box;
    std::string folder;
    QList<QUrl> opened;
};

TEST_F(BoxUploaderTest, LinkingInTheBrowserStoresTheTokensAndFindsOrMakesTheFolder) {
    auto uploader = signingIn();
    linkAndWait(*uploader, recorder);
    ASSERT_FALSE(recorder.authentications.value(0).has_value())
        << recorder.authentications.value(0)->localizedDescription.toStdString();
    EXPECT_TRUE(opened.value(0).toString().startsWith(
        box.url().toString() + "/api/oauth2/authorize?response_type=code&client_id=" +
        QString::fromStdString(box.options().clientId) + "&state="));
    const LoggedRequest token = requests("POST", "/api/oauth2/token").at(0);
    EXPECT_EQ(token.param("redirect_uri"), "quillmoor://box-redirect");
    EXPECT_EQ(token.param("grant_type"), "authorization_code");
    EXPECT_TRUE(serviceClass->isLinked());
    const QString made = settings.stringForKey(keys::boxFolderId);
    EXPECT_EQ(box.folders()[made.toStdString()], "Quillmoor");

    // Linked again, the folder is found, not made.
    auto again = signingIn();
    again->authenticate();
    ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == 2; }));
    EXPECT_NE(stateOf(opened.value(1)), stateOf(opened.value(0)));
    EXPECT_EQ(settings.stringForKey(keys::boxFolderId), made);
    EXPECT_EQ(requests("POST", "/2.0/folders").size(), 1u);

    serviceClass->unlinkAll();
    EXPECT_FALSE(serviceClass->isLinked());
}

TEST_F(BoxUploaderTest, AFolderOfTheSameNameInOtherLettersIsTheFolder) {
    const std::string existing = box.addFolder("0", "QUILLMOOR");
    auto uploader = signingIn();
    linkAndWait(*uploader, recorder);
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
    EXPECT_EQ(settings.stringForKey(keys::boxFolderId).toStdString(), existing);
}

TEST_F(BoxUploaderTest, ARedirectWithAWrongOrNoStateIsIgnoredAndTheSignInsOwnLinks) {
    auto uploader = waitingForRedirect();
    const QString redirect = FakeBox::follow(opened.value(0));
    const QString state = stateOf(opened.value(0));
    EXPECT_GE(state.size(), 22); // 128 bits
    EXPECT_EQ(stateOf(QUrl(redirect)), state);
    EXPECT_FALSE(uploader->finishSignIn(QString(redirect).replace(state, QStringLiteral("authenticated"))));
    EXPECT_FALSE(uploader->finishSignIn(QString(redirect).remove(QStringLiteral("state=") + state)));
    EXPECT_TRUE(uploader->finishSignIn(redirect));
    EXPECT_FALSE(uploader->finishSignIn(redirect)); // one answer per sign-in
    ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == 1; }));
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
    EXPECT_EQ(requests("POST", "/api/oauth2/token").size(), 1u);
}

TEST_F(BoxUploaderTest, ARedirectWithoutCodeABadCodeAndNoKeyEachFailTheLink) {
    auto uploader = waitingForRedirect();
    EXPECT_TRUE(uploader->finishSignIn(QStringLiteral("quillmoor://box-redirect?error=access_denied&state=") +
                                       stateOf(opened.value(0))));
    ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == 1; }));
    uploader->authenticate();
    EXPECT_TRUE(uploader->finishSignIn(QStringLiteral("not-a-code")));
    ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == 2; }));
    EXPECT_EQ(recorder.authentications.value(0)->code, 41);
    EXPECT_EQ(recorder.authentications.value(0)->localizedDescription,
              QStringLiteral("Authentication failed due to missing authentication code"));
    EXPECT_TRUE(recorder.authentications.value(1).has_value());
    EXPECT_FALSE(serviceClass->isLinked());

    upload::BoxConfig keyless = config();
    keyless.clientID.clear();
    serviceClass = std::make_unique<upload::BoxUploaderClass>(environment, bundle, keyless);
    auto withoutKey = make();
    withoutKey->authenticate();
    ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == 3; }));
    EXPECT_TRUE(
        recorder.authentications.value(2)->localizedDescription.contains("no application key was built in"));
}

TEST_F(BoxUploaderTest, AnUploadTakesAFreeNameWithoutRegardToCaseStreamsTheFileAndSharesIt) {
    link();
    box.addFile(folder, "report.pdf", "old");
    box.addFile(folder, "REPORT_1.PDF", "old");
    const QByteArray bytes(300 * 1024, 'r');
    auto uploader = make();
    const QString path = localFile(QStringLiteral("report.pdf"), bytes);
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 1) << failure().toStdString();
    EXPECT_TRUE(recorder.links[0].toString().startsWith("https://app.box.com/s/"));
    EXPECT_EQ(recorder.linkFiles, QStringList{path});
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);
    const auto files = box.filesIn(folder);
    const auto stored =
        std::find_if(files.begin(), files.end(), [](const auto& f) { return f.name == "report_2.pdf"; });
    ASSERT_NE(stored, files.end());
    EXPECT_EQ(stored->content, bytes.toStdString());
    EXPECT_EQ(stored->sharedAccess, "open");
    const LoggedRequest put = requests("PUT", "/2.0/files/" + stored->id).at(0);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(put.body)).object(),
              (QJsonObject{{"shared_link", QJsonObject{{"access", "open"}}}}));

    // No public link: the two-character text "{}".
    upload(*uploader, path, false);
    EXPECT_EQ(box.filesIn(folder).back().sharedAccess, "{}");
    bool removed = false;
    uploader->removeUploadedFile(recorder.links[0],
                                 [&](platform::Result<void> outcome) { removed = outcome.hasValue(); });
    EXPECT_TRUE(waitUntil([&] { return removed; }));
}

TEST_F(BoxUploaderTest, AnExpiredTokenIsRenewedOnceBeforeTheListingEvenForTwoAskersAndAnotherProcessWaits) {
    link(true);
    // Another program holds the refresh lock for a moment.
    QFile lock(QFileInfo(settings.filePath()).dir().filePath(QStringLiteral("box-refresh.lock")));
    ASSERT_TRUE(lock.open(QIODevice::ReadWrite));
    ASSERT_EQ(::flock(lock.handle(), LOCK_EX), 0);
    QTimer::singleShot(400, [&] { ::flock(lock.handle(), LOCK_UN); });

    auto first = make();
    auto second = make();
    ASSERT_TRUE(first->uploadFile(localFile(QStringLiteral("a.txt"), "a"), true));
    ASSERT_TRUE(second->uploadFile(localFile(QStringLiteral("b.txt"), "b"), true));
    ASSERT_TRUE(waitUntil([&] { return recorder.outcomes() == 2; }, kUploaderWaitMs));
    EXPECT_TRUE(recorder.failures.isEmpty()) << failure().toStdString();
    EXPECT_EQ(box.refreshes(), 1);
    const auto renewed = serviceClass->tokens().stored();
    ASSERT_TRUE(renewed && !renewed->isExpired());
    const auto listings = requests("GET", "/2.0/folders/" + folder + "/items");
    ASSERT_FALSE(listings.empty());
    EXPECT_EQ(listings[0].header("Authorization"), "Bearer " + renewed->accessToken().toStdString());
}

TEST_F(BoxUploaderTest, WithoutCredentialTheUploadFailsAtOnceAndTwoEntriesAreAFailure) {
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("a.txt"), "a"));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures[0].second.domain, QStringLiteral("world"));
    EXPECT_EQ(recorder.failures[0].second.code, 200);
    EXPECT_EQ(failure(), QStringLiteral("Failed to get credentials"));

    link();
    box.server().route(
        "POST", "/api/2.0/files/content", [](const httplib::Request&, httplib::Response& response) {
            response.status = 201;
            response.set_content(
                R"({"total_count":2,"entries":[{"type":"file","id":"1"},{"type":"file","id":"2"}]})",
                "application/json");
        });
    upload(*uploader, localFile(QStringLiteral("b.txt"), "b"));
    EXPECT_EQ(recorder.failures.value(1).second.localizedDescription,
              QStringLiteral("Unknown problem during upload."));
}

TEST_F(BoxUploaderTest, EachFaultEndsTheUploadWithOneClearFailure) {
    link();
    const QString path = localFile(QStringLiteral("f.bin"), QByteArray(64 * 1024, 'f'));
    const std::vector<std::pair<Fault, std::string>> faults{
        {Fault::expiredToken().onPath("/api/2.0/files/content"), ""},
        {Fault::status(429).onPath("/2.0/folders/"), "429"},
        {Fault::status(503).onPath("/api/2.0/files/content"), "Unknown Error"},
        {Fault::malformedBody().onPath("/2.0/files/"), ""},
        {Fault::dropMidBody().onPath("/2.0/folders/"), ""},
    };
    auto uploader = make();
    for (const auto& [fault, text] : faults) {
        box.server().clearFaults();
        box.server().setFault(fault);
        const qsizetype before = recorder.failures.size();
        upload(*uploader, path);
        ASSERT_EQ(recorder.failures.size(), before + 1) << text;
        EXPECT_EQ(recorder.failures.last().first, 1);
        EXPECT_FALSE(recorder.failures.last().second.localizedDescription.isEmpty());
        if (!text.empty()) {
            EXPECT_TRUE(
                recorder.failures.last().second.localizedDescription.contains(QString::fromStdString(text)))
                << recorder.failures.last().second.localizedDescription.toStdString();
        }
    }
    EXPECT_TRUE(recorder.links.isEmpty());

    // The upload's answer stalls past the timeout.
    uploader.reset();
    upload::BoxConfig quick = config();
    quick.uploadTimeout = std::chrono::seconds(1);
    serviceClass = std::make_unique<upload::BoxUploaderClass>(environment, bundle, quick);
    box.server().clearFaults();
    box.server().setFault(Fault::stall(std::chrono::seconds(30)).onPath("/api/2.0/files/content"));
    auto stalled = make();
    const qsizetype before = recorder.failures.size();
    upload(*stalled, path);
    ASSERT_EQ(recorder.failures.size(), before + 1);
    EXPECT_FALSE(recorder.failures.last().second.localizedDescription.isEmpty());
    EXPECT_TRUE(recorder.links.isEmpty());
}

TEST_F(BoxUploaderTest, AtStartAnExpiredTokenIsRenewedAndAFailedRenewalIsLoggedWithTheLinkKept) {
    link(true);
    serviceClass->prepareAtStartup();
    ASSERT_TRUE(waitUntil([&] { return box.refreshes() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return !serviceClass->tokens().stored()->isExpired(); }));

    box.expireAccessTokens();
    net::OAuth2Credential spent(QStringLiteral("gone"), QStringLiteral("bearer"));
    spent.setRefreshToken(QStringLiteral("spent-refresh-token"), QDateTime::currentDateTimeUtc().addSecs(-5));
    ASSERT_TRUE(serviceClass->tokens().store(spent));
    QStringList log;
    platform::SystemLog::Capture capture([&](const QString& line) { log.append(line); });
    serviceClass->prepareAtStartup();
    ASSERT_TRUE(waitUntil(
        [&] { return !log.filter(QStringLiteral("Box: the sign-in could not be renewed")).isEmpty(); }));
    EXPECT_TRUE(serviceClass->isLinked());
}

} // namespace
} // namespace qm::test
