#include "accounts/settings_keys.h"
#include "fake_box.h"
#include "fake_dropbox.h"
#include "fake_yousendit.h"
#include "servers/cloudapp/fake_cloudapp.h"
#include "servers/droplr/fake_droplr.h"
#include "servers/dropmark/fake_dropmark.h"
#include "servers/googledrive/fake_googledrive.h"
#include "servers/mediafire/fake_mediafire.h"
#include "servers/owncloud/fake_owncloud.h"
#include "services/box/box_uploader.h"
#include "services/built_in_services.h"
#include "services/cloudapp/cloudapp_uploader.h"
#include "services/dropbox/dropbox_uploader.h"
#include "services/droplr/droplr_uploader.h"
#include "services/dropmark/dropmark_uploader.h"
#include "services/generic/generic_uploader.h"
#include "services/googledrive/googledrive_uploader.h"
#include "services/mediafire/mediafire_uploader.h"
#include "services/owncloud/owncloud_uploader.h"
#include "services/yousendit/you_send_it.h"
#include "services/yousendit/yousendit_uploader.h"
#include "support/test_server.h"
#include "support/uploader_fixture.h"

#include <QSet>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

namespace keys = accounts::keys;
using upload::ServiceId;

// A server in this process on which a service's uploads and linking attempts can finish.
template <typename ServiceClass> struct ContractServer;

template <> struct ContractServer<upload::GenericUploaderClass> {
    static constexpr ServiceId id = ServiceId::Generic;
    QTemporaryDir folder;
    void configure(platform::SettingsStore& settings, accounts::CredentialStore&) {
        EXPECT_TRUE(settings.setObject(QUrl::fromLocalFile(folder.path()).toString(), keys::genericServer));
    }
};

template <> struct ContractServer<upload::OwnCloudUploaderClass> {
    static constexpr ServiceId id = ServiceId::OwnCloud;
    FakeOwnCloud server;
    StreamServer& web() { return server.server(); }
    void dropUpload() { server.server().dropRequestBody(); }
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        server.addFolder(QStringLiteral("/Quillmoor"));
        EXPECT_TRUE(settings.setObject(server.url(), keys::ownCloudURL));
        EXPECT_TRUE(settings.setObject(server.user(), keys::ownCloudEmail));
        credentials.setPassword(server.password(), QStringLiteral("Quillmoor (ownCloud)"), server.user());
    }
};

template <> struct ContractServer<upload::YouSendItUploaderClass> {
    static constexpr ServiceId id = ServiceId::YouSendIt;
    FakeYouSendIt server;
    TestServer& web() { return server.server(); }
    static constexpr char uploadPath[] = "/upload/";
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        server.addAccount("me@example.org", "secret");
        // The process's client keeps its session from test to test; this fake knows none of it.
        yousendit::YouSendIt::sharedInstance()->setAuthToken({});
        qputenv("QUILLMOOR_YOUSENDIT_URL", server.url().toString().toUtf8());
        qputenv("QUILLMOOR_YOUSENDIT_KEY", FakeYouSendIt::kApiKey);
        EXPECT_TRUE(settings.setObject(QStringLiteral("me@example.org"), keys::youSendItEmail));
        credentials.setPassword(QStringLiteral("secret"), QStringLiteral("Quillmoor (Hightail)"),
                                QStringLiteral("me@example.org"));
    }
};

