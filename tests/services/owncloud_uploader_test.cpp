#include "accounts/credential_store.h"
#include "accounts/settings_keys.h"
#include "net/http_request_operation.h"
#include "net/url_connection_operation.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "servers/owncloud/fake_owncloud.h"
#include "services/owncloud/owncloud_uploader.h"
#include "support/real_servers.h"
#include "support/test_support.h"
#include "uploaders/service_id.h"

#include "support/uploader_fixture.h"
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using upload::OwnCloudUploader;

class OwnCloudUploaderTest : public UploaderFixture<upload::OwnCloudUploaderClass> {
protected:
    void SetUp() override {
        serviceClass = std::make_unique<upload::OwnCloudUploaderClass>(environment, bundle);
    }

    void configure(FakeOwnCloud& server, const QString& path = {}, const QString& folder = {}) {
        configure(server.url(path), server.user(), server.password(), folder);
    }

    void configure(const QString& url, const QString& user, const QString& password, const QString& folder) {
        EXPECT_TRUE(
            settings.setObject(QStringLiteral("  ") + url + QStringLiteral(" \n"), keys::ownCloudURL));
        EXPECT_TRUE(settings.setObject(user, keys::ownCloudEmail));
        EXPECT_TRUE(settings.setObject(folder, keys::ownCloudDirectoryName));
        credentials.setPassword(password, QStringLiteral("Quillmoor (ownCloud)"), user);
    }

    void link(upload::Uploader& uploader) { linkAndWait(uploader, recorder); }
};

TEST(OwnCloudAddress, HostWithoutPathKeepsRelativePaths) {
    const auto location = OwnCloudUploader::serverLocation(QStringLiteral(" https://cloud.example:8443 \n"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("https://cloud.example:8443")));
    EXPECT_EQ(OwnCloudUploader::joinPath(
                  OwnCloudUploader::joinPath(location.path, QStringLiteral("remote.php/webdav")),
                  QStringLiteral("Quillmoor")),
              QStringLiteral("remote.php/webdav/Quillmoor"));
}

TEST(OwnCloudAddress, PathMovesToRequestPathsOnTheBareHost) {
    const auto location = OwnCloudUploader::serverLocation(QStringLiteral("https://owncloudhost/owncloud"));
    EXPECT_EQ(location.baseURL, QUrl(QStringLiteral("https://owncloudhost")));
    EXPECT_EQ(location.path, QStringLiteral("/owncloud"));
    EXPECT_EQ(OwnCloudUploader::joinPath(location.path, QStringLiteral("remote.php/webdav")),
              QStringLiteral("/owncloud/remote.php/webdav"));
    EXPECT_EQ(OwnCloudUploader::joinPath(QStringLiteral("/owncloud/"), QStringLiteral("ocs")),
              QStringLiteral("/owncloud/ocs"));
}

TEST(OwnCloudNames, NumberedAndEscaped) {
    EXPECT_EQ(OwnCloudUploader::remoteName(QStringLiteral("report.pdf"), 0), QStringLiteral("report.pdf"));
    EXPECT_EQ(OwnCloudUploader::remoteName(QStringLiteral("report.pdf"), 2), QStringLiteral("report-2.pdf"));
    EXPECT_EQ(OwnCloudUploader::remoteName(QStringLiteral("README"), 1), QStringLiteral("README-1."));
    EXPECT_EQ(OwnCloudUploader::escapedName(QStringLiteral("my report ä%.pdf")),
              QStringLiteral("my%20report%20%C3%A4%25.pdf"));
    EXPECT_EQ(OwnCloudUploader::escapedName(QStringLiteral("a+b(1).pdf")), QStringLiteral("a+b(1).pdf"));
    EXPECT_EQ(OwnCloudUploader::escapedName(QStringLiteral("q?#1.pdf")), QStringLiteral("q%3F%231.pdf"));
}

