#include "accounts/settings_keys.h"
#include "servers/droplr/fake_droplr.h"
#include "services/droplr/droplr_uploader.h"
#include "services/droplr/service.h"
#include "support/uploader_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;
namespace keys = accounts::keys;

constexpr char kEmail[] = "pat@example.org";
constexpr char kPassword[] = "letmein";

// The uploader, and the client under it, against the fake service.
class DroplrTest : public UploaderFixture<upload::DroplrUploaderClass> {
protected:
    void SetUp() override {
        fake.addAccount(kEmail, kPassword);
        qputenv("QUILLMOOR_DROPLR_KEY", FakeDroplr::kPublicKey);
        qputenv("QUILLMOOR_DROPLR_SECRET", FakeDroplr::kPrivateKey);
        qputenv("QUILLMOOR_DROPLR_URL", fake.url().toString().toUtf8());
        qputenv("QUILLMOOR_DROPLR_AUTH_URL", fake.url().toString().toUtf8());
        EXPECT_TRUE(settings.setObject(QString::fromLatin1(kEmail), keys::droplrEmail));
        credentials.setPassword(QString::fromLatin1(kPassword), QStringLiteral("Quillmoor (Droplr)"),
                                QString::fromLatin1(kEmail));
        serviceClass = std::make_unique<upload::DroplrUploaderClass>(environment, bundle);
    }

    // The client as the uploader builds it.
    droplr::Service& client(upload::Uploader& uploader) {
        return **static_cast<upload::DroplrUploader&>(uploader).service();
    }

    QString failureText(int index = 0) const {
        return recorder.failures.value(index).second.localizedDescription;
    }

    FakeDroplr fake;
};

struct Ran {
    std::optional<QVariant> result;
    std::optional<platform::Error> error;
    int ends = 0, cancels = 0;
};

std::shared_ptr<Ran> execute(const std::shared_ptr<droplr::Operation>& operation, bool cancelNow = false) {
    auto ran = std::make_shared<Ran>();
    operation->execute([ran](const QVariant& result) { ran->result = result; },
                       [ran](const platform::Error& error) { ran->error = error; }, [ran] { ++ran->cancels; },
                       [ran] { ++ran->ends; });
    if (cancelNow)
        operation->cancel();
    EXPECT_TRUE(waitUntil([&] { return ran->ends > 0; }, kUploaderWaitMs));
    return ran;
}

TEST_F(DroplrTest, LinksWithTheGivenOrStoredPasswordAndNotWithAWrongOne) {
    auto stored = make();
    linkAndWait(*stored, recorder);
    EXPECT_FALSE(recorder.authentications.value(0).has_value());

    auto wrong = make();
    wrong->setLogin(QStringLiteral("PAT@example.org"));
    wrong->setPassword(QStringLiteral("guess"));
    recorder.authentications.clear();
    linkAndWait(*wrong, recorder);
    ASSERT_TRUE(recorder.authentications.value(0).has_value());
    EXPECT_EQ(recorder.authentications.value(0)->code, 401);
    EXPECT_TRUE(recorder.authentications.value(0)->localizedDescription.contains("signature does not match"));
}

TEST_F(DroplrTest, UploadsAFileAndReportsItsShortlink) {
    auto uploader = make();
    const QByteArray bytes(300 * 1024, 'q');
    const QString path = localFile(QStringLiteral("my report.pdf"), bytes);
    upload(*uploader, path);
    ASSERT_EQ(recorder.links.size(), 1) << failureText().toStdString();
    const auto drop = fake.dropWithLink(recorder.links.first().toString().toStdString());
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->title, "my report.pdf");
    EXPECT_EQ(drop->contentType, "application/pdf");
    EXPECT_EQ(QByteArray::fromStdString(drop->content), bytes);
    EXPECT_EQ(fake.server().log().last().target, "/files?filename=my%20report.pdf");
    EXPECT_EQ(recorder.linkFiles, QStringList{path});
    EXPECT_EQ(recorder.progress.value(recorder.progress.size() - 1), 1.0);

    // Taken back by a fresh uploader, as the command line does when delivery fails.
    auto later = make();
    EXPECT_FALSE(removeAndWait(*later, recorder.links.first()));
    EXPECT_TRUE(fake.drops().empty());
    const auto gone = removeAndWait(*later, recorder.links.first());
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->code, upload::DroplrDropNotFound);
}

TEST_F(DroplrTest, EachFaultEndsWithOneClearFailureAndNoLink) {
    const QString path = localFile(QStringLiteral("a.bin"), QByteArray(64 * 1024, 'a'));
    auto uploader = make();
    fake.setClockOffset(10min);
    upload(*uploader, path);
    EXPECT_TRUE(failureText(0).contains("too far from the server's clock")) << failureText(0).toStdString();
    fake.setClockOffset(0ms);

    fake.server().setFault(Fault::status(503).times(1));
    upload(*uploader, path);
    EXPECT_EQ(recorder.failures.value(1).second.domain, droplr::kErrorDomain);
    EXPECT_EQ(recorder.failures.value(1).second.code, 503);

    fake.server().setFault(Fault::malformedBody().times(1));
    upload(*uploader, path);
    EXPECT_EQ(recorder.failures.value(2).second.domain, json::kErrorDomain);

    fake.server().setFault(Fault::dropMidBody().times(1));
    upload(*uploader, path);
    EXPECT_EQ(recorder.failures.value(3).second.domain, net::kURLErrorDomain);

    fake.setNextShortlink("not a link");
    upload(*uploader, path);
    EXPECT_TRUE(failureText(4).contains("without a link")) << failureText(4).toStdString();

    // Refused before anything is sent: a sparse file at the size limit.
    const QString huge = temp.filePath(QStringLiteral("huge.bin"));
    QFile file(huge);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(2147483648LL));
    const size_t before = fake.server().log().size();
    upload(*uploader, huge);
    EXPECT_EQ(failureText(5), "File is too big (> 2147483648b)");
    EXPECT_EQ(fake.server().log().size(), before);
    EXPECT_TRUE(recorder.links.isEmpty());
    for (const auto& [status, error] : recorder.failures)
        EXPECT_EQ(status, 1);
}

