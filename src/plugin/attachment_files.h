#pragma once

#include <QString>
#include <QStringList>

namespace qm::plugin {

// A path that does not exist yet: `path` itself, else "<path without extension>-<n>.<extension>" for the
// first free n from 1; the one for n = 998 when all are taken.
QString nextAvailableFilePath(const QString& path);

// An attachment's name as a single file name: no folders, no way out of the folder it is put in.
QString safeFileName(const QString& name);

// The name of the one archive that holds all files: the subject trimmed, cut at every character that is
// not a letter or digit, the pieces joined with "_"; "attachments" when nothing is left.
QString singleArchiveName(const QString& subject);

// The standard text form of a list of strings, as alerts show it: "(\n    \"a\",\n    \"b\"\n)".
QString arrayDescription(const QStringList& strings);

} // namespace qm::plugin
