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
    const QString detail = item && *item ? QStringLiteral(" (%1)").arg(QString::fromUtf8(item).left(60)) : QString();
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
        return QStringLiteral("the message ends before the closing boundary of a multipart");
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
    const bool critical = code == GMIME_CRIT_INVALID_HEADER_NAME || code == GMIME_CRIT_CONFLICTING_HEADER ||
                          code == GMIME_CRIT_CONFLICTING_PARAMETER || code == GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY ||
                          code == GMIME_CRIT_NESTING_OVERFLOW || code == GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT;
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
    static const QRegularExpression cid(QStringLiteral("cid:([^\"'\\s)>]+)"), QRegularExpression::CaseInsensitiveOption);
    QSet<QString> ids;
    for (auto it = cid.globalMatch(html); it.hasNext();) {
        const QString id = it.next().captured(1);
        ids.insert(id);
        ids.insert(QUrl::fromPercentEncoding(id.toUtf8()));
    }
    return ids;
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
        } else if (type == u"multipart/signed") {
            // The message is composed anew, so the old signature could not stay valid.
            walk(g_mime_multipart_get_part(multipart, 0));
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
        const QString start = gmime::toQString(g_mime_object_get_content_type_parameter(GMIME_OBJECT(multipart), "start"))
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
            // A related part the HTML never shows would vanish for the recipient; it travels as an attachment.
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
        const bool bodyText = (type == u"text/plain" || type == u"text/html") && disposition != u"attachment" &&
                              filename.isEmpty();
        if (!bodyText) {
            attachment(object);
            return;
        }
        pieces.append({type == u"text/html" ? Piece::Kind::Html : Piece::Kind::Plain, textOf(object), object});
    }
};

// Writes a part's decoded content to `path`.
std::optional<platform::Error> decodeTo(GMimeObject* object, const QString& path) {
    GError* error = nullptr;
    gmime::Ref<GMimeStream> out = gmime::Ref<GMimeStream>::adopt(g_mime_stream_fs_open(
        QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600, &error));
    if (!out) {
        const QString reason = error ? QString::fromUtf8(error->message) : QString();
        g_clear_error(&error);
        return cliError(AttachmentFailed, QStringLiteral("cannot create %1: %2").arg(path, reason));
    }
    gint64 written = 0;
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        written = message ? g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out.get()) : 0;
    } else if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object))) {
        written = g_mime_data_wrapper_write_to_stream(content, out.get());
    }
    if (written < 0 || g_mime_stream_flush(out.get()) != 0 || g_mime_stream_close(out.get()) != 0)
        return cliError(AttachmentFailed, QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return std::nullopt;
}

QString attachmentName(GMimeObject* object, const QString& mimeType, int number) {
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        QString subject = message ? gmime::toQString(g_mime_message_get_subject(message)).simplified() : QString();
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
            appendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), display, bare);
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            continue;
        const QString addr = gmime::toQString(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
        if (addr.isEmpty())
            continue;
        const QString name = gmime::toQString(internet_address_get_name(address)).trimmed();
        display.append(name.isEmpty() ? addr : QStringLiteral("%1 <%2>").arg(name, addr));
        if (!bare.contains(addr, Qt::CaseInsensitive))
            bare.append(addr);
    }
}

} // namespace

MessageLoader::MessageLoader(QString attachmentFolder) : attachmentFolder_(std::move(attachmentFolder)) {}

std::optional<platform::Error> MessageLoader::spool(int fd, const QString& path) {
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return cliError(UnreadableMessage, QStringLiteral("cannot create %1: %2").arg(path, target.errorString()));
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
            return cliError(UnreadableMessage, QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
    }
    if (!target.flush())
        return cliError(UnreadableMessage, QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
    return std::nullopt;
}

std::variant<LoadedMessage, platform::Error> MessageLoader::load(const QString& path) const {
    gmime::initialize();
    const QFileInfo info(path);
    if (!info.exists())
        return cliError(UnreadableMessage, QStringLiteral("%1: no such file").arg(path));
    if (!info.isFile())
        return cliError(UnreadableMessage, QStringLiteral("%1: not a regular file").arg(path));

    GError* openError = nullptr;
    auto stream = gmime::Ref<GMimeStream>::adopt(
        g_mime_stream_fs_open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC, 0, &openError));
    if (!stream) {
        const QString reason = openError ? QString::fromUtf8(openError->message) : QString();
        g_clear_error(&openError);
        return cliError(UnreadableMessage, QStringLiteral("%1: %2").arg(path, reason));
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
        return cliError(MalformedMessage, QStringLiteral("%1: not a message: it does not begin with headers").arg(path));
    if (!issues.critical.isEmpty())
        return cliError(MalformedMessage, QStringLiteral("%1: malformed message: %2").arg(path, issues.critical.join(QStringLiteral("; "))));
    GMimeObject* top = g_mime_message_get_mime_part(message.get());
    if (!top)
        return cliError(MalformedMessage, QStringLiteral("%1: malformed message: it has no body").arg(path));

    Walker walker;
    walker.walk(top);

    auto source = std::make_shared<SourceMessage>();
    source->message = message;
    source->inlineParts = walker.inlineParts;

    LoadedMessage loaded;
    loaded.warnings = issues.tolerated;
    loaded.subject = gmime::toQString(g_mime_message_get_subject(message.get()));
    QStringList ignored;
    QStringList senders;
    appendAddresses(g_mime_message_get_from(message.get()), ignored, senders);
    loaded.sender = senders.value(0);
    for (GMimeAddressType type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC})
        appendAddresses(g_mime_message_get_addresses(message.get(), type), loaded.recipients, loaded.envelopeRecipients);
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
            body += loaded.richText ? QStringLiteral("<div>%1</div>").arg(compose_body::fromPlainText(piece.text, nullptr))
                                    : compose_body::fromPlainText(piece.text, &wrapPlainQuote);
            break;
        case Piece::Kind::Attachment: {
            ++number;
            const QString mimeType = GMIME_IS_MESSAGE_PART(piece.part) ? QStringLiteral("message/rfc822")
                                                                       : gmime::mimeTypeOf(piece.part);
            const QString id = uniqueContentID(gmime::toQString(g_mime_object_get_content_id(piece.part)), contentIDs);
            contentIDs.append(id);
            const QString file = QDir(attachmentFolder_).filePath(QStringLiteral("attachment-%1").arg(number));
            if (auto error = decodeTo(piece.part, file))
                return *error;
            loaded.attachments.append({{id, file, attachmentName(piece.part, mimeType, number), std::nullopt}, mimeType});
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