TEST_F(DroplrTest, WithoutAnApplicationKeyNothingIsSent) {
    qunsetenv("QUILLMOOR_DROPLR_KEY");
    auto uploader = make();
    linkAndWait(*uploader, recorder);
    ASSERT_TRUE(recorder.authentications.value(0).has_value());
    EXPECT_TRUE(
        recorder.authentications.value(0)->localizedDescription.contains("no application key was built in"));
    upload(*uploader, localFile(QStringLiteral("a.txt"), "a"));
    EXPECT_EQ(recorder.failures.value(0).second.code, upload::DroplrNoApplicationKey);
    EXPECT_EQ(fake.server().log().size(), 0u);
}

TEST_F(DroplrTest, EveryOperationThroughTheFake) {
    auto uploader = make();
    droplr::Service& service = client(*uploader);
    EXPECT_TRUE(execute(service.readAccount())->result->value<droplr::Account>().email == kEmail);
    const auto link = execute(service.shortenLink(QUrl("https://example.org/?q=1"), {{"title", "Ex & co"}}));
    ASSERT_TRUE(link->result) << link->error->localizedDescription.toStdString();
    const QString code = link->result->value<droplr::DropCreation>().code;
    EXPECT_EQ(fake.drops().at(0).title, "Ex & co");
    ASSERT_TRUE(execute(service.createNote("*hi*", droplr::NoteType::Markdown))->result);
    EXPECT_EQ(fake.drops().at(1).variant, "markdown");
    ASSERT_TRUE(execute(service.uploadData("png", "image/png", QStringLiteral("p.png")))->result);
    const auto images = execute(service.listDrops(droplr::ListFilter::dropsOfType(droplr::DropType::Image)));
    ASSERT_EQ(images->result->value<QList<droplr::Drop>>().size(), 1);
    EXPECT_TRUE(images->result->value<QList<droplr::Drop>>().first().fileCreatedAt.has_value());
    EXPECT_EQ(execute(service.updateDropTitle(code, "New"))->result->value<droplr::Drop>().title, "New");
    const auto hidden =
        execute(service.updateDropPrivacyToPrivate(code, "Secret12"))->result->value<droplr::Drop>();
    EXPECT_EQ(hidden.accessibleUrl(), hidden.shortlink + "/Secret12");
    EXPECT_EQ(execute(service.readDrop(code))->result->value<droplr::Drop>().content,
              "https://example.org/?q=1");
    EXPECT_TRUE(execute(service.deleteDrop(code))->result);
    EXPECT_EQ(execute(service.readDrop(code))->error->code, 404);

    fake.addAccessToken("tok", kEmail);
    const auto user =
        execute(service.readAccountWithAccessToken("tok"))->result->value<droplr::UserCredentials>();
    EXPECT_EQ(user.email(), kEmail);
    EXPECT_TRUE(execute(service.readAccount(user))->result);
}

TEST_F(DroplrTest, StallsTimeOutAndCancelledOperationsReportOnlyTheirCancel) {
    auto uploader = make();
    droplr::Service& service = client(*uploader);
    service.setConnectionTimeoutInSeconds(0.5);
    fake.server().setFault(Fault::stall(5s).times(1));
    const auto stalled = execute(service.readAccount());
    ASSERT_TRUE(stalled->error);
    EXPECT_EQ(stalled->error->code, net::kURLErrorTimedOut);

    fake.server().setFault(Fault::stall(5s).times(1));
    const auto cancelled = execute(service.readAccount(), true);
    EXPECT_EQ(cancelled->cancels, 1);
    EXPECT_FALSE(cancelled->error || cancelled->result);
}

TEST_F(DroplrTest, AnOperationStartedLateIsDatedAndSignedWhenItStarts) {
    auto uploader = make();
    const auto late = client(*uploader).readAccount();
    const QByteArray built = late->request().header("Date");
    waitUntil([] { return false; }, 1200);
    fake.setAllowedSkew(1s);
    const auto ran = execute(late);
    EXPECT_TRUE(ran->result) << ran->error->localizedDescription.toStdString();
    EXPECT_GE(late->request().header("Date").toLongLong(), built.toLongLong() + 1200);
}

TEST_F(DroplrTest, TheFakeRefusesWrongKeysAndAChangedContentType) {
    droplr::Service stranger(QStringLiteral("t/1"), droplr::AppCredentials(FakeDroplr::kPublicKey, "wrong"));
    stranger.setEndpoint(fake.url());
    stranger.setUserCredentials(droplr::UserCredentials::withClearPassword(kEmail, kPassword));
    EXPECT_EQ(execute(stranger.readAccount())->error->code, 401);

    // Signed as plain text, sent as something else: the signature no longer holds.
    stranger.setAppCredentials(droplr::AppCredentials(FakeDroplr::kPublicKey, FakeDroplr::kPrivateKey));
    auto note = stranger.createNote("hello", droplr::NoteType::Plain);
    net::HTTPRequest changed = note->request();
    changed.setHeader("Content-Type", "text/markdown");
    note->setRequest(changed);
    note->setStartHook({});
    EXPECT_EQ(execute(note)->error->localizedDescription.contains("signature"), true);
    EXPECT_TRUE(fake.drops().empty());
    EXPECT_EQ(fake.refusals(), 2);
}

} // namespace
} // namespace qm::test
