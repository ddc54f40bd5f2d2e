#pragma once

#include <QString>

namespace qm::platform {

// The language in which most of `text` is written, as a language code: ISO 639-1 where one exists ("de",
// "en", "he"), else the detector's tag ("zh-Hant", "chr"). Null when the text is too short, too mixed or in
// no language the detector knows, so that callers fall back to their default instead of acting on a guess.
QString bestLanguageOfText(const QString& text);

} // namespace qm::platform
