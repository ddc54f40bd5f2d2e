#pragma once
// What the upload bench programs share: a service environment of their own (settings in a temporary folder,
// secrets in memory) and one upload through an uploader that prints its link.

#include "accounts/credential_store.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "uploaders/service_environment.h"
#include "uploaders/uploader.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <cstdio>

namespace qm::bench {

struct BenchEnvironment {
    QTemporaryDir folder;
    platform::SettingsStore settings{folder.filePath(QStringLiteral("settings.plist"))};
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials{secrets};
    upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
};

// Uploads `path` with a public link and prints the link: 0, or the failure on standard error: 1.
inline int uploadPrintingLink(upload::Uploader& uploader, const QString& path) {
    struct Outcome final : upload::UploaderDelegate {
        QEventLoop loop;
        int status = 1;
        void uploadProgress(double, const QString&) override {}
        void uploadFailedWithStatus(upload::UploadStatus, const platform::Error& error) override {
            std::fprintf(stderr, "failed: %s\n", qPrintable(error.localizedDescription));
            loop.quit();
        }
        void createdLink(const QUrl& link, const QString&, const QUrl&) override {
            std::printf("%s\n", qPrintable(link.toString()));
            status = 0;
            loop.quit();
        }
    } outcome;
    uploader.setDelegate(&outcome);
    if (!uploader.uploadFile(path, true))
        return 1;
    outcome.loop.exec();
    uploader.setDelegate(nullptr);
    return outcome.status;
}

} // namespace qm::bench
