#pragma once

#include "plugin/plugin_context.h"

namespace qm::plugin {

// The plug-in's process-wide helper for start-up work: it empties the working directory of files left
// by earlier runs, seeds the download box template, and greets a user who has not chosen a service yet.
class PluginDelegate {
public:
    static constexpr char welcomeTitle[] = "Welcome to Quillmoor";

    PluginDelegate(PluginContext& context, QString workingDirectory);

    // The creation work, once: clean the working directory, seed the template.
    void prepare();
    void cleanTemporaryDirectory() const;
    void seedTemplate() const;

    // Fired 5 seconds after start-up.
    void showWelcome() const;

private:
    PluginContext& context_;
    QString workingDirectory_;
    bool prepared_ = false;
};

} // namespace qm::plugin
