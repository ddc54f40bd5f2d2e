#pragma once

#include "desktop/compose_window.h"
#include "desktop/desktop_host.h"
#include "plugin/quillmoor_bundle.h"
#include "ui/preference_module.h"

#include <QUrl>
#include <memory>

namespace qm::desktop {

// The desktop host's process: the host, the plug-in loaded into it, the preference page and the compose
// windows. It stays open, so the plug-in's delayed start-up work (welcome, update check) runs.
class DesktopApplication {
public:
    struct Parts {
        platform::SettingsStore& settings;
        upload::ServiceRegistry& services;
        const platform::Bundle& bundle;
        accounts::CredentialStore* credentials;
        DeliverySettings delivery;
        QString workingDirectory;
        ui::AuthUploaderHolder* authUploader = nullptr; // null: the page keeps its own
    };

    explicit DesktopApplication(Parts parts);
    ~DesktopApplication();

    // Loads the plug-in; an error when it could not take over the compose window's send.
    platform::Result<void> start();
    ComposeWindow* newComposeWindow();

    // A URL the browser handed to `quillmoor open-url`, passed on by the relay: the front window comes
    // up and the application object's URL handler (the plug-in's, once loaded) takes the URL.
    void handleUrl(const QUrl& url);

    DesktopHost& host() { return host_; }
    ui::PreferenceModule& preferenceModule() { return *module_; }
    plugin::QuillmoorBundle& plugin() { return *plugin_; }

private:
    // The page's linking uploader, published where the plug-in's URL handler looks for it.
    class PluginLinkingHolder final : public ui::AuthUploaderHolder {
    public:
        explicit PluginLinkingHolder(DesktopApplication& application)
            : application_(application) {}
        void setAuthUploader(upload::Uploader* uploader, upload::ServiceId service) override;
        upload::Uploader* authUploader() const override;

    private:
        DesktopApplication& application_;
    };

    Parts parts_;
    PluginLinkingHolder linkingHolder_{*this};
    DesktopHost host_;
    plugin::PluginContext context_; // the page's; the plug-in keeps its own
    std::unique_ptr<ui::PreferenceModule> module_;
    std::unique_ptr<plugin::QuillmoorBundle> plugin_;
    QPointer<ComposeWindow> front_;
};

} // namespace qm::desktop
