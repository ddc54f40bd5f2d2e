#include "net/mime_type.h"

#include <QFileInfo>
#include <QMimeDatabase>

namespace qm::net {

QString mimeTypeForPathExtension(const QString& path) {
    const QString fallback = QStringLiteral("application/octet-stream");
    const QString fileName = QFileInfo(path).fileName();
    if (QFileInfo(fileName).suffix().isEmpty())
        return fallback;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return fallback;
    return type.name();
}

} // namespace qm::net
