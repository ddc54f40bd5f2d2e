#include "accounts/settings_keys.h"
#include "servers/googledrive/fake_googledrive.h"
#include "services/googledrive/googledrive_uploader.h"
#include "support/uploader_fixture.h"

#include <QDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;
using Chunk = FakeGoogleDrive::ChunkFault;
constexpr qint64 kChunk = 256 * 1024;

class GoogleDriveTest : public UploaderFixture<upload::GoogleDriveUploaderClass> {
protected:
    void SetUp() override {
        drive.exportEnvironment();
        serviceClass =
            std::make_unique<upload::GoogleDriveUploaderClass>(environment, bundle, [this](const QUrl& page) {
                opened.append(page);
                if (playBrowser)
                    drive.openInBrowser(page);
                return true;
            });
        auto& options = serviceClass->options();
        options.timeout = 2s;
        options.backoff = 10ms;
        options.maxWait = 50ms;
        options.chunkSize = kChunk;
        recorder.acceptsIcons = true;
    }
    void TearDown() override { drive.exportEnvironment(false); }

    // Linked earlier: tokens in the credential store and the folder made then.
    void signedIn() {
        drive.grantTokens("ya29.earlier", "1//earlier");
        upload::gdrive::Authorization authorization{
            QStringLiteral("ya29.earlier"), QStringLiteral("1//earlier"),
            QDateTime::currentDateTimeUtc().addSecs(3600), QStringLiteral("ada@example.com")};
        ASSERT_TRUE(store().save(authorization));
        folderId = drive.addFolder("Quillmoor", drive.rootId());
        ASSERT_TRUE(
            settings.setObject(QString::fromStdString(folderId), accounts::keys::googleDriveFolderId));
    }
    upload::gdrive::AuthorizationStore store() {
        return upload::gdrive::AuthorizationStore(credentials, QStringLiteral("Quillmoor (GoogleDrive)"));
    }
    QString storedFolder() {
        return settings.stringForKey(QString::fromLatin1(accounts::keys::googleDriveFolderId));
    }
    // Uploads and expects one failure; its message.
    QString failure(upload::Uploader& uploader, const QString& path) {
        recorder.failures.clear();
        upload(uploader, path);
        EXPECT_TRUE(recorder.links.isEmpty());
        return recorder.failures.value(0).second.localizedDescription;
    }

    FakeGoogleDrive drive;
    QList<QUrl> opened;
    bool playBrowser = true;
    std::string folderId;
};

TEST_F(GoogleDriveTest, LinkingSignsInThroughTheLoopbackAndReusesOnlyTheTopLevelFolder) {
    drive.addFolder("Quillmoor", drive.addFolder("Projects", drive.rootId())); // not at the top
    drive.addFolder("Quillmoor", drive.rootId(), true, true);                  // in the trash
    drive.addFolder("Quillmoor", drive.rootId(), false);                       // made by hand: not seen
    const std::string top = drive.addFolder("Quillmoor", drive.rootId());
    auto uploader = make();
    linkAndWait(*uploader, recorder);
    ASSERT_FALSE(recorder.authentications.value(0).has_value())
        << recorder.authentications.value(0)->localizedDescription.toStdString();

    const auto asked = drive.lastAuthorizeParams();
    EXPECT_EQ(asked.at("access_type"), "offline");
    EXPECT_EQ(asked.at("prompt"), "consent");
    EXPECT_TRUE(asked.at("redirect_uri").starts_with("http://127.0.0.1:"));
    EXPECT_EQ(storedFolder().toStdString(), top);
    EXPECT_EQ(store().load()->email, QStringLiteral("ada@example.com"));
    EXPECT_TRUE(serviceClass->isLinked());
    serviceClass->setIsLinked(false);
    EXPECT_FALSE(serviceClass->isLinked());
}

TEST_F(GoogleDriveTest, LinkingFollowsEveryPageAndMakesTheFolderWhenNoneIsAtTheTop) {
    FakeGoogleDrive::Options options;
    options.pageSize = 1;
    FakeGoogleDrive paged(options);
    paged.exportEnvironment();
    for (int i = 0; i < 3; ++i)
        paged.addFolder("Quillmoor", paged.addFolder("Other", paged.rootId()));
    serviceClass->setOpenUrl([&paged](const QUrl& page) { return paged.openInBrowser(page), true; });
    auto uploader = make();
    linkAndWait(*uploader, recorder);
    ASSERT_FALSE(recorder.authentications.value(0).has_value());
    const auto made = paged.file(storedFolder().toStdString());
    ASSERT_TRUE(made);
    EXPECT_EQ(made->parents, std::vector<std::string>{paged.rootId()});
    size_t pages = 0;
    for (const LoggedRequest& request : paged.server().log().all())
        if (request.method == "GET" && request.path == "/drive/v3/files") {
            ++pages;
            EXPECT_NE(request.param("q").find("trashed = false"), std::string::npos);
        }
    EXPECT_EQ(pages, 3u);
}

