#pragma once

#include <QVariantMap>

namespace qm::plugin {

// The per-file record of an upload run: a dictionary with these keys, made by the upload controller
// and read when the download box is built.
namespace file_info {
inline constexpr char path[] = "RVQuillmoorFilePath";         // QString, the local copy
inline constexpr char size[] = "RVQuillmoorFileSize";         // quint64, bytes
inline constexpr char sizePart[] = "RVQuillmoorFileSizePart"; // quint64, bytes sent so far
inline constexpr char linkURL[] = "RVQuillmoorFileLinkURL";   // QUrl, the public link
inline constexpr char iconURL[] = "RVQuillmoorFileIconURL";   // QUrl, only when the service gave one
} // namespace file_info

using FileInfo = QVariantMap;

} // namespace qm::plugin
