#pragma once

#include "cli/terminal_ui.h"
#include "host/host.h"
#include "host/in_memory_compose.h"

namespace qm::cli {

// The command-line host: a runtime with the in-memory compose window class, an application object whose
// preferences window cannot open here, and the terminal's interface services.
class CliHost final : public host::Host {
public:
    static constexpr char composeClassName[] = "DocumentEditor";

    // `send` is the host's own send of a compose window; `preferencesRequested` runs when the plug-in
    // asks for the preferences window.
    CliHost(TerminalUi& ui, host::InMemoryComposeClasses::WindowAction send,
            std::function<void()> preferencesRequested);

    host::Runtime& runtime() override { return runtime_; }
    host::ObjectPtr application() override { return application_; }
    host::UiServices& ui() override { return ui_; }
    // The compose window class of this version is "DocumentEditor".
    QVersionNumber systemVersion() const override { return QVersionNumber(10, 9); }
    bool staysOpen() const override { return false; }
    // `quillmoor open-url`, which relays the URL to the programs waiting for one; empty claims nothing.
    QString urlHandlerCommand() const override { return urlHandlerCommand_; }
    void setUrlHandlerCommand(const QString& command) { urlHandlerCommand_ = command; }

    std::shared_ptr<host::InMemoryComposeWindow> newComposeWindow();

private:
    host::Runtime runtime_;
    TerminalUi& ui_;
    host::ObjectPtr application_;
    QString urlHandlerCommand_;
};

} // namespace qm::cli
