#pragma once

#include "platform/error.h"

namespace qm::net {

inline constexpr auto kNetErrorDomain = "QMNetErrorDomain";
inline constexpr int kNetErrorCode = -1000;

// An error of the HTTP layer whose failure reason is translated through the "QMNet" table.
platform::Error makeNetError(const QString& englishReason);

} // namespace qm::net
