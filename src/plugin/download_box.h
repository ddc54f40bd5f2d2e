#pragma once

#include "platform/bundle.h"
#include "platform/error.h"
#include "platform/result.h"
#include "platform/settings_store.h"
#include "plugin/file_info.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace qm::plugin {

// The language in which a compose body is written, judged from its own text only: quoted messages, the
// signature and comments are left out. Null when the body cannot be parsed, has no text, or its language is
// not clear.
QString emailLanguage(const QString& composeBodyOuterHTML);

// Composes the download box: the HTML that lists the uploaded files with name, size and link, from the
// template and the localized phrases. Reads the template setting at each call.
class DownloadBox {
public:
    enum ErrorCode { TranslationMissing = 1, TemplateMissing = 2 };
    static QString errorDomain();

    // Serves the icons of the items whose service gave none.
    static constexpr char iconServiceHost[] = "https://icons.quillmoor.org";

    DownloadBox(const platform::Bundle& bundle, const platform::SettingsStore& settings);

    // The phrase of `key` in the table of `language` (null means English), falling back to English. An error
    // when not even the English table has it.
    platform::Result<QString> localizedStringForKey(const QString& key, const QString& language) const;

    // The stored template when it is non-empty and has a link list, else the bundle's default one.
    platform::Result<QString> chooseTemplate() const;

    // The box's inner HTML for `files` (each with path, size and link) in a rich-text or a plain-text
    // message, with the phrases of `language` (null means English).
    platform::Result<QString> boxHTML(const QList<FileInfo>& files, bool richText,
                                      const QString& language) const;

    // The icon service's picture for files with the extension of `fileName`.
    static QUrl defaultIconURL(const QString& fileName);

private:
    platform::Bundle bundle_;
    const platform::SettingsStore& settings_;
};

} // namespace qm::plugin