TEST_F(GoogleDriveTest, FinishSignInTakesTheCopiedAddressOrTheBareCode) {
    playBrowser = false;
    for (const bool bareCode : {false, true}) {
        auto uploader = make();
        uploader->setCreatePublicLink(true);
        uploader->authenticate();
        ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }));
        const QUrl redirect(QString::fromStdString(drive.signInRedirect(opened.takeFirst())));
        EXPECT_FALSE(uploader->finishSignIn(QStringLiteral("not a code")));
        // Answers without this sign-in's state, an error among them, neither link nor end it.
        EXPECT_FALSE(uploader->finishSignIn(redirect.toString().replace("state=", "state=x")));
        EXPECT_FALSE(uploader->finishSignIn(redirect.adjusted(QUrl::RemoveQuery).toString() + "?error=x"));
        const QString code = QUrlQuery(redirect).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
        ASSERT_TRUE(uploader->finishSignIn(bareCode ? code : redirect.toString()));
        ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == (bareCode ? 2 : 1); }));
        EXPECT_FALSE(recorder.authentications.last().has_value());
        EXPECT_FALSE(uploader->finishSignIn(code)); // over
    }
}

TEST_F(GoogleDriveTest, LinkingFailsClearlyWithoutKeyOrWhenDeclined) {
    qunsetenv("QUILLMOOR_GOOGLEDRIVE_KEY");
    auto uploader = make();
    linkAndWait(*uploader, recorder);
    EXPECT_TRUE(
        recorder.authentications.value(0)->localizedDescription.contains("no application key was built in"));
    EXPECT_TRUE(opened.isEmpty());

    drive.exportEnvironment();
    drive.declineSignIn();
    recorder.authentications.clear();
    linkAndWait(*uploader, recorder);
    EXPECT_EQ(recorder.authentications.value(0)->localizedDescription, "The Google sign-in was declined.");
    EXPECT_FALSE(serviceClass->isLinked());
}

TEST_F(GoogleDriveTest, UploadStreamsChunksSharesTheFileAndRemovesItAgain) {
    signedIn();
    const QByteArray bytes = QByteArray(2 * kChunk + 1000, 'q');
    const QString path = localFile(QStringLiteral("report.pdf"), bytes);
    auto uploader = make();
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 1)
        << recorder.failures.value(0).second.localizedDescription.toStdString();
    const auto stored = drive.filesNamed("report.pdf");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].parents, std::vector<std::string>{folderId});
    EXPECT_EQ(stored[0].mimeType, "application/pdf");
    EXPECT_EQ(drive.contentOf(stored[0].id), bytes);
    EXPECT_EQ(stored[0].permissions,
              (std::vector<std::pair<std::string, std::string>>{{"anyone", "reader"}}));
    EXPECT_TRUE(recorder.icons.value(0).toString().contains("application/pdf"));
    EXPECT_GE(recorder.progress.size(), 2);
    EXPECT_EQ(recorder.progress.last(), 1.0);
    EXPECT_TRUE(std::is_sorted(recorder.progress.begin(), recorder.progress.end()));
    httplib::Client browser("127.0.0.1", drive.server().port());
    const auto fetched =
        browser.Get(recorder.links[0].toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->body.size(), size_t(bytes.size()));

    EXPECT_FALSE(removeAndWait(*uploader, recorder.links[0]));
    EXPECT_TRUE(drive.files().empty());
}

TEST_F(GoogleDriveTest, UploadIsRefusedBeforeTheFolderIdAndWithoutSignIn) {
    const QString path = localFile(QStringLiteral("a.txt"), "a");
    EXPECT_FALSE(make()->uploadFile(path, true));
    signedIn();
    ASSERT_TRUE(settings.setObject(QString(), accounts::keys::googleDriveFolderId));
    EXPECT_FALSE(make()->uploadFile(path, true));
}

TEST_F(GoogleDriveTest, WithoutPublicLinkNoPermissionAndAFileWithoutExtensionIsBinary) {
    signedIn();
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("README"), "plain"), false);
    ASSERT_EQ(recorder.links.size(), 1);
    const auto stored = drive.filesNamed("README");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_TRUE(stored[0].permissions.empty());
    EXPECT_EQ(stored[0].mimeType, "binary/octet-stream");
    EXPECT_TRUE(recorder.links[0].toString().contains(QString::fromStdString(stored[0].id)));
}

