#include "cli/message_writer.h"

#include "cli/cli_error.h"
#include "cli/source_message.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qm::cli {

namespace {

using gmime::Ref;

bool isSevenBitText(const QByteArray& bytes) {
    qsizetype lineLength = 0;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == '\0' || c == '\r')
            return false;
        lineLength = c == '\n' ? 0 : lineLength + 1;
        if (lineLength > 76)
            return false;
    }
    return true;
}

Ref<GMimeObject> textPart(const QString& text, const char* subtype) {
    const QByteArray bytes = text.toUtf8();
    auto part = Ref<GMimeObject>::adopt(GMIME_OBJECT(g_mime_text_part_new_with_subtype(subtype)));
    auto stream = Ref<GMimeStream>::adopt(
        g_mime_stream_mem_new_with_buffer(bytes.constData(), static_cast<size_t>(bytes.size())));
    auto content = Ref<GMimeDataWrapper>::adopt(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(GMIME_PART(part.get()), content.get());
    g_mime_object_set_content_type_parameter(part.get(), "charset", "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(part.get()), isSevenBitText(bytes)
                                                                 ? GMIME_CONTENT_ENCODING_7BIT
                                                                 : GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    return part;
}

Ref<GMimeObject> multipart(const char* subtype, const QList<Ref<GMimeObject>>& parts) {
    auto result = Ref<GMimeObject>::adopt(GMIME_OBJECT(g_mime_multipart_new_with_subtype(subtype)));
    for (const Ref<GMimeObject>& part : parts)
        g_mime_multipart_add(GMIME_MULTIPART(result.get()), part.get());
    return result;
}

// The attachment's part as it came, when the attachment is still the file it was decoded to: its headers
// and encoded bytes go out unchanged. It is marked as an attachment where it was not one (a part of a
// multipart/related that the body never showed).
Ref<GMimeObject> originalPart(const LoadedAttachment& attachment, const SourceMessage* source) {
    if (!source)
        return {};
    for (const AttachmentPart& known : source->attachmentParts) {
        if (known.contentID != attachment.attachment.contentID ||
            known.filePath != attachment.attachment.filePath)
            continue;
        GMimeObject* part = known.part.get();
        if (g_ascii_strcasecmp(g_mime_object_get_disposition(part) ? g_mime_object_get_disposition(part) : "",
                               "attachment") != 0) {
            g_mime_object_set_disposition(part, "attachment");
            g_mime_object_set_content_disposition_parameter(
                part, "filename", attachment.attachment.filename.toUtf8().constData());
        }
        return known.part;
    }
    return {};
}

platform::Result<Ref<GMimeObject>> attachmentPart(const LoadedAttachment& attachment,
                                                  const SourceMessage* source) {
    if (Ref<GMimeObject> original = originalPart(attachment, source))
        return original;
    const QByteArray path = QFile::encodeName(attachment.attachment.filePath);
    GError* error = nullptr;
    auto stream =
        Ref<GMimeStream>::adopt(g_mime_stream_fs_open(path.constData(), O_RDONLY | O_CLOEXEC, 0, &error));
    if (!stream) {
        const QString reason = error ? QString::fromUtf8(error->message) : QString();
        g_clear_error(&error);
        return cliError(
            AttachmentFailed,
            QStringLiteral("cannot read attachment %1: %2").arg(attachment.attachment.filePath, reason));
    }
    const QByteArray name = attachment.attachment.filename.toUtf8();
    const QByteArray contentID = attachment.attachment.contentID.toUtf8();

    // A forwarded message travels as message/rfc822, which must not be base64-encoded: parsed and
    // written back from the file.
    if (attachment.mimeType == u"message/rfc822") {
        auto parser = Ref<GMimeParser>::adopt(g_mime_parser_new_with_stream(stream.get()));
        g_mime_parser_set_persist_stream(parser.get(), TRUE);
        auto inner = Ref<GMimeMessage>::adopt(g_mime_parser_construct_message(parser.get(), nullptr));
        if (inner) {
            auto part = Ref<GMimeObject>::adopt(
                GMIME_OBJECT(g_mime_message_part_new_with_message("rfc822", inner.get())));
            g_mime_object_set_disposition(part.get(), "attachment");
            g_mime_object_set_content_disposition_parameter(part.get(), "filename", name.constData());
            g_mime_object_set_content_id(part.get(), contentID.constData());
            return part;
        }
        g_mime_stream_reset(stream.get());
    }

    QByteArray type = attachment.mimeType.toUtf8();
    if (!type.contains('/') || type.startsWith("message/") || type.startsWith("multipart/"))
        type = "application/octet-stream";
    const qsizetype slash = type.indexOf('/');
    auto part = Ref<GMimeObject>::adopt(GMIME_OBJECT(
        g_mime_part_new_with_type(type.left(slash).constData(), type.mid(slash + 1).constData())));
    auto content = Ref<GMimeDataWrapper>::adopt(
        g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(GMIME_PART(part.get()), content.get());
    g_mime_part_set_content_encoding(GMIME_PART(part.get()), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(part.get(), "attachment");
    g_mime_part_set_filename(GMIME_PART(part.get()), name.constData());
    g_mime_object_set_content_id(part.get(), contentID.constData());
    return part;
}

bool isIdentityHeader(const char* name) {
    return g_ascii_strcasecmp(name, "Date") == 0 || g_ascii_strcasecmp(name, "Message-ID") == 0;
}

bool isReplacedHeader(const char* name, const MessageWriter::Options& options) {
    return g_ascii_strncasecmp(name, "Content-", 8) == 0 || g_ascii_strcasecmp(name, "MIME-Version") == 0 ||
           (!options.keepIdentity && isIdentityHeader(name)) ||
           (!options.keepBcc && g_ascii_strcasecmp(name, "Bcc") == 0);
}

// The domain of the first From address names the new Message-ID, as the sender's own mail program would.
QByteArray messageIDDomain(GMimeMessage* source) {
    InternetAddressList* from = source ? g_mime_message_get_from(source) : nullptr;
    if (from && internet_address_list_length(from) > 0) {
        InternetAddress* address = internet_address_list_get_address(from, 0);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const QByteArray addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            const qsizetype at = addr.lastIndexOf('@');
            if (at >= 0 && at + 1 < addr.size())
                return addr.mid(at + 1);
        }
    }
    return "localhost";
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Line ends as the transport wants them: LF alone becomes CRLF when `crlf`, nothing else changes.
class LineEnds {
public:
    explicit LineEnds(bool crlf)
        : crlf_(crlf) {}
    QByteArray convert(const QByteArray& bytes) {
        if (!crlf_ || bytes.isEmpty())
            return bytes;
        QByteArray out;
        out.reserve(bytes.size() + bytes.size() / 32);
        // Runs between line ends are copied whole: a message of gigabytes goes through here.
        const char* data = bytes.constData();
        const qsizetype size = bytes.size();
        qsizetype from = 0;
        while (from < size) {
            const void* found = std::memchr(data + from, '\n', static_cast<size_t>(size - from));
            const qsizetype at = found ? static_cast<const char*>(found) - data : size;
            out.append(data + from, at - from);
            if (at == size)
                break;
            const bool afterCR = at > 0 ? data[at - 1] == '\r' : afterCR_;
            if (!afterCR)
                out.append('\r');
            out.append('\n');
            from = at + 1;
        }
        afterCR_ = data[size - 1] == '\r';
        return out;
    }

private:
    bool crlf_;
    bool afterCR_ = false;
};

} // namespace

platform::Result<void> MessageWriter::writeAsItCame(const QString& path, int fd, const Options& options) {
    const auto failed = [] {
        return cliError(
            WriteFailed,
            QStringLiteral("cannot write the message: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return cliError(UnreadableMessage,
                        QStringLiteral("cannot read the message again: %1").arg(file.errorString()));
    LineEnds ends(options.crlf);
    // The header block, line by line: only Bcc (with its folded lines) may go.
    bool skipping = false;
    for (;;) {
        const QByteArray line = file.readLine(1 << 16);
        if (line.isEmpty())
            return {};
        const bool continuation = line.startsWith(' ') || line.startsWith('\t');
        if (!continuation)
            skipping = !options.keepBcc && line.left(4).compare("bcc:", Qt::CaseInsensitive) == 0;
        if (skipping)
            continue;
        const QByteArray out = ends.convert(line);
        if (!writeAll(fd, out.constData(), out.size()))
            return failed();
        if (line == "\n" || line == "\r\n")
            break;
    }
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return cliError(UnreadableMessage,
                            QStringLiteral("cannot read the message again: %1").arg(file.errorString()));
        if (n == 0)
            return {};
        const QByteArray out = ends.convert(buffer.left(n));
        if (!writeAll(fd, out.constData(), out.size()))
            return failed();
    }
}

platform::Result<void> MessageWriter::write(const OutgoingMessage& message, int fd, const Options& options) {
    gmime::initialize();

    Ref<GMimeObject> body;
    if (message.unchanged && message.source) {
        body = Ref<GMimeObject>::retain(g_mime_message_get_mime_part(message.source->message.get()));
    } else if (message.richText) {
        Ref<GMimeObject> html = textPart(message.html, "html");
        QList<Ref<GMimeObject>> related{html};
        if (message.source)
            for (const InlinePart& part : message.source->inlineParts)
                if (message.inlineContentIDs.contains(part.contentID))
                    related.append(part.part);
        if (related.size() > 1) {
            html = multipart("related", related);
            g_mime_object_set_content_type_parameter(html.get(), "type", "text/html");
        }
        body = multipart("alternative", {textPart(message.text, "plain"), html});
    } else {
        body = textPart(message.text, "plain");
    }
    if (!message.attachments.isEmpty() && !(message.unchanged && message.source)) {
        QList<Ref<GMimeObject>> parts{body};
        for (const LoadedAttachment& attachment : message.attachments) {
            auto part = attachmentPart(attachment, message.source.get());
            if (!part)
                return part.error();
            parts.append(*part);
        }
        body = multipart("mixed", parts);
    }

    auto outgoing = Ref<GMimeMessage>::adopt(g_mime_message_new(FALSE));
    GMimeMessage* source = message.source ? message.source->message.get() : nullptr;
    if (source) {
        GMimeHeaderList* from = g_mime_object_get_header_list(GMIME_OBJECT(source));
        GMimeHeaderList* to = g_mime_object_get_header_list(GMIME_OBJECT(outgoing.get()));
        for (int i = 0; i < g_mime_header_list_get_count(from); ++i) {
            GMimeHeader* header = g_mime_header_list_get_header_at(from, i);
            if (isReplacedHeader(g_mime_header_get_name(header), options))
                continue;
            // The raw value keeps the header exactly as it was encoded and folded.
            g_mime_header_list_append(to, g_mime_header_get_raw_name(header), "", nullptr);
            g_mime_header_set_raw_value(
                g_mime_header_list_get_header_at(to, g_mime_header_list_get_count(to) - 1),
                g_mime_header_get_raw_value(header));
        }
    }
    g_mime_message_set_mime_part(outgoing.get(), body.get());
    GMimeObject* headers = GMIME_OBJECT(outgoing.get());
    if (!options.keepIdentity || !g_mime_object_get_header(headers, "Date")) {
        GDateTime* now = g_date_time_new_now_local();
        g_mime_message_set_date(outgoing.get(), now);
        g_date_time_unref(now);
    }
    if (!options.keepIdentity || !g_mime_object_get_header(headers, "Message-ID")) {
        gmime::OwnedString id(g_mime_utils_generate_message_id(messageIDDomain(source).constData()));
        g_mime_message_set_message_id(outgoing.get(), id.get());
    }

    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, options.crlf ? GMIME_NEWLINE_FORMAT_DOS
                                                                  : GMIME_NEWLINE_FORMAT_UNIX);
    // GMime's file stream seeks before every write, which pipes (SMTP, sendmail, a piped standard output)
    // refuse; its pipe stream only writes, and does so for files as well.
    auto fileStream = Ref<GMimeStream>::adopt(g_mime_stream_pipe_new(fd));
    g_mime_stream_pipe_set_owner(GMIME_STREAM_PIPE(fileStream.get()), FALSE);
    // GMime writes in small pieces; the buffer turns them into whole blocks per system call.
    auto stream =
        Ref<GMimeStream>::adopt(g_mime_stream_buffer_new(fileStream.get(), GMIME_STREAM_BUFFER_BLOCK_WRITE));
    errno = 0;
    const ssize_t written = g_mime_object_write_to_stream(GMIME_OBJECT(outgoing.get()), format, stream.get());
    const bool flushed = written >= 0 && g_mime_stream_flush(stream.get()) == 0;
    g_mime_format_options_free(format);
    if (!flushed)
        return cliError(WriteFailed, QStringLiteral("cannot write the message: %1")
                                         .arg(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO))));
    return {};
}

} // namespace qm::cli
