#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// CloudApp, linked with the account's e-mail address and password.
const ServiceDescription& cloudAppService();

} // namespace qm::upload
