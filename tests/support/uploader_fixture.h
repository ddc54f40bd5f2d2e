#pragma once

#include "accounts/credential_store.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "support/uploader_recorder.h"
#include "uploaders/uploader_class.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace qm::test {

// What a test of one service's uploader works with: private settings and credentials, the bundle, the
// service's class (made by the test's SetUp) and one recorder that every uploader made here reports to.
template <typename ServiceClass> class UploaderFixture : public ::testing::Test {
protected:
    std::unique_ptr<upload::Uploader> make() {
        auto uploader = serviceClass->create();
        uploader->setDelegate(&recorder);
        return uploader;
    }

    QString localFile(const QString& name, const QByteArray& bytes) {
        const QString path = temp.filePath(QStringLiteral("local/") + name);
        writeFile(path, bytes);
        return path;
    }

    void upload(upload::Uploader& uploader, const QString& path, bool publicLink = true) {
        uploadAndWait(uploader, recorder, path, publicLink);
    }

    QTemporaryDir temp;
    platform::SettingsStore settings{temp.filePath(QStringLiteral("settings.plist"))};
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials{secrets};
    upload::ServiceEnvironment environment{settings, credentials, QStringLiteral("Quillmoor")};
    platform::Bundle bundle{QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                            {QStringLiteral("en")}};
    std::unique_ptr<ServiceClass> serviceClass;
    UploaderRecorder recorder;
};

} // namespace qm::test