TEST_F(GoogleDriveTest, TransientFaultsAreRiddenOut) {
    signedIn();
    const QByteArray bytes(3 * kChunk, 'x');
    drive.failNextChunks(Chunk::expiredToken());              // renewed, then the chunk again
    drive.failNextChunks(Chunk::drop(kChunk / 2));            // half kept, the rest resent
    drive.failNextChunks(Chunk::answer(503, "backendError")); // asked how far, then on
    drive.failNextChunks(Chunk::answer(403, "userRateLimitExceeded"));
    drive.server().setFault(Fault::status(429).onPath("/drive/v3/files/").times(2)); // the permission
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("big.bin"), bytes));
    ASSERT_EQ(recorder.links.size(), 1)
        << recorder.failures.value(0).second.localizedDescription.toStdString();
    EXPECT_EQ(drive.contentOf(drive.filesNamed("big.bin").at(0).id), bytes);
    EXPECT_EQ(drive.sessionsOpened(), 1);

    drive.failNextChunks(Chunk::forgetSession()); // after the first chunk: started over in a new session
    upload(*uploader, localFile(QStringLiteral("again.bin"), bytes));
    ASSERT_EQ(recorder.links.size(), 2);
    EXPECT_EQ(drive.contentOf(drive.filesNamed("again.bin").at(0).id), bytes);
    EXPECT_EQ(drive.sessionsOpened(), 3);
    EXPECT_EQ(drive.refreshes(), 1);
    EXPECT_NE(store().load()->accessToken, QStringLiteral("ya29.earlier")) << "the renewed token is kept";
}

TEST_F(GoogleDriveTest, LastingFaultsEndWithOneClearMessage) {
    signedIn();
    // The HTTP layer notices an idle upload only once its bytes have left the few seconds curl averages
    // speed over, so the stall is long and met once.
    serviceClass->options().timeout = 300ms;
    serviceClass->options().resumeAttempts = 0;
    const QString path = localFile(QStringLiteral("doc.txt"), QByteArray(1000, 'd'));
    const auto run = [&](auto arrange) {
        arrange();
        return failure(*make(), path);
    };
    EXPECT_EQ(run([&] { drive.failNextChunks(Chunk::stallFor(20s)); }),
              "Uploading “doc.txt” to Google Drive failed: Google Drive did not answer in time.");
    EXPECT_EQ(
        run([&] { drive.failNextChunks(Chunk::answer(500, "backendError")); }),
        "Uploading “doc.txt” to Google Drive failed: Google Drive refused: Backend Error (status 500).");
    EXPECT_EQ(
        run([&] { drive.server().setFault(Fault::malformedBody().onPath("/upload/").times(2)); }),
        "Uploading “doc.txt” to Google Drive failed: Google Drive sent an answer Quillmoor cannot read.");
    EXPECT_TRUE(run([&] {
                    drive.expireAccessTokens();
                    ASSERT_TRUE(store().save({QStringLiteral("ya29.earlier"),
                                              QStringLiteral("1//revoked"),
                                              {},
                                              QStringLiteral("ada@example.com")}));
                })
                    .endsWith("Google Drive no longer accepts the sign-in of Quillmoor. Link the Google "
                              "Drive account again."));
    signedIn();
    drive.server().setFault(Fault::status(503).onPath("/drive/v3/files/").times(5)); // the permission
    EXPECT_EQ(failure(*make(), localFile(QStringLiteral("shared.txt"), "s")),
              "Google Drive did not share “shared.txt”: Google Drive answered with status 503.");
    EXPECT_TRUE(waitUntil([&] { return drive.filesNamed("shared.txt").empty(); }))
        << "nor does it stay behind";
    EXPECT_TRUE(
        failure(*make(), temp.filePath(QStringLiteral("missing.pdf"))).contains("cannot read “missing.pdf”"));
}

TEST_F(GoogleDriveTest, CancelAtEachStepReportsNothingAndLeavesNoFile) {
    signedIn();
    const QString path = localFile(QStringLiteral("c.bin"), QByteArray(2 * kChunk, 'c'));
    for (const char* step : {"/upload/drive/v3/files", "chunk", "/drive/v3/files/"}) {
        drive.server().clearFaults();
        if (std::string(step) == "chunk")
            drive.failNextChunks(Chunk::stallFor(2s));
        else
            drive.server().setFault(Fault::stall(2s).onPath(step).times(1));
        const size_t before = drive.server().log().size();
        auto uploader = make();
        ASSERT_TRUE(uploader->uploadFile(path, true));
        ASSERT_TRUE(waitUntil([&] {
            return drive.server().log().size() >
                   before + (std::string(step) == "/upload/drive/v3/files" ? 0 : 1);
        }));
        uploader->cancelUpload();
        waitUntil([] { return false; }, 300);
    }
    EXPECT_EQ(recorder.outcomes(), 0);
    EXPECT_TRUE(waitUntil([&] { return drive.files().empty(); }));

    auto linking = make();
    linking->authenticate();
    ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }));
    linking->cancelUpload();
    waitUntil([] { return false; }, 500);
    EXPECT_TRUE(recorder.authentications.isEmpty());
}

} // namespace
} // namespace qm::test
