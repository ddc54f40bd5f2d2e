#pragma once

#include "host/host.h"
#include "host/in_memory_compose.h"
#include "ui/preferences_window.h"
#include "ui/qt_ui_services.h"

#include <QHash>
#include <functional>

namespace qm::desktop {

// The desktop host's side of the runtime: compose windows whose messages live in memory (the widgets
// fill them at Send), the application object, the preferences window and the interface services on Qt.
class DesktopHost final : public host::Host {
public:
    static constexpr char composeClassName[] = "DocumentEditor";
    using SendHandler = std::function<void(host::InMemoryComposeWindow& window)>;

    DesktopHost();

    host::Runtime& runtime() override { return runtime_; }
    host::ObjectPtr application() override { return application_; }
    host::UiServices& ui() override { return ui_; }
    QVersionNumber systemVersion() const override { return QVersionNumber(10, 9); }
    // Browsers hand the plug-in's URLs to `quillmoor open-url`, which passes them on to this process.
    QString urlHandlerCommand() const override;

    ui::QtUiServices& qtUi() { return ui_; }
    ui::PreferencesWindow& preferences() { return *preferences_; }

    // A new compose window object; its host's own send runs `send`.
    std::shared_ptr<host::InMemoryComposeWindow> newComposeWindow(SendHandler send);

private:
    host::Runtime runtime_;
    ui::QtUiServices ui_;
    host::ObjectPtr application_;
    std::unique_ptr<ui::PreferencesWindow> preferences_;
    QHash<const host::Object*, SendHandler> sends_;
};

} // namespace qm::desktop
