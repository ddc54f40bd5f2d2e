#pragma once

#include <QString>

// The compose body made from a message's parts, the way a composer shows them.
namespace qm::cli::compose_body {

// The class of the element that holds a quoted earlier message; the download box goes in front of it.
inline constexpr char quotedContentClass[] = "AppleOriginalContents";

// An attachment as the composer shows it: an object element naming its Content-ID.
QString objectElement(const QString& contentID, const QString& mimeType);

// Plain text as the body of a plain-text message: the text verbatim, lines ended by <br>. While *wrapQuote
// is true, the first run of "> " lines, with the citation line before it ("... wrote:"), goes into the
// quoted-message element, and *wrapQuote turns false. `wrapQuote` may be null.
QString fromPlainText(const QString& text, bool* wrapQuote);

// The body content of an HTML part, with the style sheets of its head kept in front of it.
QString fromHtml(const QString& html);

// Wraps the first quoted message (blockquote type="cite"), with the citation line right before it, in the
// quoted-message element, unless it already sits in one.
QString wrapQuotedMessage(const QString& bodyContent);

} // namespace qm::cli::compose_body
