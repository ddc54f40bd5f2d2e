#pragma once

#include "cli/environment.h"
#include "platform/result.h"
#include "uploaders/uploader_class.h"

namespace qm::cli {

// `quillmoor link` of a service that signs in through the browser. The plug-in is loaded so that the
// browser's redirect reaches its URL handler (relayed by `quillmoor open-url`, or pasted), and the
// service's uploader, registered as the one linking, opens its sign-in page through the terminal's
// openUrl. The wait ends with the uploader's report, Ctrl-C or the time limit; the last two store nothing.
//
// With `noBrowser` the address is only printed and one line is read from standard input, which goes to
// the uploader's finishSignIn(): the address the browser ended on (its scheme's redirect, or a loopback
// address copied from a browser elsewhere) or a bare code.
class BrowserSignIn {
public:
    BrowserSignIn(Environment& environment, upload::UploaderClass& serviceClass, bool noBrowser)
        : env_(environment)
        , serviceClass_(serviceClass)
        , noBrowser_(noBrowser) {}

    // The error says why nothing was linked.
    platform::Result<void> run();

private:
    Environment& env_;
    upload::UploaderClass& serviceClass_;
    bool noBrowser_;
};

} // namespace qm::cli