TEST_F(OwnCloudUploaderTest, ClassNameAndLinkFlag) {
    EXPECT_EQ(serviceClass->name(), QStringLiteral("ownCloud"));
    EXPECT_EQ(serviceClass->keychainIdentifier(), QStringLiteral("Quillmoor (ownCloud)"));
    EXPECT_TRUE(settings.setObject(QStringLiteral("alice"), keys::ownCloudEmail));
    credentials.setPassword(QStringLiteral("pw"), QStringLiteral("Quillmoor (ownCloud)"),
                            QStringLiteral("alice"));
    serviceClass->setIsLinked(true);
    EXPECT_TRUE(serviceClass->isLinked());
    serviceClass->setIsLinked(false);
    EXPECT_FALSE(serviceClass->isLinked());
    EXPECT_FALSE(credentials.checkForExistanceOfKeychainItem(QStringLiteral("Quillmoor (ownCloud)"),
                                                             QStringLiteral("alice")));
}

TEST_F(OwnCloudUploaderTest, AccountTestCreatesMissingFolderThenRunsAgain) {
    FakeOwnCloud server;
    configure(server);
    auto uploader = make();
    link(*uploader);
    ASSERT_FALSE(recorder.authentications.first().has_value())
        << recorder.authentications.first()->localizedDescription.toStdString();
    EXPECT_EQ(server.calls(), (QStringList{QStringLiteral("GET /remote.php/webdav/Quillmoor"),
                                           QStringLiteral("MKCOL /remote.php/webdav/Quillmoor"),
                                           QStringLiteral("GET /remote.php/webdav/Quillmoor"),
                                           QStringLiteral("PUT /remote.php/webdav/Quillmoor/dummy.bin"),
                                           QStringLiteral("DELETE /remote.php/webdav/Quillmoor/dummy.bin")}));
    EXPECT_TRUE(server.hasFolder(QStringLiteral("/Quillmoor")));
    EXPECT_FALSE(server.hasFile(QStringLiteral("/Quillmoor/dummy.bin")));
    const auto requests = server.log().all();
    EXPECT_EQ(requests[0].header("Accept"), "application/xml");
    // The probe holds a multipart envelope around its four bytes.
    EXPECT_TRUE(requests[3].header("Content-Type").starts_with("multipart/form-data; boundary="));
    EXPECT_TRUE(requests[3].body.find("filename=\"dummy.bin\"") != std::string::npos);
    EXPECT_TRUE(requests[3].body.find("Content-Type: binary/octet-stream") != std::string::npos);
    EXPECT_FALSE(serviceClass->isLinked());
}

TEST_F(OwnCloudUploaderTest, AccountTestPrefersGivenLoginAndPassword) {
    FakeOwnCloud server(QStringLiteral("/owncloud"));
    configure(server, QStringLiteral("/owncloud"), QStringLiteral("Mail Files"));
    EXPECT_TRUE(settings.setObject(QStringLiteral("bob"), keys::ownCloudEmail));
    auto uploader = make();
    uploader->setLogin(server.user());
    uploader->setPassword(server.password());
    link(*uploader);
    EXPECT_FALSE(recorder.authentications.first().has_value());
    EXPECT_TRUE(server.hasFolder(QStringLiteral("/Mail Files")));
    EXPECT_EQ(server.calls().first(), QStringLiteral("GET /owncloud/remote.php/webdav/Mail Files"));
}

TEST_F(OwnCloudUploaderTest, AccountTestReportsWrongPassword) {
    FakeOwnCloud server;
    configure(server);
    auto uploader = make();
    uploader->setPassword(QStringLiteral("wrong"));
    link(*uploader);
    ASSERT_TRUE(recorder.authentications.first().has_value());
    EXPECT_EQ(recorder.authentications.first()->code, -1011);
    EXPECT_EQ(server.calls().size(), 1);
}

TEST_F(OwnCloudUploaderTest, UploadSharesAndDeliversDownloadLink) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    const QByteArray bytes = QByteArray(300000, 'x') + "end";
    const QString path = localFile(QStringLiteral("report.pdf"), bytes);
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, path));
    ASSERT_EQ(recorder.links.size(), 1)
        << recorder.failures.value(0).second.localizedDescription.toStdString();
    EXPECT_EQ(recorder.links.first(), QUrl(server.shareURL(1) + QStringLiteral("&download")));
    EXPECT_EQ(recorder.linkFiles.first(), path);
    EXPECT_EQ(server.file(QStringLiteral("/Quillmoor/report.pdf")), bytes);
    ASSERT_FALSE(recorder.progress.isEmpty());
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);
    const auto requests = server.log().all();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].header("Content-Type"), "application/pdf");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_EQ(requests[2].path, "/ocs/v1.php/apps/files_sharing/api/v1/shares");
    EXPECT_EQ(requests[2].body, "path=Quillmoor%2Freport.pdf&shareType=3");
    EXPECT_EQ(requests[2].header("Accept"), "application/xml");
}

