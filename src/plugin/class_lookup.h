#pragma once

#include "host/runtime.h"

#include <QHash>
#include <QRecursiveMutex>

namespace qm::plugin {

// Finds the host's classes by name, also under the prefixes the host's frameworks use ("MF", "MC"), and
// remembers what it found. Safe from any thread.
class ClassLookup {
public:
    explicit ClassLookup(const host::Runtime& runtime)
        : runtime_(runtime) {}

    // The class, or nullptr (logged) when the host has it under none of the names.
    host::Class* classFromString(const QString& name);

    // Logs the class's operations, then its class operations, one line each.
    static void logClassInfo(const host::Class& cls);

private:
    const host::Runtime& runtime_;
    QRecursiveMutex mutex_;
    QHash<QString, host::Class*> cache_;
};

} // namespace qm::plugin
