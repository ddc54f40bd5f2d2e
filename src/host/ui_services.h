#pragma once

#include "host/interface_objects.h"
#include "host/runtime.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace qm::host {

// Return codes of an alert's buttons: default, alternate, other.
enum AlertReturn : int { AlertDefaultReturn = 1, AlertAlternateReturn = 0, AlertOtherReturn = -1 };

struct AlertRequest {
    QString title;
    QString informativeText;
    QString iconPath;      // an image file; empty for none
    QString defaultButton; // empty buttons are left out; all empty gives one default button
    QString alternateButton;
    QString otherButton;
    bool showsSuppressionButton = false;
};

struct AlertResponse {
    int returnCode = AlertDefaultReturn;
    bool suppressionChecked = false;
};

// The alerts, sheets and system services a host offers the plug-in. Hosts present them their own way:
// Qt widgets, terminal prompts, or recorded answers in tests.
class UiServices {
public:
    virtual ~UiServices() = default;

    // Shows an alert as a sheet on `window` and returns at once. `completion` runs exactly once, on the
    // main thread, with the return code of the pressed button, after the sheet is ordered out.
    virtual void beginAlertSheet(const AlertRequest& request, const ObjectPtr& window,
                                 std::function<void(int returnCode)> completion) = 0;

    // Runs an application-modal alert and answers how it ended.
    virtual AlertResponse runModalAlert(const AlertRequest& request) = 0;

    // Opens a URL in the handler the system has for it; false when nothing could open it.
    virtual bool openUrl(const QUrl& url) = 0;

    // Loads the interface file at `path`, connecting its outlets and wiring its controls to `actions`;
    // nullopt when the host cannot load it. Plug-ins reach this through the runtime's loading class
    // (interface_loading.h), never directly.
    virtual std::optional<LoadedInterface> loadInterface(const QString& path,
                                                         const InterfaceActions& actions) = 0;

    // Shows `panel` as a sheet on `window` until endSheet(); `didEnd` then runs once with the return code,
    // after the panel is ordered out.
    virtual void beginSheet(const std::shared_ptr<Panel>& panel, const ObjectPtr& window,
                            std::function<void(int returnCode)> didEnd) = 0;
    virtual void endSheet(const std::shared_ptr<Panel>& panel, int returnCode = 0) = 0;
};

} // namespace qm::host
