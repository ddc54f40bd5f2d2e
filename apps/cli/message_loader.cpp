#include "cli/message_loader.h"

#include "cli/cli_error.h"
#include "cli/compose_body.h"
#include "cli/source_message.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qm::cli {

namespace {

// What the parser reports about a file: critical issues mean parts of it may be lost.
struct ParseIssues {
    QStringList critical;
    QStringList tolerated;
};

QString issueText(GMimeParserWarning code, const char* item) {
    const QString detail =
        item && *item ? QStringLiteral(" (%1)").arg(QString::fromUtf8(item).left(60)) : QString();
    switch (code) {
    case GMIME_CRIT_INVALID_HEADER_NAME:
        return QStringLiteral("a header has an invalid name") + detail;
    case GMIME_CRIT_CONFLICTING_HEADER:
        return QStringLiteral("a header conflicts with another") + detail;
    case GMIME_CRIT_CONFLICTING_PARAMETER:
        return QStringLiteral("a header parameter conflicts with another") + detail;
    case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY:
        return QStringLiteral("a multipart has no boundary parameter");
    case GMIME_CRIT_NESTING_OVERFLOW:
        return QStringLiteral("its parts are nested too deeply");
    case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT:
        return QStringLiteral("a part has neither headers nor content");
    case GMIME_WARN_TRUNCATED_MESSAGE:
        return QStringLiteral("it ends before the closing boundary of a multipart: the message is cut off");
    case GMIME_WARN_MALFORMED_MULTIPART:
        return QStringLiteral("a multipart has no parts");
    case GMIME_WARN_MALFORMED_MESSAGE:
        return QStringLiteral("the message is malformed");
    default:
        return {};
    }
}

void collectIssue(gint64, GMimeParserWarning code, const gchar* item, gpointer data) {
    auto* issues = static_cast<ParseIssues*>(data);
    const QString text = issueText(code, item);
    if (text.isEmpty())
        return;
    // A message cut off inside a part would go out with half an attachment.
    const bool critical = code == GMIME_WARN_TRUNCATED_MESSAGE || code == GMIME_CRIT_INVALID_HEADER_NAME ||
                          code == GMIME_CRIT_CONFLICTING_HEADER || code == GMIME_CRIT_CONFLICTING_PARAMETER ||
                          code == GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY ||
                          code == GMIME_CRIT_NESTING_OVERFLOW ||
                          code == GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT;
    QStringList& list = critical ? issues->critical : issues->tolerated;
    if (!list.contains(text))
        list.append(text);
}

// One piece of the message in the order the composer shows it.
struct Piece {
    enum class Kind { Html, Plain, Attachment } kind;
    QString text;
    GMimeObject* part = nullptr;
};

bool hasType(GMimeObject* object, const QString& type) {
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            if (hasType(g_mime_multipart_get_part(multipart, i), type))
                return true;
        return false;
    }
    return GMIME_IS_PART(object) && gmime::mimeTypeOf(object) == type;
}

// RFC 3676: soft line breaks joined, space-stuffing undone; quote markers kept as "> ".
QString unflow(const QString& text, bool deleteSpace) {
    QStringList out;
    QString paragraph;
    int paragraphDepth = -1;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        int depth = 0;
        while (depth < line.size() && line.at(depth) == u'>')
            ++depth;
        QString content = line.mid(depth);
        if (content.startsWith(u' '))
            content.remove(0, 1);
        if (paragraphDepth >= 0 && depth != paragraphDepth) {
            out.append(paragraph);
            paragraph.clear();
            paragraphDepth = -1;
        }
        const bool flowed = content.endsWith(u' ') && content != QLatin1String("-- ");
        if (flowed && deleteSpace)
            content.chop(1);
        if (paragraphDepth < 0)
            paragraph = depth > 0 ? QString(depth, u'>') + u' ' : QString();
        paragraph += content;
        paragraphDepth = depth;
        if (!flowed) {
            out.append(paragraph);
            paragraph.clear();
            paragraphDepth = -1;
        }
    }
    if (paragraphDepth >= 0)
        out.append(paragraph);
    return out.join(u'\n');
}

