#include "plugin/download_box.h"

#include "accounts/settings_keys.h"
#include "platform/html_dom.h"
#include "platform/language_detector.h"
#include "platform/string_additions.h"
#include "platform/system_log.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

namespace qm::plugin {
namespace {

const QString englishLanguage = QStringLiteral("en");
const QString plainTextStart = QStringLiteral("<!--PLAINTEXT--");
const QString plainTextEnd = QStringLiteral("--PLAINTEXT-->");
const QString headlinePlaceholder = QStringLiteral("BOX_HEADLINE");
const QString subheadPlaceholder = QStringLiteral("BOX_SUBHEAD");
const QString linkListPlaceholder = QStringLiteral("BOX_LINKLIST");
const QString iconLinkListPlaceholder = QStringLiteral("BOX_LINKLIST_IMAGE");
const QString adPlaceholder = QStringLiteral("BOX_AD");
const QString translationMissing = QStringLiteral("Translation for Quillmoor Download Box not found");
const QString templateMissing = QStringLiteral("Info box template should not be nil!");

// File names and links are the uploader's and the user's data: they must show as text, never as markup.
QString escapedText(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += QStringLiteral("&amp;");
            break;
        case u'<':
            escaped += QStringLiteral("&lt;");
            break;
        case u'>':
            escaped += QStringLiteral("&gt;");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// Also safe inside single-quoted attributes, which a user's own template may use.
QString escapedAttribute(const QString& value) {
    QString escaped = escapedText(value);
    escaped.replace(u'"', QStringLiteral("&quot;"));
    escaped.replace(u'\'', QStringLiteral("&#39;"));
    return escaped;
}

QString encodedURL(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded);
}

// Schemes whose links run code in the reader's mail program instead of leading to a file. Checked on the text
// as a browser reads it, which ignores whitespace and control characters inside the scheme.
bool runsCode(const QUrl& url) {
    QString compact;
    for (const QChar c : encodedURL(url))
        if (c.unicode() > 0x20)
            compact += c.toLower();
    for (const char* scheme : {"javascript:", "vbscript:", "data:"})
        if (compact.startsWith(QLatin1String(scheme)))
            return true;
    return false;
}

// Other schemes (a server's own, "file:") stay usable; a code link loses its target but still shows its text,
// so the sender sees what the service returned.
QString hrefValue(const QUrl& link) {
    return runsCode(link) ? QStringLiteral("#") : escapedAttribute(encodedURL(link));
}

// The icon sits in url('...') in a style attribute: a quote, backslash, parenthesis or line break would end
// the CSS string or the url() early, so they are percent-encoded, which servers read as the same address.
QString cssURLValue(const QUrl& url) {
    QString encoded;
    for (const QChar c : encodedURL(url)) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7F || u == u'\'' || u == u'"' || u == u'(' || u == u')' || u == u'\\')
            encoded += QChar(u'%') + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            encoded += c;
    }
    return escapedAttribute(encoded);
}

struct Item {
    QString name;
    QString sizeText;
    QUrl link;
    QUrl icon;
};

Item itemOf(const FileInfo& file) {
    Item item;
    item.name = QFileInfo(file.value(QLatin1String(file_info::path)).toString()).fileName();
    item.sizeText =
        platform::stringFromBytes(double(file.value(QLatin1String(file_info::size)).toULongLong()),
                                  platform::SizeTextBase1024BeforeLeopard);
    item.link = file.value(QLatin1String(file_info::linkURL)).toUrl();
    item.icon = file.value(QLatin1String(file_info::iconURL)).toUrl();
    if (item.icon.isEmpty() || !item.icon.isValid() || runsCode(item.icon))
        item.icon = DownloadBox::defaultIconURL(item.name);
    return item;
}

QString richLinkList(const QList<FileInfo>& files, bool withIcons) {
    QString list = QStringLiteral("<ul style=\"padding-left:0px;\">");
    for (const FileInfo& file : files) {
        const Item item = itemOf(file);
        const QString href = hrefValue(item.link);
        const QString linkText = escapedText(encodedURL(item.link));
        // One-pass arg(): a "%1" in a name or link is not filled in again.
        if (withIcons)
            list += QStringLiteral("<li style=\"background:url('%1') no-repeat;background-size:32px 32px;"
                                   "padding:1px 36px 2px;min-height:36px;list-style-type:none;\">"
                                   "<a href=\"%2\">%3</a>&nbsp;(&nbsp;<a href=\"%2\">%4</a>&nbsp;)<br>"
                                   "<small style=\"color:#777;\">(%5)</small></li>")
                        .arg(cssURLValue(item.icon), href, escapedText(item.name), linkText,
                             escapedText(item.sizeText));
        else
            list += QStringLiteral("<li><a href=\"%1\">%2</a>&nbsp;(&nbsp;<a href=\"%1\">%3</a>&nbsp;)<br>"
                                   "<small style=\"color:#777;\">(%4)</small></li>")
                        .arg(href, escapedText(item.name), linkText, escapedText(item.sizeText));
    }
    return list + QStringLiteral("</ul>");
}

QString plainLinkList(const QList<FileInfo>& files) {
    QString list;
    for (const FileInfo& file : files) {
        const Item item = itemOf(file);
        list +=
            QStringLiteral("&nbsp;&nbsp;- %1 (%2): %3<br>")
                .arg(escapedText(item.name), escapedText(item.sizeText), escapedText(encodedURL(item.link)));
    }
    list.chop(4); // the last "<br>": the layout ends the line itself
    return list;
}

