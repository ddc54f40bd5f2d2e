#pragma once

#include <QString>
#include <QVariantList>

namespace qm::platform {

// Fills a printf-style format taken from a translation table: "%@" (any value as text), "%d", "%i",
// "%ld", "%lu", "%u", "%f", "%e", "%g" with flags, width and precision ("%1.2f"), "%c", "%s", "%%", and
// positional forms ("%2$@"). Translations are data, so a malformed specifier or a missing argument is
// written out as it stands instead of reading past the arguments.
QString formatString(const QString& format, const QVariantList& arguments);

} // namespace qm::platform