QString textOf(GMimeObject* object) {
    if (!GMIME_IS_TEXT_PART(object))
        return {};
    gmime::OwnedString text(g_mime_text_part_get_text(GMIME_TEXT_PART(object)));
    QString value = text.toQString();
    value.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QString format = gmime::toQString(g_mime_object_get_content_type_parameter(object, "format"));
    if (format.compare(QLatin1String("flowed"), Qt::CaseInsensitive) == 0) {
        const QString delsp = gmime::toQString(g_mime_object_get_content_type_parameter(object, "delsp"));
        value = unflow(value, delsp.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0);
    }
    return value;
}

// The Content-IDs an HTML text refers to ("cid:" URLs, which may be percent-encoded).
QSet<QString> referencedIDs(const QString& html) {
    static const QRegularExpression cid(QStringLiteral("cid:([^\"'\\s)>]+)"),
                                        QRegularExpression::CaseInsensitiveOption);
    QSet<QString> ids;
    for (auto it = cid.globalMatch(html); it.hasNext();) {
        const QString id = it.next().captured(1);
        ids.insert(id);
        ids.insert(QUrl::fromPercentEncoding(id.toUtf8()));
    }
    return ids;
}

// SMTP refuses lines longer than 998 octets (RFC 5321), so a part that has them cannot go out as it came.
constexpr qsizetype kLongestLine = 998;

class LineLengths {
public:
    // Whole runs between line ends at a time: attachments of gigabytes go through here.
    void scan(const char* data, size_t size) {
        const char* const end = data + size;
        while (data < end && !tooLong_) {
            const auto* found =
                static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(end - data)));
            current_ += (found ? found : end) - data;
            tooLong_ = current_ > kLongestLine + 1; // the CR of a CRLF does not count
            if (!found)
                break;
            current_ = 0;
            data = found + 1;
        }
    }
    bool tooLong() const { return tooLong_; }

private:
    qsizetype current_ = 0;
    bool tooLong_ = false;
};

bool hasLongLines(GMimeDataWrapper* content) {
    GMimeStream* in = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!in)
        return false;
    g_mime_stream_reset(in);
    LineLengths lines;
    char buffer[8192];
    for (ssize_t n; !lines.tooLong() && (n = g_mime_stream_read(in, buffer, sizeof buffer)) > 0;)
        lines.scan(buffer, static_cast<size_t>(n));
    g_mime_stream_reset(in);
    return lines.tooLong();
}

// "signed" or "encrypted" when rewriting any part of the message would break its signature or its
// encryption; empty otherwise. Forwarded messages are opaque attachments and do not count.
QString protectionOf(GMimeObject* object) {
    const QString type = gmime::mimeTypeOf(object);
    if (type == u"multipart/signed")
        return QStringLiteral("signed");
    if (type == u"multipart/encrypted" || type == u"application/pkcs7-mime" ||
        type == u"application/x-pkcs7-mime")
        return QStringLiteral("encrypted");
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
            const QString inner = protectionOf(g_mime_multipart_get_part(multipart, i));
            if (!inner.isEmpty())
                return inner;
        }
    }
    return {};
}

// Header values as the parser keeps them, made safe to write again: a NUL ends GMime's copy of a value
// before its line end, which would join the next header to it, and a bare CR is no line end in any
// transport. The names of headers that lost text go to `cut`.
void repairHeaders(GMimeObject* object, QStringList& cut) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    for (int i = 0; headers && i < g_mime_header_list_get_count(headers); ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* raw = g_mime_header_get_raw_value(header);
        if (!raw)
            continue;
        QByteArray value(raw);
        bool changed = false;
        if (!value.endsWith('\n')) {
            value.append('\n');
            changed = true;
            const QString name = gmime::toQString(g_mime_header_get_name(header));
            if (!cut.contains(name))
                cut.append(name);
        }
        for (qsizetype at = value.indexOf('\r'); at >= 0; at = value.indexOf('\r', at + 1)) {
            if (value.at(at + 1) != '\n') {
                value[at] = ' ';
                changed = true;
            }
        }
        if (changed)
            g_mime_header_set_raw_value(header, value.constData());
    }
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            repairHeaders(g_mime_multipart_get_part(multipart, i), cut);
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)))
            repairHeaders(GMIME_OBJECT(inner), cut);
    } else if (GMIME_IS_MESSAGE(object)) {
        if (GMimeObject* body = g_mime_message_get_mime_part(GMIME_MESSAGE(object)))
            repairHeaders(body, cut);
    }
}

