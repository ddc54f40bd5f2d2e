#pragma once

#include "plugin/plugin_context.h"

#include <QString>
#include <QStringList>

namespace qm::plugin {

// Where the outside update tool and its inbox are looked for. The plug-in never updates itself: it leaves
// an action file that the tool's helper picks up. On Linux an application "found by the workspace" is a
// desktop entry named after its identifier, and the local applications folder is /opt.
struct UpdateToolLocations {
    QString applicationsFolder;      // where "Mail Plugin Manager.app" may be installed
    QStringList desktopEntryFolders; // searched in order for "<identifier>.desktop"
    QString libraryFolder;           // the action files go to its "Mail/MPT"

    static UpdateToolLocations system();
};

// The update check fired 10 seconds after start-up.
class UpdateCheck {
public:
    static constexpr char vendorPrefix[] = "com.rovendal.";
    static constexpr char managerDownloadAddress[] = "https://www.rovendal.com/mail-plugin-manager";

    UpdateCheck(PluginContext& context, UpdateToolLocations locations)
        : context_(context)
        , locations_(std::move(locations)) {}

    void checkForUpdate() const;

    // The helper application, or null when neither the workspace nor the manager's folder has it.
    QString locateTool() const;
    // Writes a new action file; its path, or null (and a log line) when it could not be written.
    QString writeActionFile() const;

private:
    QString locateManager() const;
    QString applicationForIdentifier(const QString& identifier) const;

    PluginContext& context_;
    UpdateToolLocations locations_;
};

} // namespace qm::plugin
