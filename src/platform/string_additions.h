#pragma once

#include <QString>
#include <QStringConverter>
#include <QStringList>

#include "platform/error.h"
#include "platform/result.h"

namespace qm::platform {

// Substring tests the send pipeline and uploaders share.
bool containsString(const QString& text, const QString& part, Qt::CaseSensitivity cs = Qt::CaseSensitive);
// True when `text` contains at least one of `words`; false for an empty list.
bool containsWordsInArray(const QString& text, const QStringList& words,
                          Qt::CaseSensitivity cs = Qt::CaseSensitive);
// The first of `words`, in list order, that `text` contains; a null QString when none.
QString firstContainingWordFromArray(const QString& text, const QStringList& words,
                                     Qt::CaseSensitivity cs = Qt::CaseSensitive);

// Flag bits of stringFromBytes.
enum SizeTextFlag : int {
    SizeTextBase1024 = 1,              // units of 1024 instead of 1000
    SizeTextBase1024BeforeLeopard = 2, // units of 1024 only on systems older than 10.5
    SizeTextLocalized = 4,             // the default locale's decimal point and grouping
};

// A byte count as "1.54 MB": units of 1000 (or 1024), prefixes up to "Y", at most 2 fraction digits
// rounded half-even on the shortest decimal form of the quotient, as a number formatter does.
QString stringFromBytes(double bytes, int flags);
// The system-version answer is a parameter so the rule of flag 2 can be exercised on any system.
QString stringFromBytes(double bytes, int flags, bool leopardOrGreater);

// Always true: the versions this asks about predate every system the program runs on.
bool leopardOrGreater();

// SHA-1 of the UTF-8 bytes as 40 lower-case hex digits.
QString sha1Digest(const QString& text);

// Base64 (as base64EncodedString) of `text` in `encoding`; a null QString when the encoding cannot hold it.
QString stringByEncodingBase64(const QString& text, QStringConverter::Encoding encoding);
// Base64 text decoded and read in `encoding`; a null QString when the bytes are invalid there.
QString stringByDecodingBase64(const QString& base64, QStringConverter::Encoding encoding);

inline constexpr char kStringErrorDomain[] = "QMStringErrorDomain";
enum StringErrorCode : int {
    QuotedPrintablePrematureEnd = 1,
    QuotedPrintableInvalidCharacter = 2,
    QuotedPrintableBadEncodedCharacter = 3,
};

// Decodes quoted-printable text: "=" plus one line-break character is dropped, "=" plus two upper-case
// hex digits is a byte. The bytes are read as UTF-8, or in `encoding` when they are not valid UTF-8.
// Malformed input gives an error in kStringErrorDomain.
Result<QString> stringWithQuotedPrintableString(const QString& text, QStringConverter::Encoding encoding);

} // namespace qm::platform
