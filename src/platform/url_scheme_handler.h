#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace qm::platform {

// Makes an application the default handler of URL schemes the freedesktop way: a desktop entry in
// $XDG_DATA_HOME/applications that lists x-scheme-handler/<scheme> types, made the default through
// xdg-mime. Blocking (it runs xdg-mime): call it off the main thread.
class UrlSchemeHandler {
public:
    struct Application {
        QString desktopFileName; // "quillmoor.desktop"
        QString name;            // shown by desktops
        QString command;         // Exec line without the %u
    };

    // $XDG_DATA_HOME/applications (~/.local/share when unset) of `environment`.
    static QString applicationsFolder(const QProcessEnvironment& environment);

    // Writes the entry (replacing an older one) and claims each scheme, for the user of `environment` (taken
    // by the caller, so that work moved to another thread still acts for the environment it was asked in).
    // An Error when the entry cannot be written or xdg-mime fails; a missing xdg-mime leaves the entry in
    // place for desktops that read it.
    static Result<void> registerDefaultHandler(const Application& application, const QStringList& schemes,
                                               const QProcessEnvironment& environment);
};

} // namespace qm::platform
