#pragma once

#include "platform/error.h"

#include <QVariant>

namespace qm::yousendit {

// The client's errors: a status code and a message, as a platform error in the service's own domain, so
// the uploader passes them on unchanged.
inline constexpr char kErrorDomain[] = "com.quillmoor.yousendit.error";

inline constexpr char kMessageInvalidParameters[] = "Invalid parameters";
inline constexpr char kMessageUnreadableAnswer[] = "Failed...";
inline constexpr char kMessageFileMissing[] = "File to be uploaded does not exist!";
// Placeholder for a member that is missing, null or empty: N, a backslash, A.
inline constexpr char kNotAvailable[] = "N\\A";
// Where an upload answer's status text travels beside its error.
inline constexpr char kUploadStatusKey[] = "upload-status";

platform::Error makeError(int statusCode, const QString& message);
// 400 "Invalid parameters".
platform::Error invalidParameters();
// A server error object: "code" and "message" (the placeholder when the message is missing).
platform::Error errorWithDictionary(const QVariant& errorStatus);

} // namespace qm::yousendit
