#pragma once

#include "platform/settings_store.h"
#include "uploaders/service_registry.h"

#include <QIODevice>

namespace qm::cli {

// `quillmoor services`: one line per service identifier 0 to 9 with its name and whether it is linked,
// "not available" for services this version does not have, the active one marked with "*".
class ServicesCommand {
public:
    ServicesCommand(const platform::SettingsStore& settings, const upload::ServiceRegistry& services,
                    QIODevice& out);
    int run();

private:
    const platform::SettingsStore& settings_;
    const upload::ServiceRegistry& services_;
    QIODevice& out_;
};

} // namespace qm::cli
