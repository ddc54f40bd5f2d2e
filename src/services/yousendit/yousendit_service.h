#pragma once

#include "uploaders/service_description.h"

namespace qm::upload {

// Hightail (once YouSendIt): each file goes out as a delivery to the message's recipients, linked with
// the account's e-mail address and password.
const ServiceDescription& youSendItService();

} // namespace qm::upload
