#pragma once

#include <QString>
#include <QStringList>

namespace qm::plugin {

// The longest file name, in bytes of its encoded form, that Linux file systems take.
inline constexpr int maxFileNameBytes = 255;

// A path that does not exist yet: `path` itself, else "<path without extension>-<n>.<extension>" for the
// first free n from 1; the one for n = 998 when all are taken. Names longer than `maxBytes` are shortened
// first, keeping the extension and the number.
QString nextAvailableFilePath(const QString& path, int maxBytes = maxFileNameBytes);

// `name` cut to at most `maxBytes` encoded bytes, keeping its extension; never cuts inside a character.
QString fitFileName(const QString& name, int maxBytes = maxFileNameBytes);

// An attachment's name as a single file name: no folders, no way out of the folder it is put in, no
// control characters (the servers would get them too).
QString safeFileName(const QString& name);

// The name of the one archive that holds all files: the subject trimmed, cut at every character that is
// not a letter or digit, the pieces joined with "_"; "attachments" when nothing is left.
QString singleArchiveName(const QString& subject);

// The standard text form of a list of strings, as alerts show it: "(\n    \"a\",\n    \"b\"\n)".
QString arrayDescription(const QStringList& strings);

} // namespace qm::plugin
