#pragma once

#include "plugin/plugin_context.h"
#include "plugin/update_check.h"

namespace qm::plugin {

// The plug-in's process-wide helper for start-up work: it prepares the services, empties the working
// directory of files left by earlier runs, seeds the download box template, and greets a user who has not
// chosen a service yet, and asks the outside update tool to look for a new version.
class PluginDelegate {
public:
    static constexpr char welcomeTitle[] = "Welcome to Quillmoor";

    PluginDelegate(PluginContext& context, QString workingDirectory,
                   UpdateToolLocations updateTool = UpdateToolLocations::system());

    // The creation work, once: prepare the services, clean the working directory, seed the template.
    void prepare();
    // Each service's start-up work (Box's token refreshed, ...), in hosts that stay open only: a one-shot
    // command ends before a refreshed token could be stored, and a single-use refresh token spent without
    // storing its successor loses the account. Never blocks.
    void initializeCloudServices() const;
    void cleanTemporaryDirectory() const;
    void seedTemplate() const;

    // Fired 5 seconds after start-up.
    void showWelcome() const;
    // Fired 10 seconds after start-up.
    void checkForUpdate() const { updateCheck_.checkForUpdate(); }

private:
    PluginContext& context_;
    QString workingDirectory_;
    UpdateCheck updateCheck_;
    bool prepared_ = false;
};

} // namespace qm::plugin
