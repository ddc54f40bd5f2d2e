// Uploads one file through DroplrUploader, as an upload run would, and reports time and throughput.
// Usage: droplr_upload_bench FILE EMAIL PASSWORD, with the service's key pair and URL in the environment
// (QUILLMOOR_DROPLR_KEY, QUILLMOOR_DROPLR_SECRET, QUILLMOOR_DROPLR_URL).

#include "accounts/credential_store.h"
#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "services/droplr/droplr_uploader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

namespace {

using namespace qm;

class Delegate final : public upload::UploaderDelegate {
public:
    void uploadProgress(double fraction, const QString&) override { lastFraction = fraction; }
    void uploadFailedWithStatus(upload::UploadStatus status, const platform::Error& error) override {
        std::fprintf(stderr, "failed (%d): %s\n", static_cast<int>(status),
                     qPrintable(error.localizedDescription));
        QCoreApplication::exit(1);
    }
    void createdLink(const QUrl& link, const QString&, const QUrl&) override {
        std::fprintf(stderr, "link %s\n", qPrintable(link.toString()));
        QCoreApplication::exit(0);
    }
    double lastFraction = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE EMAIL PASSWORD\n", argv[0]);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const QString email = QString::fromLocal8Bit(argv[2]);

    QTemporaryDir work;
    platform::SettingsStore settings(work.filePath(QStringLiteral("settings.plist")));
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials(secrets);
    (void)settings.setObject(email, accounts::keys::droplrEmail);
    credentials.setPassword(QString::fromLocal8Bit(argv[3]), QStringLiteral("Quillmoor (Droplr)"), email);

    const upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
    const upload::DroplrUploaderClass serviceClass(
        environment, platform::Bundle::locate().value_or(platform::Bundle(QString())));
    auto uploader = serviceClass.create();
    Delegate delegate;
    uploader->setDelegate(&delegate);

    const auto start = std::chrono::steady_clock::now();
    if (!uploader->uploadFile(file, true)) {
        std::fprintf(stderr, "the upload did not start\n");
        return 1;
    }
    const int status = app.exec();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double bytes = static_cast<double>(QFileInfo(file).size());
    std::printf("seconds %.3f bytes %.0f MiB/s %.1f last-progress %.3f\n", elapsed.count(), bytes,
                bytes / (1 << 20) / elapsed.count(), delegate.lastFraction);
    return status;
}