class Walker {
public:
    QList<Piece> pieces;
    QList<InlinePart> inlineParts;

    void walk(GMimeObject* object) {
        if (GMIME_IS_MESSAGE_PART(object)) {
            attachment(object);
        } else if (GMIME_IS_MULTIPART(object)) {
            multipart(object);
        } else if (GMIME_IS_PART(object)) {
            leaf(object);
        }
    }

private:
    void attachment(GMimeObject* object) { pieces.append({Piece::Kind::Attachment, {}, object}); }

    void multipart(GMimeObject* object) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        const QString type = gmime::mimeTypeOf(object);
        if (count == 0)
            return;
        if (type == u"multipart/alternative") {
            walk(preferredAlternative(multipart));
        } else if (type == u"multipart/related") {
            related(multipart);
        } else {
            for (int i = 0; i < count; ++i)
                walk(g_mime_multipart_get_part(multipart, i));
        }
    }

    // The last alternative with HTML, else the last with plain text, else the first: senders put the
    // richest last.
    static GMimeObject* preferredAlternative(GMimeMultipart* multipart) {
        const int count = g_mime_multipart_get_count(multipart);
        for (const char* type : {"text/html", "text/plain"})
            for (int i = count - 1; i >= 0; --i)
                if (hasType(g_mime_multipart_get_part(multipart, i), QString::fromLatin1(type)))
                    return g_mime_multipart_get_part(multipart, i);
        return g_mime_multipart_get_part(multipart, 0);
    }

    void related(GMimeMultipart* multipart) {
        const int count = g_mime_multipart_get_count(multipart);
        GMimeObject* root = g_mime_multipart_get_part(multipart, 0);
        const QString start =
            gmime::toQString(g_mime_object_get_content_type_parameter(GMIME_OBJECT(multipart), "start"))
                .remove(u'<')
                .remove(u'>');
        for (int i = 0; i < count && !start.isEmpty(); ++i) {
            GMimeObject* part = g_mime_multipart_get_part(multipart, i);
            if (gmime::toQString(g_mime_object_get_content_id(part)) == start)
                root = part;
        }
        const qsizetype firstPiece = pieces.size();
        walk(root);
        QString html;
        for (qsizetype i = firstPiece; i < pieces.size(); ++i)
            if (pieces[i].kind == Piece::Kind::Html)
                html += pieces[i].text;
        const QSet<QString> referenced = referencedIDs(html);
        for (int i = 0; i < count; ++i) {
            GMimeObject* part = g_mime_multipart_get_part(multipart, i);
            if (part == root)
                continue;
            const QString id = gmime::toQString(g_mime_object_get_content_id(part));
            // A related part the HTML never shows would vanish for the recipient; it travels as an
            // attachment.
            if (!id.isEmpty() && referenced.contains(id) && GMIME_IS_PART(part))
                inlineParts.append({id, gmime::Ref<GMimeObject>::retain(part)});
            else
                walk(part);
        }
    }

    void leaf(GMimeObject* object) {
        const QString type = gmime::mimeTypeOf(object);
        const QString disposition = gmime::toQString(g_mime_object_get_disposition(object)).toLower();
        const QString filename = gmime::toQString(g_mime_part_get_filename(GMIME_PART(object)));
        // A text part marked inline is part of the body even when it carries a name (mail programs name
        // the pieces of a body they split around an attachment).
        const bool bodyText = (type == u"text/plain" || type == u"text/html") &&
                              disposition != u"attachment" &&
                              (filename.isEmpty() || disposition == u"inline");
        if (!bodyText) {
            attachment(object);
            return;
        }
        const GMimeContentEncoding encoding = g_mime_part_get_content_encoding(GMIME_PART(object));
        if ((encoding == GMIME_CONTENT_ENCODING_DEFAULT || encoding == GMIME_CONTENT_ENCODING_7BIT ||
             encoding == GMIME_CONTENT_ENCODING_8BIT || encoding == GMIME_CONTENT_ENCODING_BINARY) &&
            hasLongLines(g_mime_part_get_content(GMIME_PART(object))))
            g_mime_part_set_content_encoding(GMIME_PART(object), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
        pieces.append(
            {type == u"text/html" ? Piece::Kind::Html : Piece::Kind::Plain, textOf(object), object});
    }
};

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Watches Base64 text go by: what a decoder silently skips or drops is damage the user must hear of.
class Base64Check {
public:
    // Counts without a branch per byte: attachments of gigabytes go through here. Only the first '='
    // changes what later digits count as, so the text is counted in the runs before and after it.
    void scan(const char* data, size_t size) {
        const char* const end = data + size;
        while (data < end) {
            const char* equals =
                padded_ ? end
                        : static_cast<const char*>(std::memchr(data, '=', static_cast<size_t>(end - data)));
            if (!equals)
                equals = end;
            count(data, equals);
            if (equals == end)
                break;
            padded_ = true;
            data = equals + 1;
        }
    }
    // The padding an unpadded last group needs so that a decoder yields its bytes; a lone digit holds
    // less than a byte and cannot be completed.
    QByteArray missingPadding() const {
        if (padded_)
            return {};
        return digits_ % 4 == 2   ? QByteArrayLiteral("==")
               : digits_ % 4 == 3 ? QByteArrayLiteral("=")
                                  : QByteArray();
    }
    QString damage() const {
        QStringList found;
        if (invalid_ > 0)
            found.append(QStringLiteral("%1 characters that are not Base64 were skipped").arg(invalid_));
        if (digits_ % 4 == 1)
            found.append(QStringLiteral("its last Base64 group is incomplete"));
        if (found.isEmpty())
            return {};
        return found.join(QStringLiteral(" and ")) +
               (digits_ < 2 ? QStringLiteral(": it arrives empty") : QStringLiteral(": it may be damaged"));
    }

private:
    // Bit 0 marks a digit, bit 1 what is no damage either: white space, and more padding after padding.
    using Table = std::array<unsigned char, 256>;

