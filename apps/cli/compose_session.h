#pragma once

#include "cli/answer_role.h"
#include "cli/environment.h"
#include "cli/loaded_message.h"
#include "cli/outgoing_message.h"
#include "cli/terminal_ui.h"
#include "platform/error.h"
#include "platform/result.h"

#include <QUrl>

#include <optional>

namespace qm::cli {

// One compose window of the command-line host with the plug-in loaded. pressSend() presses Send and runs
// the event loop until the plug-in's part is over:
//
//   Send pressed --> plug-in (sheets, copies, upload, box) --+--> host's send reached: message taken as it is
//                                                            +--> a sheet could not be answered
//                                                            +--> the preferences were asked for
//                                                            +--> Ctrl-C outside an upload
//                                                            +--> quiet: no sheet, no pool work, nothing
//                                                            queued
//
// Quiet with the download box in the body but no send (automatic sending is off) presses Send once more,
// as the user would after a look at the message.
class ComposeSession {
public:
    struct Outcome {
        std::optional<OutgoingMessage> outgoing; // set when the host's own send was reached
        std::optional<TerminalUi::Stop> stop;
        bool preferencesRequested = false;
        bool interrupted = false;
        bool uploadCancelled = false;
        std::optional<AnswerRole> lastAnswer;
        bool uploadShown = false;
        // What the run stored on the service, for removing it when the message cannot be delivered.
        upload::ServiceId service = upload::ServiceId::None;
        QList<QUrl> uploadedLinks;
    };

    ComposeSession(Environment& environment, const LoadedMessage& message, std::optional<AnswerRole> answer,
                   QString workingDirectory);

    platform::Result<Outcome> pressSend();

private:
    Environment& env_;
    const LoadedMessage& message_;
    std::optional<AnswerRole> answer_;
    QString workingDirectory_;
};

} // namespace qm::cli
