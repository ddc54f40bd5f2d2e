#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// Google Drive: signed in through the browser, files in one folder of the user's Drive.
const ServiceDescription& googleDriveService();

} // namespace qm::upload