// A line of equals signs under the headline, as wide as a plain-text mail line.
QString builtInPlainLayout() {
    return QStringLiteral("<br><br>BOX_HEADLINE<br>") + QString(68, u'=') +
           QStringLiteral("<br>BOX_SUBHEAD<br>BOX_LINKLIST<br><br><br>BOX_AD");
}

QString plainBoxText(const QString& templateText) {
    const qsizetype start = templateText.indexOf(plainTextStart);
    if (start < 0)
        return builtInPlainLayout();
    const qsizetype contentStart = start + plainTextStart.size();
    // Searched after the start marker, whose own "--" could otherwise begin an end marker.
    const qsizetype end = templateText.indexOf(plainTextEnd, contentStart);
    if (end < 0)
        return builtInPlainLayout();
    return templateText.mid(contentStart, end - contentStart).replace(u'\n', QStringLiteral("<br>"));
}

bool isLanguageCode(const QString& language) {
    // Keeps a code from naming a folder outside the bundle's resources.
    static const QRegularExpression code(QStringLiteral("^[A-Za-z0-9_-]+$"));
    return code.match(language).hasMatch();
}

platform::Error internalError(DownloadBox::ErrorCode code, const QString& message) {
    platform::SystemLog::write(message);
    return platform::Error(DownloadBox::errorDomain(), code, message);
}

} // namespace

QString emailLanguage(const QString& composeBodyOuterHTML) {
    const platform::dom::Document document = platform::dom::Document::parseTidyHTML(composeBodyOuterHTML);
    if (document.isNull())
        return {};
    for (const QString& xpath :
         {QStringLiteral("//blockquote[@type='cite']"), QStringLiteral("//div[@id='AppleMailSignature']"),
          QStringLiteral("//comment()")})
        for (platform::dom::Node node : document.nodesForXPath(xpath))
            node.detach();
    return platform::bestLanguageOfText(document.stringValue());
}

QString DownloadBox::errorDomain() {
    return QStringLiteral("QuillmoorDownloadBoxErrorDomain");
}

DownloadBox::DownloadBox(const platform::Bundle& bundle, const platform::SettingsStore& settings)
    : bundle_(bundle)
    , settings_(settings) {}

platform::Result<QString> DownloadBox::localizedStringForKey(const QString& key,
                                                             const QString& language) const {
    QString folder = language.isEmpty() ? englishLanguage : language;
    if (!isLanguageCode(folder) || bundle_.pathForResource(folder, QStringLiteral("lproj")).isNull())
        folder = englishLanguage;
    QString phrase = bundle_.localizedStringForLocalization(key, QString(), QString(), folder);
    if (phrase == key || phrase.isEmpty())
        phrase = bundle_.localizedStringForLocalization(key, QString(), QString(), englishLanguage);
    if (phrase == key)
        return internalError(TranslationMissing, translationMissing);
    return phrase;
}

platform::Result<QString> DownloadBox::chooseTemplate() const {
    const QString stored = settings_.stringForKey(QLatin1String(accounts::keys::infoBoxTemplate));
    if (!stored.isEmpty() && stored.contains(linkListPlaceholder))
        return stored;

    QFile file(bundle_.pathForResource(QStringLiteral("DefaultTemplate"), QStringLiteral("html")));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return internalError(TemplateMissing, templateMissing);
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    if (decoder.hasError())
        return internalError(TemplateMissing, templateMissing);
    return text;
}

platform::Result<QString> DownloadBox::boxHTML(const QList<FileInfo>& files, bool richText,
                                               const QString& language) const {
    QString phrases[3];
    const QString keys[3] = {QStringLiteral("BOX_HEAD"), QStringLiteral("BOX_SUBHEAD_1"),
                             QStringLiteral("BOX_SUBHEAD_MULT")};
    for (int i = 0; i < 3; ++i) {
        auto phrase = localizedStringForKey(keys[i], language);
        if (!phrase)
            return phrase.error();
        phrases[i] = std::move(*phrase);
    }
    const auto chosen = chooseTemplate();
    if (!chosen)
        return chosen.error();
    const QString& templateText = *chosen;

    QString box;
    QString listPlaceholder = linkListPlaceholder;
    QString list;
    if (richText) {
        const qsizetype plainStart = templateText.indexOf(plainTextStart);
        box = plainStart < 0 ? templateText : templateText.left(plainStart);
        const bool withIcons = box.contains(iconLinkListPlaceholder);
        if (withIcons)
            listPlaceholder = iconLinkListPlaceholder;
        list = richLinkList(files, withIcons);
    } else {
        box = plainBoxText(templateText);
        list = plainLinkList(files);
    }

    box.replace(headlinePlaceholder, phrases[0]);
    box.replace(subheadPlaceholder, files.size() == 1 ? phrases[1] : phrases[2]);
    // The list goes in last, after "BOX_AD" is gone around it, so a file named "BOX_AD.pdf" keeps its name.
    QStringList parts = box.split(listPlaceholder);
    for (QString& part : parts)
        part.remove(adPlaceholder);
    return parts.join(list);
}

QUrl DownloadBox::defaultIconURL(const QString& fileName) {
    QUrl url(QString::fromLatin1(iconServiceHost));
    // Decoded mode: a "%", "?" or "#" in the extension stays part of the path.
    url.setPath(QStringLiteral("/quillmoor/icon/") + QFileInfo(fileName).suffix() + u'/', QUrl::DecodedMode);
    return url;
}

} // namespace qm::plugin