    static Table classes() {
        Table table{};
        for (int c = 0; c < 256; ++c)
            if (g_ascii_isalnum(static_cast<gchar>(c)) || c == '+' || c == '/')
                table[static_cast<size_t>(c)] = 1;
        for (const unsigned char c : {'\n', '\r', ' ', '\t', '='})
            table[c] = 2;
        return table;
    }

    // Before padding there is no '=' between `from` and `to`; after it, digits are damage too. Sixteen bytes
    // at a time with byte-wide counters, which the compiler turns into vector code on any target.
    void count(const char* from, const char* to) {
        using Bytes = unsigned char __attribute__((vector_size(16)));
        static const Table table = classes();
        qint64 digits = 0;
        qint64 spaces = 0;
        const char* at = from;
        while (to - at >= 16) {
            // A byte-wide counter takes 255 blocks before it could wrap.
            const char* blocksEnd = at + std::min<qint64>((to - at) / 16, 255) * 16;
            Bytes digitCounts{};
            Bytes spaceCounts{};
            for (; at < blocksEnd; at += 16) {
                Bytes c;
                std::memcpy(&c, at, sizeof c);
                const Bytes letter = (c | 0x20) - 'a';
                const Bytes number = c - '0';
                digitCounts -=
                    reinterpret_cast<Bytes>((letter < 26) | (number < 10) | (c == '+') | (c == '/'));
                spaceCounts -= reinterpret_cast<Bytes>((c == '\n') | (c == '\r') | (c == ' ') | (c == '\t') |
                                                       (c == '='));
            }
            for (int i = 0; i < 16; ++i) {
                digits += digitCounts[i];
                spaces += spaceCounts[i];
            }
        }
        for (; at < to; ++at) {
            const unsigned char kind = table[static_cast<unsigned char>(*at)];
            digits += kind & 1;
            spaces += kind >> 1;
        }
        (padded_ ? invalid_ : digits_) += digits;
        invalid_ += (to - from) - digits - spaces;
    }

