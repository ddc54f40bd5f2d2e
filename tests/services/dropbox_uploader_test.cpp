#include "accounts/settings_keys.h"
#include "fake_dropbox.h"
#include "services/dropbox/dropbox_uploader.h"
#include "support/uploader_fixture.h"

#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using upload::DropboxUploader;
constexpr qint64 kChunk = 1024 * 1024; // given at construction: small files cover several chunks

// Dropbox's uploader and client layer against the fake.
class DropboxUploaderTest : public UploaderFixture<upload::DropboxUploaderClass> {
protected:
    void SetUp() override {
        serviceClass = std::make_unique<upload::DropboxUploaderClass>(environment, config(), kChunk);
    }
    dropbox::Config config() const {
        const QUrl url = box.url();
        return {url, url, url, url, QString::fromStdString(box.options().appKey), {}};
    }
    // An uploader whose "browser" follows the sign-in page and returns through the redirect.
    std::unique_ptr<upload::Uploader> signingIn() {
        auto uploader = make();
        upload::Uploader* raw = uploader.get();
        uploader->setPageOpener([this, raw](const QUrl& page) {
            opened = page;
            const QString redirect = FakeDropbox::follow(page);
            QTimer::singleShot(0, [raw, redirect] { raw->finishSignIn(redirect); });
            return true;
        });
        return uploader;
    }
    void link(bool expired = false) {
        const auto tokens = box.issueTokens();
        net::OAuth2Credential credential(QString::fromStdString(tokens.access), QStringLiteral("bearer"));
        credential.setRefreshToken(QString::fromStdString(tokens.refresh),
                                   QDateTime::currentDateTimeUtc().addSecs(expired ? -10 : 3600));
        ASSERT_TRUE(serviceClass->session().store(credential));
        serviceClass->setIsLinked(true);
    }
    QString failure(qsizetype i = 0) const { return recorder.failures.value(i).second.localizedDescription; }

    FakeDropbox box;
    QUrl opened;
};

TEST_F(DropboxUploaderTest, SignInWithPkceStoresTheTokensAndAnAlreadyLinkedSessionOpensNothing) {
    EXPECT_EQ(serviceClass->redirectSchemes(), QStringList{QStringLiteral("db-fakedropboxkey1")});
    auto uploader = signingIn();
    linkAndWait(*uploader, recorder);
    ASSERT_FALSE(recorder.authentications.value(0).has_value())
        << recorder.authentications.value(0)->localizedDescription.toStdString();
    const QUrlQuery query(opened);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("token_access_type")), QStringLiteral("offline"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
              QStringLiteral("db-fakedropboxkey1://2/token"));
    EXPECT_TRUE(serviceClass->isLinked());
    EXPECT_TRUE(serviceClass->session().isLinked());

    opened.clear();
    auto linked = signingIn();
    linked->authenticate();
    ASSERT_TRUE(waitUntil([&] { return recorder.authentications.size() == 2; }));
    EXPECT_FALSE(recorder.authentications.value(1).has_value());
    EXPECT_TRUE(opened.isEmpty());

    serviceClass->setIsLinked(false);
    serviceClass->unlinkAll();
    EXPECT_FALSE(serviceClass->session().isLinked());
    // A redirect of another sign-in (another state) is not taken.
    auto again = signingIn();
    again->setPageOpener([](const QUrl&) { return true; });
    again->authenticate();
    EXPECT_FALSE(again->finishSignIn(QStringLiteral("db-fakedropboxkey1://2/token?code=x&state=forged")));
    EXPECT_FALSE(again->finishSignIn(QStringLiteral("db-fakedropboxkey1://2/token?code=x")));
}

TEST_F(DropboxUploaderTest, ChunksOfExactlyOneChunkSeveralChunksAndNothingWithTheirProgress) {
    link();
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("one.bin"), QByteArray(kChunk, 'o')));
    EXPECT_EQ(box.chunkSizes(), std::vector<size_t>{size_t(kChunk)});

    const QByteArray bytes = QByteArray(2 * kChunk + kChunk / 2, 'x');
    const qsizetype before = recorder.progress.size();
    upload(*uploader, localFile(QStringLiteral("big.bin"), bytes));
    EXPECT_EQ(box.chunkSizes(),
              (std::vector<size_t>{size_t(kChunk), size_t(kChunk), size_t(kChunk), size_t(kChunk / 2)}));
    const QList<double> progress = recorder.progress.mid(before);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_NEAR(DropboxUploader::fraction(0.0, kChunk, bytes.size(), kChunk), 0.4, 1e-9);
    EXPECT_NEAR(DropboxUploader::fraction(0.5, kChunk, bytes.size(), kChunk), 0.6, 1e-9);
    EXPECT_DOUBLE_EQ(DropboxUploader::fraction(1.0, 0, 0, kChunk), 1.0);

    upload(*uploader, localFile(QStringLiteral("empty.txt"), QByteArray()));
    ASSERT_EQ(recorder.links.size(), 3) << failure().toStdString();
    const auto files = box.files();
    EXPECT_EQ(files.at("/big.bin").size, size_t(bytes.size()));
    EXPECT_EQ(files.at("/empty.txt").size, 0u);
    EXPECT_TRUE(recorder.links[1].toString().startsWith("https://www.dropbox.com/s/"));
}