template <> struct ContractServer<upload::DropmarkUploaderClass> {
    static constexpr ServiceId id = ServiceId::Dropmark;
    FakeDropmark server;
    TestServer& web() { return server.server(); }
    static constexpr char uploadPath[] = "/v1/collections/";
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        // The class reads its deployment from the environment, as the hosts make it.
        qputenv("QUILLMOOR_DROPMARK_URL", server.url().toEncoded());
        qputenv("QUILLMOOR_DROPMARK_KEY", FakeDropmark::kApiKey);
        EXPECT_TRUE(settings.setObject(QString::fromLatin1(FakeDropmark::kEmail), keys::dropmarkEmail));
        credentials.setPassword(QString::fromLatin1(FakeDropmark::kPassword),
                                QStringLiteral("Quillmoor (Dropmark)"),
                                QString::fromLatin1(FakeDropmark::kEmail));
        EXPECT_TRUE(settings.setObject(QString::fromLatin1(FakeDropmark::kUserId), keys::dropmarkUserID));
        EXPECT_TRUE(settings.setObject(QString::fromLatin1(FakeDropmark::kToken), keys::dropmarkToken));
        EXPECT_TRUE(settings.setObject(QString::fromStdString(server.addCollection("Quillmoor")),
                                       keys::dropmarkCollectionID));
    }
    ~ContractServer() {
        qunsetenv("QUILLMOOR_DROPMARK_URL");
        qunsetenv("QUILLMOOR_DROPMARK_KEY");
    }
};

template <> struct ContractServer<upload::MediaFireUploaderClass> {
    static constexpr ServiceId id = ServiceId::MediaFire;
    FakeMediaFire server;
    TestServer& web() { return server.server(); }
    static constexpr char uploadPath[] = "/api/upload/";
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        qputenv("QUILLMOOR_MEDIAFIRE_URL", server.url().toEncoded());
        qputenv("QUILLMOOR_MEDIAFIRE_KEY", FakeMediaFire::kApplicationId);
        qputenv("QUILLMOOR_MEDIAFIRE_SECRET", FakeMediaFire::kApiKey);
        EXPECT_TRUE(settings.setObject(QString::fromLatin1(FakeMediaFire::kEmail), keys::mediaFireEmail));
        credentials.setPassword(QString::fromLatin1(FakeMediaFire::kPassword),
                                QStringLiteral("Quillmoor (MediaFire)"),
                                QString::fromLatin1(FakeMediaFire::kEmail));
        EXPECT_TRUE(settings.setObject(QString::fromStdString(server.addFolder("Quillmoor")),
                                       keys::mediaFireFolderKey));
    }
    ~ContractServer() {
        for (const char* name :
             {"QUILLMOOR_MEDIAFIRE_URL", "QUILLMOOR_MEDIAFIRE_KEY", "QUILLMOOR_MEDIAFIRE_SECRET"})
            qunsetenv(name);
    }
};

template <> struct ContractServer<upload::DroplrUploaderClass> {
    static constexpr ServiceId id = ServiceId::Droplr;
    FakeDroplr server;
    TestServer& web() { return server.server(); }
    static constexpr char uploadPath[] = "/files";
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        server.addAccount("contract@example.org", "pw");
        qputenv("QUILLMOOR_DROPLR_KEY", FakeDroplr::kPublicKey);
        qputenv("QUILLMOOR_DROPLR_SECRET", FakeDroplr::kPrivateKey);
        qputenv("QUILLMOOR_DROPLR_URL", server.url().toString().toUtf8());
        EXPECT_TRUE(settings.setObject(QStringLiteral("contract@example.org"), keys::droplrEmail));
        credentials.setPassword(QStringLiteral("pw"), QStringLiteral("Quillmoor (Droplr)"),
                                QStringLiteral("contract@example.org"));
    }
};

template <> struct ContractServer<upload::CloudAppUploaderClass> {
    static constexpr ServiceId id = ServiceId::CloudApp;
    FakeCloudApp cloud;
    TestServer& web() { return cloud.server(); }
    // The file goes to the storage host, a server of its own.
    void dropUpload() { cloud.storage().dropNext(); }
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        cloud.setIconPath({});
        EXPECT_TRUE(settings.setObject(cloud.apiURL().toString(), keys::cloudAppBaseURL));
        EXPECT_TRUE(settings.setObject(cloud.email(), keys::cloudAppEmail));
        credentials.setPassword(cloud.password(), QStringLiteral("Quillmoor (CloudApp)"), cloud.email());
    }
};