    qint64 digits_ = 0;
    qint64 invalid_ = 0;
    bool padded_ = false;
};

// Decodes Base64 through GMime's decoder, but takes clean text (digits and line ends) itself, four digits
// at a time where GMime goes byte by byte: attachments of gigabytes go through here. From the first other
// character on (padding, damage) GMime's decoder sees everything, starting with the digits of the group
// not yet finished, so what it decides about padding and damage stays its own.
class Base64Decoder {
public:
    Base64Decoder() { g_mime_encoding_init_decode(&gmime_, GMIME_CONTENT_ENCODING_BASE64); }

    // `out` holds at least g_mime_encoding_outlen(size) + 4 bytes.
    size_t step(const char* data, size_t size, char* out) {
        if (handedOver_)
            return g_mime_encoding_step(&gmime_, data, size, out);
        static const Ranks ranks = makeRanks();
        const auto* in = reinterpret_cast<const unsigned char*>(data);
        const unsigned char* const end = in + size;
        char* const start = out;
        while (in < end) {
            if (pendingCount_ == 0) {
                // Whole groups of four digits at a time.
                for (; end - in >= 4; in += 4) {
                    const unsigned a = ranks[in[0]], b = ranks[in[1]], c = ranks[in[2]], d = ranks[in[3]];
                    if ((a | b | c | d) >= 64)
                        break;
                    const unsigned group = a << 18 | b << 12 | c << 6 | d;
                    out[0] = static_cast<char>(group >> 16);
                    out[1] = static_cast<char>(group >> 8);
                    out[2] = static_cast<char>(group);
                    out += 3;
                }
                if (in == end)
                    break;
            }
            const unsigned char c = *in;
            const unsigned rank = ranks[c];
            if (rank < 64) {
                pending_[pendingCount_++] = static_cast<char>(c);
                ++in;
                if (pendingCount_ == 4) {
                    pendingCount_ = 0;
                    out += decodeGroup(pending_, out);
                }
            } else if (c == '\n' || c == '\r') {
                ++in;
            } else {
                handedOver_ = true;
                out += g_mime_encoding_step(&gmime_, pending_, static_cast<size_t>(pendingCount_), out);
                out += g_mime_encoding_step(&gmime_, reinterpret_cast<const char*>(in),
                                            static_cast<size_t>(end - in), out);
                break;
            }
        }
        return static_cast<size_t>(out - start);
    }

    size_t flush(const QByteArray& padding, char* out) {
        if (handedOver_)
            return g_mime_encoding_flush(&gmime_, padding.constData(), static_cast<size_t>(padding.size()),
                                         out);
        const QByteArray rest = QByteArray(pending_, pendingCount_) + padding;
        return g_mime_encoding_flush(&gmime_, rest.constData(), static_cast<size_t>(rest.size()), out);
    }

private:
    using Ranks = std::array<unsigned char, 256>;

    static Ranks makeRanks() {
        Ranks ranks;
        ranks.fill(0xff);
        const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (unsigned char i = 0; i < 64; ++i)
            ranks[static_cast<unsigned char>(digits[i])] = i;
        return ranks;
    }

    static size_t decodeGroup(const char* group, char* out) {
        static const Ranks ranks = makeRanks();
        unsigned value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 6 | ranks[static_cast<unsigned char>(group[i])];
        out[0] = static_cast<char>(value >> 16);
        out[1] = static_cast<char>(value >> 8);
        out[2] = static_cast<char>(value);
        return 3;
    }

    GMimeEncoding gmime_;
    bool handedOver_ = false;
    char pending_[4] = {};
    int pendingCount_ = 0;
};