TEST_F(OwnCloudUploaderTest, TakenNamesGetNumbers) {
    FakeOwnCloud server(QStringLiteral("/owncloud"));
    configure(server, QStringLiteral("/owncloud"));
    server.addFolder(QStringLiteral("/Quillmoor"));
    const QString path = localFile(QStringLiteral("notes.txt"), "hello");
    auto uploader = make();
    for (int i = 0; i < 3; ++i)
        ASSERT_NO_FATAL_FAILURE(upload(*uploader, path));
    ASSERT_EQ(recorder.links.size(), 3);
    EXPECT_TRUE(server.hasFile(QStringLiteral("/Quillmoor/notes.txt")));
    EXPECT_TRUE(server.hasFile(QStringLiteral("/Quillmoor/notes-1.txt")));
    EXPECT_TRUE(server.hasFile(QStringLiteral("/Quillmoor/notes-2.txt")));
    EXPECT_TRUE(
        server.calls().contains(QStringLiteral("PUT /owncloud/remote.php/webdav/Quillmoor/notes-2.txt")));
    EXPECT_EQ(server.log().last().body, "path=Quillmoor%2Fnotes-2.txt&shareType=3");
}

// A name taken between the probe and the upload is never overwritten: the next name is tried.
TEST_F(OwnCloudUploaderTest, ANameTakenAfterTheProbeIsKept) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    server.addFile(QStringLiteral("/Quillmoor/race.txt"), "earlier");
    server.server().setFault(Fault::status(404).onPath("/remote.php/webdav/Quillmoor/race.txt").times(1));
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("race.txt"), "later"), false));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_TRUE(recorder.links.first().toString().endsWith(QStringLiteral("/Quillmoor/race-1.txt")));
    EXPECT_EQ(server.file(QStringLiteral("/Quillmoor/race.txt")), "earlier");
    EXPECT_EQ(server.file(QStringLiteral("/Quillmoor/race-1.txt")), "later");
    EXPECT_EQ(server.log().all().at(1).header("If-None-Match"), "*");
}

TEST_F(OwnCloudUploaderTest, WithoutPublicLinkNoShareIsRequested) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    const QString path = localFile(QStringLiteral("a b"), "data");
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, path, false));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_EQ(recorder.links.first().toString(QUrl::FullyEncoded),
              server.url(QStringLiteral("/Quillmoor/a%20b")));
    EXPECT_FALSE(recorder.links.first().toString().contains(QStringLiteral("&download")));
    for (const auto& request : server.log().all())
        EXPECT_NE(request.method, "POST");
    EXPECT_EQ(server.log().all().at(1).header("Content-Type"), "binary/octet-stream");
}

TEST_F(OwnCloudUploaderTest, LinksNeverCarryUserInformation) {
    FakeOwnCloud server;
    QUrl address(server.url());
    address.setUserName(QStringLiteral("alice"));
    address.setPassword(QStringLiteral("s3cret"));
    configure(address.toString(), server.user(), server.password(), {});
    server.addFolder(QStringLiteral("/Quillmoor"));
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("u.txt"), "u"), false));
    ASSERT_EQ(recorder.links.size(), 1);
    EXPECT_EQ(recorder.links[0].toString(QUrl::FullyEncoded), server.url(QStringLiteral("/Quillmoor/u.txt")));
}

// Whether a name is taken is asked without a body: an existing file is never downloaded.
TEST_F(OwnCloudUploaderTest, NameProbeFetchesNoBody) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    auto uploader = make();
    const QString path = localFile(QStringLiteral("big.bin"), QByteArray(1 << 16, 'x'));
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, path));
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, path));
    ASSERT_EQ(recorder.links.size(), 2);
    EXPECT_TRUE(server.hasFile(QStringLiteral("/Quillmoor/big-1.bin")));
    for (const auto& request : server.log().all())
        EXPECT_NE(request.method, "GET") << request.path;
}

