#pragma once

#include "cli/environment.h"

#include <QStringList>

namespace qm::cli {

// `quillmoor`: parses the arguments and runs the command they name.
class Application {
public:
    explicit Application(Environment& environment);

    // `arguments` without the program's name; the process's exit status.
    int run(const QStringList& arguments);

private:
    Environment& env_;
};

} // namespace qm::cli