// Writes a part's decoded content to `path`. Decoded here rather than by GMime's stream writer, so that
// a failing write reports its own reason (a full disk) and damaged Base64 is noticed: `damage` then
// says what is wrong with it.
platform::Result<void> decodeTo(GMimeObject* object, const QString& path, const QString& name,
                                QString* damage, bool* longLines) {
    const auto failed = [&name](int code) {
        return cliError(AttachmentFailed,
                        QStringLiteral("cannot save the attachment \"%1\" in the temporary folder: %2")
                            .arg(name, systemError(code)));
    };
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed(errno);
    const auto writeFailed = [&failed, fd](int code) {
        ::close(fd);
        return failed(code);
    };

    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        auto out = gmime::Ref<GMimeStream>::adopt(g_mime_stream_pipe_new(fd));
        g_mime_stream_pipe_set_owner(GMIME_STREAM_PIPE(out.get()), FALSE);
        errno = 0;
        if (message && g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out.get()) < 0)
            return writeFailed(errno ? errno : EIO);
    } else if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object))) {
        const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
        const bool decodes = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                             encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                             encoding == GMIME_CONTENT_ENCODING_UUENCODE;
        GMimeEncoding state;
        g_mime_encoding_init_decode(&state, decodes ? encoding : GMIME_CONTENT_ENCODING_BASE64);
        Base64Decoder base64;
        Base64Check check;
        LineLengths lines;
        GMimeStream* in = g_mime_data_wrapper_get_stream(content);
        g_mime_stream_reset(in);
        constexpr size_t chunk = 1 << 16;
        QByteArray input(chunk, Qt::Uninitialized);
        QByteArray output(static_cast<qsizetype>(g_mime_encoding_outlen(&state, chunk)) + 16,
                          Qt::Uninitialized);
        for (;;) {
            const ssize_t n = g_mime_stream_read(in, input.data(), chunk);
            // GMime's bounded streams answer -1 at their end.
            if (n < 0 && g_mime_stream_eos(in))
                break;
            if (n < 0) {
                ::close(fd);
                return cliError(
                    UnreadableMessage,
                    QStringLiteral("cannot read the attachment \"%1\" from the message").arg(name));
            }
            if (n == 0)
                break;
            if (!decodes) {
                lines.scan(input.constData(), static_cast<size_t>(n));
                if (!writeAll(fd, input.constData(), static_cast<size_t>(n)))
                    return writeFailed(errno);
                continue;
            }
            lines.scan(input.constData(), static_cast<size_t>(n));
            if (encoding == GMIME_CONTENT_ENCODING_BASE64)
                check.scan(input.constData(), static_cast<size_t>(n));
            const size_t decoded =
                encoding == GMIME_CONTENT_ENCODING_BASE64
                    ? base64.step(input.constData(), static_cast<size_t>(n), output.data())
                    : g_mime_encoding_step(&state, input.constData(), static_cast<size_t>(n), output.data());
            if (!writeAll(fd, output.constData(), decoded))
                return writeFailed(errno);
        }
        if (decodes) {
            const QByteArray padding =
                encoding == GMIME_CONTENT_ENCODING_BASE64 ? check.missingPadding() : QByteArray();
            const size_t decoded =
                encoding == GMIME_CONTENT_ENCODING_BASE64
                    ? base64.flush(padding, output.data())
                    : g_mime_encoding_flush(&state, padding.constData(), static_cast<size_t>(padding.size()),
                                            output.data());
            if (!writeAll(fd, output.constData(), decoded))
                return writeFailed(errno);
        }
        if (damage)
            *damage = check.damage();
        if (longLines)
            *longLines = lines.tooLong();
    }
    if (::close(fd) != 0)
        return failed(errno);
    return {};
}

QString attachmentName(GMimeObject* object, const QString& mimeType, int number) {
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        QString subject =
            message ? gmime::toQString(g_mime_message_get_subject(message)).simplified() : QString();
        subject.replace(u'/', u'-');
        return (subject.isEmpty() ? QStringLiteral("Message") : subject) + QStringLiteral(".eml");
    }
    const QString name = gmime::toQString(g_mime_part_get_filename(GMIME_PART(object))).trimmed();
    if (!name.isEmpty())
        return name;
    const QString suffix = QMimeDatabase().mimeTypeForName(mimeType).preferredSuffix();
    return QStringLiteral("Attachment %1").arg(number) + (suffix.isEmpty() ? QString() : u'.' + suffix);
}

