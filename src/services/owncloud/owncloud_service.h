#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// The user's own ownCloud server, over WebDAV and its sharing API, linked with a password.
const ServiceDescription& ownCloudService();

} // namespace qm::upload
