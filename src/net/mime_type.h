#pragma once

#include <QString>

namespace qm::net {

// The MIME type a file's extension stands for; "application/octet-stream" when there is none.
QString mimeTypeForPathExtension(const QString& path);

} // namespace qm::net