// The plug-in finds attachments by containment, so no ID may be part of another.
QString uniqueContentID(const QString& wanted, const QStringList& taken) {
    const auto clashes = [&taken](const QString& id) {
        return std::any_of(taken.cbegin(), taken.cend(),
                           [&id](const QString& other) { return other.contains(id) || id.contains(other); });
    };
    if (!wanted.isEmpty() && !clashes(wanted))
        return wanted;
    QString id;
    do
        id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral("@quillmoor");
    while (clashes(id));
    return id;
}

void appendAddresses(InternetAddressList* list, QStringList& display, QStringList& bare) {
    const int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            appendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), display,
                            bare);
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            continue;
        const QString addr =
            gmime::toQString(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
        if (addr.isEmpty())
            continue;
        const QString name = gmime::toQString(internet_address_get_name(address)).trimmed();
        display.append(name.isEmpty() ? addr : QStringLiteral("%1 <%2>").arg(name, addr));
        if (!bare.contains(addr, Qt::CaseInsensitive))
            bare.append(addr);
    }
}

} // namespace

MessageLoader::MessageLoader(QString attachmentFolder)
    : attachmentFolder_(std::move(attachmentFolder)) {}

platform::Result<void> MessageLoader::spool(int fd, const QString& path) {
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return cliError(UnreadableMessage,
                        QStringLiteral("cannot create %1: %2").arg(path, target.errorString()));
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return cliError(UnreadableMessage, QStringLiteral("cannot read standard input: %1")
                                                   .arg(QString::fromLocal8Bit(std::strerror(errno))));
        if (n == 0)
            break;
        if (target.write(buffer.constData(), n) != n)
            return cliError(UnreadableMessage,
                            QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
    }
    if (!target.flush())
        return cliError(UnreadableMessage,
                        QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
    return {};
}

platform::Result<LoadedMessage> MessageLoader::load(const QString& path, const QString& shownName) const {
    gmime::initialize();
    // Errors name what the user gave: a spooled standard input is "standard input", not the spool file.
    const QString name = shownName.isEmpty() ? path : shownName;
    const QFileInfo info(path);
    if (!info.exists())
        return cliError(UnreadableMessage, QStringLiteral("%1: no such file").arg(name));
    if (!info.isFile())
        return cliError(UnreadableMessage, QStringLiteral("%1: not a regular file").arg(name));

    GError* openError = nullptr;
    auto stream = gmime::Ref<GMimeStream>::adopt(
        g_mime_stream_fs_open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC, 0, &openError));
    if (!stream) {
        const QString reason = openError ? QString::fromUtf8(openError->message) : QString();
        g_clear_error(&openError);
        return cliError(UnreadableMessage, QStringLiteral("%1: %2").arg(name, reason));
    }

    ParseIssues issues;
    GMimeParserOptions* options = g_mime_parser_options_new();
    g_mime_parser_options_set_warning_callback(options, collectIssue, &issues);
    auto parser = gmime::Ref<GMimeParser>::adopt(g_mime_parser_new_with_stream(stream.get()));
    // Parts stay ranges of the file instead of copies in memory.
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    auto message = gmime::Ref<GMimeMessage>::adopt(g_mime_parser_construct_message(parser.get(), options));
    g_mime_parser_options_free(options);

    if (!message)
        return cliError(MalformedMessage,
                        QStringLiteral("%1: not a message: it does not begin with headers").arg(name));
    if (!issues.critical.isEmpty())
        return cliError(MalformedMessage, QStringLiteral("%1: malformed message: %2")
                                              .arg(name, issues.critical.join(QStringLiteral("; "))));
    GMimeObject* top = g_mime_message_get_mime_part(message.get());
    if (!top)
        return cliError(MalformedMessage, QStringLiteral("%1: malformed message: it has no body").arg(name));

    auto source = std::make_shared<SourceMessage>();
    source->message = message;
    source->path = path;

    LoadedMessage loaded;
    loaded.warnings = issues.tolerated;
    QStringList cutHeaders;
    repairHeaders(GMIME_OBJECT(message.get()), cutHeaders);
    for (const QString& header : cutHeaders)
        loaded.warnings.append(
            QStringLiteral("the header \"%1\" is cut short by a NUL character (or the end of the file): "
                           "what follows it is left out")
                .arg(header));
    loaded.subject = gmime::toQString(g_mime_message_get_subject(message.get()));
    QStringList ignored;
    QStringList senders;
    appendAddresses(g_mime_message_get_from(message.get()), ignored, senders);
    loaded.sender = senders.value(0);
    for (GMimeAddressType type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC})
        appendAddresses(g_mime_message_get_addresses(message.get(), type), loaded.recipients,
                        loaded.envelopeRecipients);
    loaded.protection = protectionOf(top);
    if (!loaded.protection.isEmpty()) {
        // Never shown in a compose window: it leaves as it came.
        loaded.source = std::move(source);
        return loaded;
    }

    Walker walker;
    walker.walk(top);
    source->inlineParts = walker.inlineParts;
    loaded.richText = std::any_of(walker.pieces.cbegin(), walker.pieces.cend(),
                                  [](const Piece& piece) { return piece.kind == Piece::Kind::Html; });

    QStringList contentIDs;
    for (const InlinePart& part : walker.inlineParts)
        contentIDs.append(part.contentID);
    QString body;
    bool wrapPlainQuote = !loaded.richText;
    int number = 0;
    for (const Piece& piece : walker.pieces) {
        switch (piece.kind) {
        case Piece::Kind::Html:
            body += compose_body::fromHtml(piece.text);
            break;
        case Piece::Kind::Plain:
            body +=
                loaded.richText
                    ? QStringLiteral("<div>%1</div>").arg(compose_body::fromPlainText(piece.text, nullptr))
                    : compose_body::fromPlainText(piece.text, &wrapPlainQuote);
            break;
        case Piece::Kind::Attachment: {
            ++number;
            const QString mimeType = GMIME_IS_MESSAGE_PART(piece.part) ? QStringLiteral("message/rfc822")
                                                                       : gmime::mimeTypeOf(piece.part);
            const QString id =
                uniqueContentID(gmime::toQString(g_mime_object_get_content_id(piece.part)), contentIDs);
            contentIDs.append(id);
            const QString file =
                QDir(attachmentFolder_).filePath(QStringLiteral("attachment-%1").arg(number));
            const QString filename = attachmentName(piece.part, mimeType, number);
            QString damage;
            bool longLines = false;
            if (const auto decoded = decodeTo(piece.part, file, filename, &damage, &longLines); !decoded)
                return decoded.error();
            // Encoded anew from the decoded file, with lines a transport takes; otherwise it goes as it came.
            if (longLines && GMIME_IS_PART(piece.part)) {
                auto decoded = gmime::Ref<GMimeStream>::adopt(g_mime_stream_fs_open(
                    QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC, 0, nullptr));
                if (decoded) {
                    auto content = gmime::Ref<GMimeDataWrapper>::adopt(
                        g_mime_data_wrapper_new_with_stream(decoded.get(), GMIME_CONTENT_ENCODING_DEFAULT));
                    g_mime_part_set_content(GMIME_PART(piece.part), content.get());
                    g_mime_part_set_content_encoding(GMIME_PART(piece.part), GMIME_CONTENT_ENCODING_BASE64);
                }
            }
            if (!damage.isEmpty())
                loaded.warnings.append(
                    QStringLiteral("the attachment \"%1\" is not valid Base64: %2").arg(filename, damage));
            loaded.attachments.append({{id, file, filename, std::nullopt}, mimeType});
            source->attachmentParts.append({id, file, gmime::Ref<GMimeObject>::retain(piece.part)});
            body += compose_body::objectElement(id, mimeType);
            break;
        }
        }
    }
    loaded.bodyHTML = loaded.richText ? compose_body::wrapQuotedMessage(body) : body;
    loaded.source = std::move(source);
    return loaded;
}

void LoadedMessage::fill(host::InMemoryComposeWindow& window) const {
    window.subject = subject;
    window.recipients = recipients;
    window.richText = richText;
    window.setBodyHTML(bodyHTML);
    for (const LoadedAttachment& attachment : attachments)
        window.addAttachment(attachment.attachment, /*referenced=*/false);
}

} // namespace qm::cli
