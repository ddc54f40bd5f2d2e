#include "uploaders/service_id.h"

#include <array>

namespace qm::upload {

QString serviceName(int id) {
    static const std::array<const char*, kServiceCount> names{
        "Dropbox", "Hightail", "CloudApp", "Droplr", "Dropmark",
        "MediaFire", "Box", "GoogleDrive", "ownCloud", "Generic"};
    return isServiceId(id) ? QString::fromLatin1(names[static_cast<size_t>(id)]) : QString();
}

} // namespace qm::upload
