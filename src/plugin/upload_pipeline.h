#pragma once

#include "host/compose_window.h"

namespace qm::plugin {

// The part of the compose window's plug-in code that moves attachments once the user agreed: copying,
// compressing, hiding, uploading and rewriting the message.
class UploadPipeline {
public:
    virtual ~UploadPipeline() = default;
    // Starts moving the attachments of `editor` that exceed the threshold.
    virtual void prepareAndUploadAttachments(const host::ComposeWindow& editor) = 0;
    // The compose window is closing: drop whatever the pipeline keeps for it.
    virtual void editorWillClose(const host::ComposeWindow& editor) = 0;
};

} // namespace qm::plugin
