#include "platform/string_additions.h"

namespace qm::platform {

bool containsString(const QString& text, const QString& part, Qt::CaseSensitivity cs) {
    // An empty part is found nowhere, as with a range search that yields no match.
    return !part.isEmpty() && text.contains(part, cs);
}

bool containsWordsInArray(const QString& text, const QStringList& words, Qt::CaseSensitivity cs) {
    return !firstContainingWordFromArray(text, words, cs).isNull();
}

QString firstContainingWordFromArray(const QString& text, const QStringList& words, Qt::CaseSensitivity cs) {
    for (const QString& word : words)
        if (containsString(text, word, cs))
            return word;
    return {};
}

} // namespace qm::platform
