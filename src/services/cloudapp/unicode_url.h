#pragma once

#include <QString>
#include <QUrl>

namespace qm::cloudapp {

// Addresses whose host may be written in Unicode: the host goes through IDNA 2003 (ToASCII to make a
// URL, ToUnicode to show one; a host that does not convert stays as it was), and the port and path are
// unescaped and escaped again, so text typed or stored either way ends up the same.
QUrl urlWithUnicodeString(const QString& text);
QString unicodeAbsoluteString(const QUrl& url);

// The conversion itself, on text: `toASCII` picks the direction of the host conversion.
QString convertUnicodeURLText(const QString& text, bool toASCII);

} // namespace qm::cloudapp