TEST_F(OwnCloudUploaderTest, RemovesAStoredFileByItsShareOrDirectLink) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("shared.txt"), "s")));
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("direct.txt"), "d"), false));
    ASSERT_EQ(recorder.links.size(), 2);
    // A fresh uploader knows the direct link only by its address.
    EXPECT_EQ(removeAndWait(*make(), recorder.links[1]), std::nullopt);
    EXPECT_EQ(removeAndWait(*uploader, recorder.links[0]), std::nullopt);
    EXPECT_FALSE(server.hasFile(QStringLiteral("/Quillmoor/shared.txt")));
    EXPECT_FALSE(server.hasFile(QStringLiteral("/Quillmoor/direct.txt")));
    EXPECT_TRUE(
        removeAndWait(*uploader, QUrl(QStringLiteral("https://elsewhere.example/x.txt"))).has_value());
}

TEST_F(OwnCloudUploaderTest, TwoURLsInShareAnswerFailWith411) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    server.setShareMode(FakeOwnCloud::ShareMode::TwoURLs);
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("x.png"), "png")));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures.first().first, 1);
    EXPECT_EQ(recorder.failures.first().second.domain, QStringLiteral("RVErrorDomain"));
    EXPECT_EQ(recorder.failures.first().second.code, 411);
    EXPECT_EQ(recorder.failures.first().second.localizedDescription,
              QStringLiteral("Unknown problem during share creation."));
}

TEST_F(OwnCloudUploaderTest, FailedShareAnswerFailsWith411) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    server.setShareMode(FakeOwnCloud::ShareMode::Failure);
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("x.png"), "png")));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures.first().second.code, 411);
}

TEST_F(OwnCloudUploaderTest, MissingFolderFailsThePut) {
    FakeOwnCloud server;
    configure(server);
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("x.png"), "png")));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures.first().first, 1);
    EXPECT_EQ(recorder.failures.first().second.code, -1011);
    EXPECT_EQ(server.calls().size(), 2);
}

TEST_F(OwnCloudUploaderTest, WrongPasswordFailsTheExistenceCheck) {
    FakeOwnCloud server;
    configure(server);
    credentials.setPassword(QStringLiteral("nope"), QStringLiteral("Quillmoor (ownCloud)"), server.user());
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("x.png"), "png")));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(server.calls().size(), 1);
}

TEST_F(OwnCloudUploaderTest, BusyRefusesSecondUploadAndCancelSilences) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    const QString path = localFile(QStringLiteral("x.png"), "png");
    auto uploader = make();
    EXPECT_TRUE(uploader->uploadFile(path, true));
    EXPECT_FALSE(uploader->uploadFile(path, true));
    uploader->cancelUpload();
    EXPECT_FALSE(uploader->busy());
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(recorder.outcomes(), 0);
}

// Each fault of the server ends the upload in one failure; a cut upload leaves no file behind.
TEST_F(OwnCloudUploaderTest, ServerFaultsEndTheUploadInOneFailure) {
    FakeOwnCloud server;
    configure(server);
    server.addFolder(QStringLiteral("/Quillmoor"));
    const std::string dav = "/remote.php/webdav/Quillmoor/";
    const std::string shares = "/ocs/v1.php/apps/files_sharing/api/v1/shares";
    const QString urlDomain = QString::fromLatin1(net::kURLErrorDomain);
    struct Case {
        std::function<void()> fault;
        QString domain;
        int code;
    };
    // The stall comes last: the server takes one connection at a time and sits it out.
    const std::vector<Case> cases{
        {[&] { server.server().setFault(Fault::status(503).onPath(dav).times(1)); }, {}, -1011},
        {[&] { server.setPassword("changed"); }, {}, -1011},
        {[&] { server.server().dropRequestBody(dav); }, urlDomain, 0},
        {[&] { server.server().setFault(Fault::dropMidBody().onPath(shares).times(1)); }, urlDomain, 0},
        {[&] { server.server().setFault(Fault::malformedBody().onPath(shares).times(1)); }, {}, 411},
        {[&] { server.server().setFault(Fault::stall(std::chrono::seconds(5)).onPath(dav)); }, urlDomain,
         net::kURLErrorTimedOut},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        recorder.failures.clear();
        cases[i].fault();
        auto uploader = make();
        static_cast<OwnCloudUploader&>(*uploader).setTimeout(std::chrono::seconds(1));
        const QString name = QStringLiteral("case%1.bin").arg(i);
        ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(name, QByteArray(1 << 20, 'c'))));
        ASSERT_EQ(recorder.failures.size(), 1) << "case " << i;
        const platform::Error& error = recorder.failures.first().second;
        EXPECT_EQ(recorder.failures.first().first, 1) << "case " << i;
        EXPECT_EQ(cases[i].domain.isEmpty() ? cases[i].domain : error.domain, cases[i].domain)
            << "case " << i;
        EXPECT_EQ(cases[i].code ? error.code : 0, cases[i].code) << "case " << i;
        EXPECT_FALSE(server.hasFile(QLatin1String("/Quillmoor/") + name) && i == 2);
        server.setPassword("s3cret");
    }
}

