#pragma once

#include "accounts/credential_store.h"
#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "plugin/attachment_pipeline.h"
#include "plugin/document_editor.h"
#include "support/test_host.h"
#include "support/test_uploader.h"
#include "uploaders/service_registry.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qm::test {

// Records what the send decision hands on to the upload pipeline.
class RecordingPipeline final : public plugin::UploadPipeline {
public:
    QList<host::ObjectPtr> started;
    QList<host::ObjectPtr> closed;
    void prepareAndUploadAttachments(const host::ComposeWindow& editor) override {
        started.append(editor.object());
    }
    void editorWillClose(const host::ComposeWindow& editor) override { closed.append(editor.object()); }
};

// The plug-in loaded into a test host the way start-up does it: settings in a private folder, the real
// bundle, a registry with a test service under the Generic identifier, and the compose window's send
// and close exchanged with the plug-in's.
class PluginFixture : public ::testing::Test {
protected:
    PluginFixture()
        : PluginFixture(TestHost::Options()) {}
    // `realPipeline`: the send decision hands over to the real attachment pipeline instead of a recorder.
    explicit PluginFixture(TestHost::Options options, bool realPipeline = false)
        : host(std::move(options))
        , settings(folder.filePath(QStringLiteral("config/settings.plist")))
        , bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/Quillmoor.bundle"),
                 {QStringLiteral("en")})
        , credentials(secrets)
        , environment{settings, credentials, bundle.name()}
        , context{host, settings, bundle, services}
        , editor(context,
                 realPipeline ? static_cast<plugin::UploadPipeline&>(attachments(context)) : pipeline) {
        auto serviceClass = std::make_unique<TestUploaderClass>(
            environment, testDescription(upload::ServiceId::Generic, accounts::keys::genericLinked,
                                         accounts::keys::genericLogin));
        testService = serviceClass.get();
        services.registerService(std::move(serviceClass));
        install();
    }

    void install() {
        host::Class* category = editor.defineCategoryClass();
        host::Class* compose = host.runtime().classNamed(QStringLiteral("DocumentEditor"));
        ASSERT_TRUE(category && compose);
        compose->addMethodsFrom(*category);
        ASSERT_TRUE(
            compose->exchangeInstanceMethods(QStringLiteral("send:"), QStringLiteral("quillmoorSend:")));
        ASSERT_TRUE(compose->exchangeInstanceMethods(QStringLiteral("windowWillClose:"),
                                                     QStringLiteral("quillmoorWindowWillClose:")));
    }

    plugin::AttachmentPipeline& attachments(plugin::PluginContext& context) {
        if (!attachmentPipeline) {
            const QString work = folder.filePath(QStringLiteral("work"));
            QDir().mkpath(work);
            attachmentPipeline = std::make_unique<plugin::AttachmentPipeline>(context, work);
        }
        return *attachmentPipeline;
    }

    // Links the test service and selects it.
    void linkService() {
        (void)settings.setInteger(9, accounts::keys::selectedService);
        services.setIsLinked(true, upload::ServiceId::Generic);
    }

    // A file of `bytes` (sparse, so large sizes cost nothing) attached and referenced by the body.
    void attach(const std::shared_ptr<TestComposeWindow>& window, const QString& contentID, qint64 bytes,
                const QString& name = {}) {
        const QString path = folder.filePath(QStringLiteral("files/") +
                                             (name.isEmpty() ? contentID + QStringLiteral(".bin") : name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(bytes));
        window->addAttachment({contentID, path, {}, {}});
    }

    QTemporaryDir folder;
    TestHost host;
    platform::SettingsStore settings;
    platform::Bundle bundle;
    platform::MemorySecretStore secrets;
    accounts::CredentialStore credentials;
    upload::ServiceEnvironment environment;
    upload::ServiceRegistry services;
    TestUploaderClass* testService = nullptr;
    plugin::PluginContext context;
    RecordingPipeline pipeline;
    std::unique_ptr<plugin::AttachmentPipeline> attachmentPipeline;
    plugin::DocumentEditor editor;
};

} // namespace qm::test
