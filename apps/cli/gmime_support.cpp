#include "cli/gmime_support.h"

#include <mutex>

namespace qm::cli::gmime {

void initialize() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

QString mimeTypeOf(GMimeObject* object) {
    GMimeContentType* type = object ? g_mime_object_get_content_type(object) : nullptr;
    if (!type)
        return QStringLiteral("application/octet-stream");
    OwnedString text(g_mime_content_type_get_mime_type(type));
    return text.toQString().toLower();
}

} // namespace qm::cli::gmime