// Linking fails once, with the error, whatever fault stops the account test.
TEST_F(OwnCloudUploaderTest, ServerFaultsEndTheAccountTestInOneFailure) {
    FakeOwnCloud server;
    configure(server);
    const std::vector<std::function<void()>> faults{
        [&] { server.server().setFault(Fault::status(503).times(1)); },
        [&] { server.server().dropRequestBody("/remote.php/webdav/Quillmoor/dummy.bin"); },
        // The folder exists by now: its answer is cut, not a 404's.
        [&] { server.server().setFault(Fault::dropMidBody().times(1)); },
        [&] {
            server.server().setFault(Fault::status(507).onPath("/remote.php/webdav/Quillmoor/d").times(1));
        },
    };
    for (size_t i = 0; i < faults.size(); ++i) {
        recorder.authentications.clear();
        faults[i]();
        auto uploader = make();
        link(*uploader);
        ASSERT_EQ(recorder.authentications.size(), 1) << "case " << i;
        EXPECT_TRUE(recorder.authentications.first().has_value()) << "case " << i;
        EXPECT_FALSE(server.hasFile(QStringLiteral("/Quillmoor/dummy.bin"))) << "case " << i;
    }
    server.server().clearFaults();
    recorder.authentications.clear();
    auto uploader = make();
    link(*uploader);
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
}

// rclone serving a folder at the WebDAV path of an ownCloud installed under /owncloud, with Basic log-in.
class OwnCloudOnWebDAVTest : public OwnCloudUploaderTest {
protected:
    static constexpr char kUser[] = "carol";
    static constexpr char kPassword[] = "dav-pass";

    static void SetUpTestSuite() {
        root = std::make_unique<QTemporaryDir>();
        QDir().mkpath(root->filePath(QStringLiteral("served")));
        server = startWebdavServer(root->filePath(QStringLiteral("served")), QString::fromLatin1(kUser),
                                   QString::fromLatin1(kPassword), &startError,
                                   QStringLiteral("/owncloud/remote.php/webdav"));
    }
    static void TearDownTestSuite() {
        server.reset();
        root.reset();
    }

    void SetUp() override {
        OwnCloudUploaderTest::SetUp();
        ASSERT_TRUE(server) << startError.toStdString();
        // One server for the suite, so each test works in a folder of its own.
        folder = QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
        serverText = QStringLiteral("http://127.0.0.1:%1/owncloud").arg(server->port());
        configure(serverText, QString::fromLatin1(kUser), QString::fromLatin1(kPassword), folder);
    }

    static QString served(const QString& path) { return root->filePath(QStringLiteral("served/") + path); }

    static long failingStatus(const platform::Error& error) {
        return error.userInfo.value(QString::fromLatin1(net::kFailingURLResponseErrorKey))
            .value<net::HTTPResponse>()
            .statusCode;
    }

    static inline std::unique_ptr<QTemporaryDir> root;
    static inline std::unique_ptr<RealServer> server;
    static inline QString startError;
    QString folder, serverText;
};

