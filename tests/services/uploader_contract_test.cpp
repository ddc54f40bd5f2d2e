#include "accounts/settings_keys.h"
#include "servers/googledrive/fake_googledrive.h"
#include "services/built_in_services.h"
#include "services/generic/generic_uploader.h"
#include "services/googledrive/googledrive_uploader.h"
#include "services/owncloud/owncloud_uploader.h"
#include "support/fake_owncloud.h"
#include "support/uploader_fixture.h"

#include <QSet>
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
    void configure(platform::SettingsStore& settings, accounts::CredentialStore& credentials) {
        server.addFolder(QStringLiteral("/Quillmoor"));
        EXPECT_TRUE(settings.setObject(server.url(), keys::ownCloudURL));
        EXPECT_TRUE(settings.setObject(server.user(), keys::ownCloudEmail));
        credentials.setPassword(server.password(), QStringLiteral("Quillmoor (ownCloud)"), server.user());
    }
};

template <> struct ContractServer<upload::GoogleDriveUploaderClass> {
    static constexpr ServiceId id = ServiceId::GoogleDrive;
    FakeGoogleDrive drive;
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
    void prepare(upload::GoogleDriveUploaderClass& serviceClass, UploaderRecorder& recorder) {
        serviceClass.setOpenUrl([this](const QUrl& page) { return drive.openInBrowser(page), true; });
        recorder.iconsExpected = true;
    }
};

// Every registered uploader keeps the promise of uploader.h: nothing after cancel.
template <typename ServiceClass> class UploaderContractTest : public UploaderFixture<ServiceClass> {
protected:
    void SetUp() override {
        server.configure(this->settings, this->credentials);
        this->serviceClass = std::make_unique<ServiceClass>(this->environment, this->bundle);
        if constexpr (requires { server.prepare(*this->serviceClass, this->recorder); })
            server.prepare(*this->serviceClass, this->recorder);
    }
    ContractServer<ServiceClass> server;
};

using RegisteredServices = ::testing::Types<upload::GenericUploaderClass, upload::OwnCloudUploaderClass,
                                            upload::GoogleDriveUploaderClass>;
const QSet<ServiceId> kCovered{ContractServer<upload::GenericUploaderClass>::id,
                               ContractServer<upload::OwnCloudUploaderClass>::id,
                               ContractServer<upload::GoogleDriveUploaderClass>::id};
TYPED_TEST_SUITE(UploaderContractTest, RegisteredServices);

TYPED_TEST(UploaderContractTest, NothingAfterCancel) {
    const UploaderRecorder& recorder = this->recorder;
    auto uploader = this->make();
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
