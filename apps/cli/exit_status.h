#pragma once

namespace qm::cli {

// What `quillmoor` exits with.
enum ExitStatus : int {
    ExitSent = 0,    // the message was sent (or the command did what it was asked)
    ExitNotSent = 1, // cancelled, upload failed, no service, submission failed; or a key not set
    ExitUsage = 2,   // bad usage or an unreadable message
};

} // namespace qm::cli
