#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// Droplr, linked with an e-mail address and a password; files become drops and links their short URLs.
const ServiceDescription& droplrService();

} // namespace qm::upload
