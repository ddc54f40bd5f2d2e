#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// Box: signed in through the browser (OAuth 2), files in a folder of the user's account, shared links.
const ServiceDescription& boxService();

} // namespace qm::upload