template <> struct ContractServer<upload::BoxUploaderClass> {
    static constexpr ServiceId id = ServiceId::Box;
    FakeBox box;
    TestServer& web() { return box.server(); }
    static constexpr char uploadPath[] = "/api/2.0/files/content";
    QList<std::pair<const char*, QByteArray>> saved;
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        const QByteArray url = box.url().toString().toUtf8();
        for (const auto& [name, value] :
             {std::pair<const char*, QByteArray>{"QUILLMOOR_BOX_URL", url},
              {"QUILLMOOR_BOX_AUTH_URL", url},
              {"QUILLMOOR_BOX_UPLOAD_URL", url},
              {"QUILLMOOR_BOX_KEY", QByteArray::fromStdString(box.options().clientId)},
              {"QUILLMOOR_BOX_SECRET", QByteArray::fromStdString(box.options().clientSecret)}}) {
            saved.append({name, qgetenv(name)});
            qputenv(name, value);
        }
        const FakeBox::Tokens tokens = box.issueTokens();
        net::OAuth2Credential credential(QString::fromStdString(tokens.access), QStringLiteral("bearer"));
        credential.setRefreshToken(QString::fromStdString(tokens.refresh),
                                   QDateTime::currentDateTimeUtc().addSecs(3600));
        net::OAuth2CredentialStore(credentials.secretStore())
            .storeCredential(credential, QStringLiteral("Quillmoor (Box)"));
        EXPECT_TRUE(
            settings.setObject(QString::fromStdString(box.addFolder("0", "Quillmoor")), keys::boxFolderId));
    }
    // The browser: follows the sign-in page and hands the redirect back.
    void prepare(upload::Uploader& uploader) {
        upload::Uploader* raw = &uploader;
        uploader.setPageOpener([raw](const QUrl& page) {
            const QString redirect = FakeBox::follow(page);
            QTimer::singleShot(0, [raw, redirect] { raw->finishSignIn(redirect); });
            return true;
        });
    }
    ~ContractServer() {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
};

template <> struct ContractServer<upload::DropboxUploaderClass> {
    static constexpr ServiceId id = ServiceId::Dropbox;
    FakeDropbox dropbox;
    TestServer& web() { return dropbox.server(); }
    static constexpr char uploadPath[] = "/2/files/upload_session/";
    QList<std::pair<const char*, QByteArray>> saved;
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        const QByteArray url = dropbox.url().toString().toUtf8();
        for (const auto& [name, value] :
             {std::pair<const char*, QByteArray>{"QUILLMOOR_DROPBOX_URL", url},
              {"QUILLMOOR_DROPBOX_AUTH_URL", url},
              {"QUILLMOOR_DROPBOX_UPLOAD_URL", url},
              {"QUILLMOOR_DROPBOX_KEY", QByteArray::fromStdString(dropbox.options().appKey)}}) {
            saved.append({name, qgetenv(name)});
            qputenv(name, value);
        }
        // Linked in the session only: linking copies that state instead of opening the browser.
        const FakeDropbox::Tokens tokens = dropbox.issueTokens();
        net::OAuth2Credential credential(QString::fromStdString(tokens.access), QStringLiteral("bearer"));
        credential.setRefreshToken(QString::fromStdString(tokens.refresh),
                                   QDateTime::currentDateTimeUtc().addSecs(3600));
        net::OAuth2CredentialStore(credentials.secretStore())
            .storeCredential(credential, QStringLiteral("Quillmoor (Dropbox)"));
        EXPECT_TRUE(settings.setBool(true, keys::dropboxLinked));
    }
    ~ContractServer() {
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
};