TEST_F(OwnCloudOnWebDAVTest, AccountTestCreatesTheFolderAndCleansUp) {
    // rclone answers GET on a folder only when the path ends in "/" (405 otherwise, where ownCloud answers
    // both), so the folder is named with one.
    EXPECT_TRUE(settings.setObject(folder + QStringLiteral("/"), keys::ownCloudDirectoryName));
    auto uploader = make();
    link(*uploader);
    ASSERT_FALSE(recorder.authentications.first().has_value())
        << recorder.authentications.first()->localizedDescription.toStdString();
    EXPECT_TRUE(QFileInfo(served(folder)).isDir());
    EXPECT_TRUE(QDir(served(folder)).isEmpty());
}

TEST_F(OwnCloudOnWebDAVTest, AccountTestKeepsAnExistingFolder) {
    writeFile(served(folder + QStringLiteral("/kept.txt")), "kept");
    EXPECT_TRUE(settings.setObject(folder + QStringLiteral("/"), keys::ownCloudDirectoryName));
    auto uploader = make();
    link(*uploader);
    ASSERT_FALSE(recorder.authentications.first().has_value())
        << recorder.authentications.first()->localizedDescription.toStdString();
    EXPECT_EQ(QDir(served(folder)).entryList(QDir::Files), QStringList{QStringLiteral("kept.txt")});
    EXPECT_EQ(readFile(served(folder + QStringLiteral("/kept.txt"))), "kept");
}

TEST_F(OwnCloudOnWebDAVTest, UploadStoresTheFileByteIdentical) {
    QDir().mkpath(served(folder));
    QByteArray bytes(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + i / 4099) & 0xff);
    const QString path = localFile(QStringLiteral("report 2026.pdf"), bytes);
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, path, false));
    ASSERT_EQ(recorder.links.size(), 1)
        << recorder.failures.value(0).second.localizedDescription.toStdString();
    EXPECT_EQ(recorder.links.first().toString(QUrl::FullyEncoded),
              serverText + QLatin1Char('/') + folder + QStringLiteral("/report%202026.pdf"));
    EXPECT_TRUE(readFile(served(folder + QStringLiteral("/report 2026.pdf"))) == bytes);
    ASSERT_FALSE(recorder.progress.isEmpty());
    EXPECT_DOUBLE_EQ(recorder.progress.last(), 1.0);
}

TEST_F(OwnCloudOnWebDAVTest, TakenNamesGetNumbersAndStayUntouched) {
    writeFile(served(folder + QStringLiteral("/notes.txt")), "earlier");
    const QString path = localFile(QStringLiteral("notes.txt"), "later");
    auto uploader = make();
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(upload(*uploader, path, false));
    ASSERT_EQ(recorder.links.size(), 2);
    EXPECT_TRUE(recorder.links.last().toString().endsWith(QStringLiteral("/notes-2.txt")));
    EXPECT_EQ(readFile(served(folder + QStringLiteral("/notes.txt"))), "earlier");
    EXPECT_EQ(readFile(served(folder + QStringLiteral("/notes-1.txt"))), "later");
    EXPECT_EQ(readFile(served(folder + QStringLiteral("/notes-2.txt"))), "later");
}

TEST_F(OwnCloudOnWebDAVTest, MissingFolderFailsTheUpload) {
    auto uploader = make();
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("x.png"), "png"), false));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures.first().first, 1);
    EXPECT_EQ(recorder.failures.first().second.code, -1011);
    EXPECT_FALSE(QFileInfo::exists(served(folder)));
}

TEST_F(OwnCloudOnWebDAVTest, WrongPasswordFailsAccountTestAndUpload) {
    QDir().mkpath(served(folder));
    auto uploader = make();
    uploader->setPassword(QStringLiteral("wrong"));
    link(*uploader);
    ASSERT_TRUE(recorder.authentications.first().has_value());
    EXPECT_EQ(recorder.authentications.first()->code, -1011);
    EXPECT_EQ(failingStatus(*recorder.authentications.first()), 401);

    credentials.setPassword(QStringLiteral("wrong"), QStringLiteral("Quillmoor (ownCloud)"),
                            QString::fromLatin1(kUser));
    ASSERT_NO_FATAL_FAILURE(upload(*uploader, localFile(QStringLiteral("x.png"), "png"), false));
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_EQ(recorder.failures.first().second.code, -1011);
    EXPECT_EQ(failingStatus(recorder.failures.first().second), 401);
    EXPECT_TRUE(QDir(served(folder)).isEmpty());
}

} // namespace
} // namespace qm::test
