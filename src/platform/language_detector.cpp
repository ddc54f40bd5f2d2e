#include "platform/language_detector.h"

// The detector's header uses FILE without including its declaration.
#include <cstdio>

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>

namespace qm::platform {
namespace {

// The start of a long text tells its language as well as the whole and keeps the work bounded.
constexpr qsizetype maxCharacters = 1 << 20;

// The detector still reports some withdrawn ISO 639-1 codes; resource folders are named by the current ones.
QString currentCode(const QString& code) {
    if (code == u"iw")
        return QStringLiteral("he");
    if (code == u"jw")
        return QStringLiteral("jv");
    return code;
}

// "un" and "xxx" mean unknown, "xx-Latn" and the like name only a script, "zz…" are internal
// pseudo-languages.
bool isLanguage(const QString& code) {
    return !code.isEmpty() && code != u"un" && code != u"xxx" && !code.startsWith(u"xx-") &&
           !code.startsWith(u"zz");
}

} // namespace

QString bestLanguageOfText(const QString& text) {
    // QString's conversion yields valid UTF-8 (lone surrogates become U+FFFD), which the detector requires.
    const QByteArray utf8 = text.left(maxCharacters).toUtf8();
    if (utf8.trimmed().isEmpty())
        return {};

    CLD2::CLDHints hints{nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    CLD2::Language languages[3];
    int percents[3];
    double scores[3];
    int textBytes = 0;
    bool reliable = false;
    int validPrefix = 0;
    const CLD2::Language best = CLD2::ExtDetectLanguageSummaryCheckUTF8(
        utf8.constData(), int(utf8.size()), true, &hints, 0, languages, percents, scores, nullptr, &textBytes,
        &reliable, &validPrefix);
    if (!reliable)
        return {};
    const QString code = QString::fromLatin1(CLD2::LanguageCode(best));
    return isLanguage(code) ? currentCode(code) : QString();
}

} // namespace qm::platform