template <> struct ContractServer<upload::GoogleDriveUploaderClass> {
    static constexpr ServiceId id = ServiceId::GoogleDrive;
    FakeGoogleDrive drive;
    TestServer& web() { return drive.server(); }
    static constexpr char uploadPath[] = "/upload/";
    ContractServer() { drive.exportEnvironment(); }
    ~ContractServer() { drive.exportEnvironment(false); }
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        drive.grantTokens("ya29.contract", "1//contract");
        (void)upload::gdrive::AuthorizationStore(credentials, QStringLiteral("Quillmoor (GoogleDrive)"))
            .save({QStringLiteral("ya29.contract"),
                   QStringLiteral("1//contract"),
                   {},
                   QStringLiteral("a@b.c")});
        EXPECT_TRUE(settings.setObject(QString::fromStdString(drive.addFolder("Quillmoor", drive.rootId())),
                                       keys::googleDriveFolderId));
    }
    // Linking goes through the browser, played here.
    void prepareClass(upload::GoogleDriveUploaderClass& serviceClass, UploaderRecorder& recorder) {
        serviceClass.setOpenUrl([this](const QUrl& page) { return drive.openInBrowser(page), true; });
        serviceClass.options().backoff = std::chrono::milliseconds(10);
        recorder.acceptsIcons = true;
    }
};

// Every registered uploader keeps the promise of uploader.h: nothing after cancel.
template <typename ServiceClass> class UploaderContractTest : public UploaderFixture<ServiceClass> {
protected:
    void SetUp() override {
        server.configure(this->settings, this->credentials);
        this->recorder.acceptsIcons = true;
        if constexpr (std::is_constructible_v<ServiceClass, upload::ServiceEnvironment&, platform::Bundle&>)
            this->serviceClass = std::make_unique<ServiceClass>(this->environment, this->bundle);
        else
            this->serviceClass = std::make_unique<ServiceClass>(this->environment);
        if constexpr (requires { server.prepareClass(*this->serviceClass, this->recorder); })
            server.prepareClass(*this->serviceClass, this->recorder);
    }
    // The browser of services that link there, played by their fake.
    std::unique_ptr<upload::Uploader> make() {
        auto uploader = UploaderFixture<ServiceClass>::make();
        if constexpr (requires { server.prepare(*uploader); })
            server.prepare(*uploader);
        return uploader;
    }
    ContractServer<ServiceClass> server;
};

// One entry per registered service.
using RegisteredServices = ::testing::Types<upload::GenericUploaderClass, upload::OwnCloudUploaderClass,
                                            upload::YouSendItUploaderClass, upload::DropmarkUploaderClass,
                                            upload::MediaFireUploaderClass, upload::DroplrUploaderClass,
                                            upload::CloudAppUploaderClass, upload::BoxUploaderClass,
                                            upload::DropboxUploaderClass, upload::GoogleDriveUploaderClass>;
const QSet<ServiceId> kCovered{
    ContractServer<upload::GenericUploaderClass>::id,   ContractServer<upload::OwnCloudUploaderClass>::id,
    ContractServer<upload::YouSendItUploaderClass>::id, ContractServer<upload::DropmarkUploaderClass>::id,
    ContractServer<upload::MediaFireUploaderClass>::id, ContractServer<upload::DroplrUploaderClass>::id,
    ContractServer<upload::CloudAppUploaderClass>::id,  ContractServer<upload::BoxUploaderClass>::id,
    ContractServer<upload::DropboxUploaderClass>::id,   ContractServer<upload::GoogleDriveUploaderClass>::id};
TYPED_TEST_SUITE(UploaderContractTest, RegisteredServices);

