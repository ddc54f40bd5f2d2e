#pragma once

#include "host/runtime.h"
#include "host/ui_services.h"

#include <QVersionNumber>

namespace qm::host {

// What a host offers the plug-in: its class runtime, its application object, its interface services
// and the version by which its compose window class is chosen.
class Host {
public:
    virtual ~Host() = default;
    virtual Runtime& runtime() = 0;
    virtual ObjectPtr application() = 0;
    virtual UiServices& ui() = 0;
    virtual QVersionNumber systemVersion() const = 0;
    // The command that opens a URL in this host (the URL is appended), so that the plug-in's URL schemes
    // reach it; empty for hosts that cannot take URLs, which then claim nothing.
    virtual QString urlHandlerCommand() const { return {}; }
    // Whether the host stays open after its first piece of work, so that the plug-in's delayed start-up
    // notices (the welcome, the update check) reach a user; a one-shot command answers false.
    virtual bool staysOpen() const { return true; }
};

} // namespace qm::host