TEST_F(DropboxUploaderTest, ADroppedChunkGoesOnFromTheServersOffsetAndAnExpiredTokenIsRenewed) {
    link(true);
    const QByteArray bytes = QByteArray(3 * kChunk, 'd');
    box.dropNextAppendAfter(1000);
    auto uploader = make();
    upload(*uploader, localFile(QStringLiteral("d.bin"), bytes));
    ASSERT_EQ(recorder.links.size(), 1) << failure().toStdString();
    EXPECT_EQ(box.files().at("/d.bin").size, size_t(bytes.size()));

    // Mid-upload the token expires: renewed once, the call sent again.
    box.expireAccessTokens();
    upload(*uploader, localFile(QStringLiteral("e.bin"), QByteArray(1000, 'e')));
    EXPECT_EQ(recorder.links.size(), 2) << failure().toStdString();
}

TEST_F(DropboxUploaderTest, AnExistingLinkIsReusedAndFaultsEndWithOneFailure) {
    link();
    auto uploader = make();
    const QString path = localFile(QStringLiteral("s.txt"), "s");
    box.server().route("POST", "/2/sharing/create_shared_link_with_settings",
                       [](const httplib::Request&, httplib::Response& response) {
                           response.status = 409;
                           response.set_content(
                               R"({"error_summary":"shared_link_already_exists/..","error":{}})",
                               "application/json");
                       });
    box.server().route(
        "POST", "/2/sharing/list_shared_links", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(
                R"({"links":[{"url":"https://www.dropbox.com/s/old/s.txt?dl=0"}],"has_more":false})",
                "application/json");
        });
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.value(0), QUrl(QStringLiteral("https://www.dropbox.com/s/old/s.txt?dl=0")));

    for (Fault fault : {Fault::status(409).onPath("/2/files/upload_session/finish"),
                        Fault::status(400).onPath("/2/files/upload_session/start"),
                        Fault::malformedBody().onPath("/2/files/upload_session/finish")}) {
        box.server().clearFaults();
        box.server().setFault(fault);
        const qsizetype before = recorder.failures.size();
        upload(*uploader, path);
        EXPECT_EQ(recorder.failures.size(), before + 1);
    }
    box.server().clearFaults();
    box.server().setFault(Fault::status(429).onPath("/2/files/upload_session/start").times(1));
    upload(*uploader, path);
    EXPECT_EQ(recorder.links.size(), 2) << recorder.failures.last().second.localizedDescription.toStdString();
}

// Faults that outlast the retries: a chunk whose answer stalls past the timeout (the second of two), a
// rate limit and a server error on every call.
TEST_F(DropboxUploaderTest, AStallPastTheTimeoutAndA429Or5xxThatLastEachEndInOneFailure) {
    dropbox::Config quick = config();
    quick.timeout = std::chrono::seconds(1);
    quick.firstRetryWait = std::chrono::milliseconds(10);
    serviceClass = std::make_unique<upload::DropboxUploaderClass>(environment, quick, kChunk);
    link();
    auto uploader = make();
    const QString path = localFile(QStringLiteral("two.bin"), QByteArray(kChunk + 1, 't'));
    for (const Fault& fault :
         {Fault::stall(std::chrono::seconds(30)).onPath("/2/files/upload_session/append"), Fault::status(429),
          Fault::status(503)}) {
        box.server().clearFaults();
        box.server().setFault(fault);
        const qsizetype before = recorder.failures.size();
        upload(*uploader, path);
        ASSERT_EQ(recorder.failures.size(), before + 1);
        EXPECT_TRUE(isClearFailure(recorder.failures.last().second)) << failure(before).toStdString();
    }
    EXPECT_TRUE(recorder.links.isEmpty());
    EXPECT_TRUE(box.files().empty());
}

} // namespace
} // namespace qm::test
