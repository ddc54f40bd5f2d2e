#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// Dropbox: signed in through the browser, files in the application's own folder, shared links.
const ServiceDescription& dropboxService();

} // namespace qm::upload