TYPED_TEST(UploaderContractTest, NothingAfterCancel) {
    const UploaderRecorder& recorder = this->recorder;
    auto uploader = this->make();
    // Services that send the files to the message's recipients need some; the others ignore them.
    uploader->setRecipientList({QStringLiteral("someone@example.org")});
    const QString a = this->localFile(QStringLiteral("a.bin"), QByteArray(256 * 1024, 'a'));
    const QString b = this->localFile(QStringLiteral("b.bin"), QByteArray(256 * 1024, 'b'));

    // The cancelled upload's answers arrive while the next one runs; only the next one is reported.
    ASSERT_TRUE(uploader->uploadFile(a, true));
    uploader->cancelUpload();
    EXPECT_FALSE(uploader->busy());
    this->upload(*uploader, b);
    EXPECT_EQ(recorder.linkFiles, QStringList{b});
    EXPECT_TRUE(recorder.failures.isEmpty())
        << recorder.failures.value(0).second.localizedDescription.toStdString();

    const qsizetype progress = recorder.progress.size();
    ASSERT_TRUE(uploader->uploadFile(a, true));
    uploader->cancelUpload();
    uploader->setCreatePublicLink(true);
    uploader->authenticate();
    uploader->cancelUpload();
    waitUntil([] { return false; }, 1000);
    EXPECT_EQ(recorder.progress.size(), progress);
    EXPECT_EQ(recorder.outcomes(), 1);
    EXPECT_TRUE(recorder.authentications.isEmpty());

    // Not cancelled, the same uploader links: the silence above was the cancel's.
    linkAndWait(*uploader, recorder);
    EXPECT_FALSE(recorder.authentications.value(0).has_value());
}

// After linking, a connection that drops while the file goes up, and a server that fails every request,
// each end the upload with one failure a person can act on, and no link.
TYPED_TEST(UploaderContractTest, ADroppedUploadOrALastingServerErrorEndsInOneClearFailure) {
    auto& server = this->server;
    if constexpr (!requires { server.web(); }) {
        GTEST_SKIP() << "its server in this test is a folder: there is no connection to fail";
    } else {
        const UploaderRecorder& recorder = this->recorder;
        auto uploader = this->make();
        uploader->setRecipientList({QStringLiteral("someone@example.org")});
        linkAndWait(*uploader, recorder);
        ASSERT_FALSE(recorder.authentications.value(0).has_value());
        const QString file = this->localFile(QStringLiteral("f.bin"), QByteArray(512 * 1024, 'f'));
        const auto dropUpload = [&] {
            if constexpr (requires { server.dropUpload(); })
                server.dropUpload();
            else
                server.web().setFault(Fault::dropMidBody().onPath(server.uploadPath));
        };
        for (const auto& [name, fault] :
             {std::pair<const char*, std::function<void()>>{"dropped", dropUpload},
              {"503", [&] { server.web().setFault(Fault::status(503)); }}}) {
            SCOPED_TRACE(name);
            server.web().clearFaults();
            fault();
            const qsizetype before = recorder.failures.size();
            this->upload(*uploader, file);
            ASSERT_EQ(recorder.failures.size(), before + 1);
            const QString text = recorder.failures.last().second.localizedDescription;
            EXPECT_TRUE(isClearFailure(recorder.failures.last().second)) << text.toStdString();
        }
        EXPECT_TRUE(recorder.links.isEmpty());
    }
}

using RegistrationTest = UploaderFixture<upload::UploaderClass>;

TEST_F(RegistrationTest, EveryBuiltServiceIsRegisteredDescribedAndHeldToTheContract) {
    upload::ServiceRegistry registry(QStringLiteral("Quillmoor"));
    upload::registerBuiltInServices(registry, environment, bundle);
    for (const ServiceId id : upload::kAllServices) {
        const upload::UploaderClass* serviceClass = registry.classForService(id);
        if (!serviceClass)
            continue;
        const upload::ServiceDescription& description = serviceClass->description();
        EXPECT_EQ(description.id, id);
        EXPECT_TRUE(kCovered.contains(id))
            << serviceClass->name().toStdString() << " is not in RegisteredServices";
        if (description.linking == upload::Linking::Password) {
            EXPECT_FALSE(description.accountKey.isEmpty()) << serviceClass->name().toStdString();
        }
    }
    EXPECT_TRUE(registry.classForService(ServiceId::Generic));
    EXPECT_TRUE(registry.classForService(ServiceId::OwnCloud));
    EXPECT_EQ(registry.descriptionOfService(ServiceId::OwnCloud)->fields.value(0).kind,
              upload::AccountField::Kind::ServerAddress);
}

} // namespace
} // namespace qm::test
