// box_upload_bench BASE_URL ACCESS REFRESH FOLDER FILE: uploads FILE through BoxUploader to a Box server
// (the fake of tests/servers/box) with the given tokens and folder, prints the link; exit 1 on failure.
// Everything runs as in the program: the token keeper, the listing, the streamed multipart upload, the link.

#include "accounts/credential_store.h"
#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "services/box/box_uploader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <cstdio>

namespace {

struct Outcome final : qm::upload::UploaderDelegate {
    QEventLoop loop;
    int status = 1;
    void uploadProgress(double, const QString&) override {}
    void uploadFailedWithStatus(qm::upload::UploadStatus, const qm::platform::Error& error) override {
        std::fprintf(stderr, "failed: %s\n", qPrintable(error.localizedDescription));
        loop.quit();
    }
    void createdLink(const QUrl& link, const QString&, const QUrl&) override {
        std::printf("%s\n", qPrintable(link.toString()));
        status = 0;
        loop.quit();
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: box_upload_bench BASE_URL ACCESS REFRESH FOLDER FILE\n");
        return 2;
    }
    using namespace qm;
    QTemporaryDir folder;
    platform::SettingsStore settings(folder.filePath(QStringLiteral("settings.plist")));
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials(secrets);
    const upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
    const QUrl base(QString::fromLocal8Bit(argv[1]));
    upload::BoxConfig config{base, base, base, base, QStringLiteral("bench"), QStringLiteral("bench")};
    upload::BoxUploaderClass box(environment, platform::Bundle(folder.path(), {}), config);
    net::OAuth2Credential credential(QString::fromLocal8Bit(argv[2]), QStringLiteral("bearer"));
    credential.setRefreshToken(QString::fromLocal8Bit(argv[3]),
                               QDateTime::currentDateTimeUtc().addSecs(3600));
    box.tokens().store(credential);
    (void)settings.setObject(QString::fromLocal8Bit(argv[4]),
                             QString::fromLatin1(accounts::keys::boxFolderId));

    Outcome outcome;
    auto uploader = box.create();
    uploader->setDelegate(&outcome);
    if (!uploader->uploadFile(QString::fromLocal8Bit(argv[5]), true))
        return 1;
    outcome.loop.exec();
    return outcome.status;
}
