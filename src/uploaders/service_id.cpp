#include "uploaders/service_id.h"

namespace qm::upload {

QString serviceName(ServiceId id) {
    static const std::array<const char*, kServiceCount> names{
        "Dropbox",   "Hightail", "CloudApp",    "Droplr",   "Dropmark",
        "MediaFire", "Box",      "GoogleDrive", "ownCloud", "Generic"};
    if (!serviceFromNumber(serviceNumber(id)))
        return {};
    return QString::fromLatin1(names[static_cast<size_t>(serviceNumber(id))]);
}

QString keychainIdentifier(const QString& bundleName, ServiceId id) {
    const QString name = serviceName(id);
    return name.isNull() ? QString() : QStringLiteral("%1 (%2)").arg(bundleName, name);
}

} // namespace qm::upload
