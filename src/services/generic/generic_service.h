#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// The user's own server (sftp, ftp, ftps, WebDAV over http(s), file), linked with a password or a key.
const ServiceDescription& genericService();

} // namespace qm::upload
