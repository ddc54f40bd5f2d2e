#pragma once

#include "platform/error.h"

namespace qm::cli {

// Failures of the command-line host itself, as qm::platform::Error values of this domain.
inline QString errorDomain() {
    return QStringLiteral("QuillmoorCommandLineErrorDomain");
}

enum ErrorCode : int {
    UnreadableMessage = 1, // cannot be opened or read
    MalformedMessage = 2,  // read, but not a message the host can show
    AttachmentFailed = 3,  // an attachment could not be decoded to or read from its file
    WriteFailed = 4,       // the outgoing message could not be written
    SubmissionFailed = 5,  // the SMTP server or sendmail refused or failed
    MissingAddress = 6,    // no sender or no recipient for the envelope
    PluginNotLoaded = 7,   // the plug-in could not be wired into the host
};

inline platform::Error cliError(ErrorCode code, const QString& description, QVariantMap userInfo = {}) {
    return platform::Error(errorDomain(), code, description, std::move(userInfo));
}

} // namespace qm::cli
