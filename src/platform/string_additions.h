#pragma once

#include <QString>
#include <QStringList>

namespace qm::platform {

// Substring tests the send pipeline and uploaders share.
bool containsString(const QString& text, const QString& part, Qt::CaseSensitivity cs = Qt::CaseSensitive);
// True when `text` contains at least one of `words`; false for an empty list.
bool containsWordsInArray(const QString& text, const QStringList& words, Qt::CaseSensitivity cs = Qt::CaseSensitive);
// The first of `words`, in list order, that `text` contains; a null QString when none.
QString firstContainingWordFromArray(const QString& text, const QStringList& words,
                                     Qt::CaseSensitivity cs = Qt::CaseSensitive);

} // namespace qm::platform
