#pragma once

#include "platform/error.h"

namespace qm::net {

inline constexpr auto kNetErrorDomain = "QMNetErrorDomain";
inline constexpr int kNetErrorCode = -1000;
// The response's status code or content type is not acceptable to the operation.
inline constexpr int kNetErrorBadServerResponse = -1011;
inline constexpr int kNetErrorCannotDecodeContentData = -1016;

// An error of the HTTP layer whose failure reason is translated through the "QMNet" table.
platform::Error makeNetError(const QString& englishReason);

} // namespace qm::net
