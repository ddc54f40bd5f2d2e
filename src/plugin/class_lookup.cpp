#include "plugin/class_lookup.h"

#include "platform/system_log.h"

namespace qm::plugin {

host::Class* ClassLookup::classFromString(const QString& name) {
    QMutexLocker lock(&mutex_);
    if (host::Class* cached = cache_.value(name))
        return cached;
    for (const QString& candidate : {name, QStringLiteral("MF") + name, QStringLiteral("MC") + name}) {
        if (host::Class* found = runtime_.classNamed(candidate)) {
            cache_.insert(name, found);
            return found;
        }
    }
    platform::SystemLog::write(QStringLiteral("WARNING: Could not find a class for %1").arg(name));
    return nullptr;
}

void ClassLookup::logClassInfo(const host::Class& cls) {
    // This runtime keeps no instance variables; operations are all there is to show.
    for (const QString& method : cls.instanceMethodNames())
        platform::SystemLog::write(QStringLiteral("%1 - %2").arg(cls.name(), method));
    for (const QString& method : cls.classMethodNames())
        platform::SystemLog::write(QStringLiteral("%1 - +%2").arg(cls.name(), method));
}

} // namespace qm::plugin
