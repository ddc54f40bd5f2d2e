#include "cli/sendmail_command.h"

#include "cli/gmime_support.h"
#include "cli/handover.h"
#include "cli/next_transport.h"
#include "cli/send_command.h"
#include "cli/termination_cleanup.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

namespace qm::cli {

namespace {

// Options that take a value, attached or as the next argument; all others are single flags.
constexpr char kValueOptions[] = "fFrNRVBXCOhLp";
// Flags that may be clustered (-ti).
constexpr char kClusterFlags[] = "itvmnUG";

// Bare addresses of an address list ("Ann <ann@example.org>, bob@example.org"); groups opened.
void appendAddresses(InternetAddressList* list, QStringList& out) {
    const int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            appendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const QString addr =
                gmime::toQString(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
            if (!addr.isEmpty() && !out.contains(addr, Qt::CaseInsensitive))
                out.append(addr);
        }
    }
}

QStringList parseAddresses(const QString& text) {
    gmime::initialize();
    QStringList out;
    auto list = gmime::Ref<InternetAddressList>::adopt(
        internet_address_list_parse(nullptr, text.toUtf8().constData()));
    appendAddresses(list.get(), out);
    return out;
}

// The From address and the To, Cc and Bcc addresses of the message's headers.
struct HeaderAddresses {
    QString from;
    QStringList recipients;
};

HeaderAddresses headerAddresses(const QString& path) {
    gmime::initialize();
    HeaderAddresses found;
    auto stream = gmime::Ref<GMimeStream>::adopt(
        g_mime_stream_fs_open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC, 0, nullptr));
    if (!stream)
        return found;
    auto parser = gmime::Ref<GMimeParser>::adopt(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    auto message = gmime::Ref<GMimeMessage>::adopt(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message)
        return found;
    QStringList from;
    appendAddresses(g_mime_message_get_from(message.get()), from);
    found.from = from.value(0);
    for (GMimeAddressType type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC})
        appendAddresses(g_mime_message_get_addresses(message.get(), type), found.recipients);
    return found;
}

bool writeAll(QFile& file, const char* data, qsizetype size) {
    return file.write(data, size) == size;
}

// Standard input into `path` through a buffer; without -i a line of a single dot ends the message, as
// it does for sendmail.
platform::Result<void> spool(int fd, const QString& path, bool ignoreDots) {
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return handoverError(Failure::Temporary,
                             QStringLiteral("cannot create %1: %2").arg(path, target.errorString()));
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    QByteArray line; // without -i: the start of a line that may yet be the lone dot
    bool atLineStart = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return handoverError(Failure::Temporary, QStringLiteral("cannot read standard input: %1")
                                                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
        if (n == 0)
            break;
        if (ignoreDots) {
            if (!writeAll(target, buffer.constData(), n))
                return handoverError(Failure::Temporary,
                                     QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
            continue;
        }
        const char* data = buffer.constData();
        for (qsizetype i = 0; i < n;) {
            if (!line.isEmpty() || (atLineStart && data[i] == '.')) {
                // Gather the line that starts with a dot, to see whether it is the end.
                const char* end =
                    static_cast<const char*>(std::memchr(data + i, '\n', static_cast<size_t>(n - i)));
                const qsizetype upto = end ? end - data + 1 : n;
                line.append(data + i, upto - i);
                i = upto;
                if (!end)
                    break;
                if (line == ".\n" || line == ".\r\n")
                    return target.flush() ? platform::Result<void>()
                                          : handoverError(Failure::Temporary, target.errorString());
                if (!writeAll(target, line.constData(), line.size()))
                    return handoverError(
                        Failure::Temporary,
                        QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
                line.clear();
                atLineStart = true;
                continue;
            }
            const char* end =
                static_cast<const char*>(std::memchr(data + i, '\n', static_cast<size_t>(n - i)));
            const qsizetype upto = end ? end - data + 1 : n;
            if (!writeAll(target, data + i, upto - i))
                return handoverError(Failure::Temporary,
                                     QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
            atLineStart = end != nullptr;
            i = upto;
        }
    }
    if (!writeAll(target, line.constData(), line.size()) || !target.flush())
        return handoverError(Failure::Temporary,
                             QStringLiteral("cannot write %1: %2").arg(path, target.errorString()));
    return {};
}

QString localSender() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = QString::number(::getuid());
    return user + u'@' + QHostInfo::localHostName();
}

} // namespace

std::variant<SendmailArguments, QString> SendmailArguments::parse(const QStringList& arguments) {
    SendmailArguments parsed;
    QStringList recipients;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == u"-") {
            recipients.append(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        const QChar letter = argument.at(1);
        if (std::strchr(kValueOptions, letter.toLatin1()) && letter.unicode() < 0x80) {
            QString value = argument.mid(2);
            if (value.isEmpty()) {
                if (i + 1 >= arguments.size())
                    return QStringLiteral("option -%1 needs a value").arg(letter);
                value = arguments[++i];
            }
            if (letter == u'f' || letter == u'r')
                parsed.sender =
                    value.trimmed() == u"<>" ? QString() : parseAddresses(value).value(0, value.trimmed());
            else if (letter == u'F')
                parsed.fullName = value;
            continue;
        }
        if (letter == u'b') {
            const QString mode = argument.mid(2);
            if (mode != u"m")
                return QStringLiteral("only delivery (-bm) is supported, not -b%1").arg(mode);
            continue;
        }
        if (letter == u'o') {
            if (argument == u"-oi")
                parsed.ignoreDots = true;
            continue; // -oem, -odb, -oQ... steer a queue Quillmoor does not have
        }
        const QString flags = argument.mid(1);
        if (std::all_of(flags.cbegin(), flags.cend(), [](QChar c) {
                return c.unicode() < 0x80 && std::strchr(kClusterFlags, c.toLatin1());
            })) {
            parsed.ignoreDots = parsed.ignoreDots || flags.contains(u'i');
            parsed.fromHeaders = parsed.fromHeaders || flags.contains(u't');
            parsed.verbose = parsed.verbose || flags.contains(u'v');
        }
        // Anything else is ignored, as sendmail ignores options it does not know.
    }
    for (const QString& recipient : std::as_const(recipients)) {
        const QStringList addresses = parseAddresses(recipient);
        if (addresses.isEmpty() && !recipient.trimmed().isEmpty())
            return QStringLiteral("\"%1\" is not an address").arg(recipient);
        for (const QString& address : addresses)
            if (!parsed.recipients.contains(address, Qt::CaseInsensitive))
                parsed.recipients.append(address);
    }
    return parsed;
}

SendmailCommand::SendmailCommand(Environment& environment)
    : env_(environment) {}

void SendmailCommand::report(const QString& text) {
    env_.err.write((QStringLiteral("sendmail: ") + text + u'\n').toUtf8());
}

int SendmailCommand::run(const QStringList& arguments) {
    const auto parsed = SendmailArguments::parse(arguments);
    if (const auto* problem = std::get_if<QString>(&parsed)) {
        report(*problem);
        return EX_USAGE;
    }
    const SendmailArguments& line = std::get<SendmailArguments>(parsed);
    const auto fail = [this](const platform::Error& error) {
        report(error.localizedDescription);
        return exitStatusOf(error);
    };
    // Checked before the message is read: a loop or a missing program fails at once.
    const auto transport = NextTransport::fromSettings(env_.settings);
    if (!transport)
        return fail(transport.error());

    QTemporaryDir scratch(QDir::temp().filePath(QStringLiteral("quillmoor-sendmail-XXXXXX")));
    if (!scratch.isValid()) {
        report(QStringLiteral("cannot make a temporary folder: %1").arg(scratch.errorString()));
        return EX_TEMPFAIL;
    }
    const TerminationCleanup cleanup(scratch.path());
    QFile::setPermissions(scratch.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString messagePath = scratch.filePath(QStringLiteral("message.eml"));
    if (const auto spooled = spool(env_.inputFd, messagePath, line.ignoreDots); !spooled)
        return fail(spooled.error());
    if (QFileInfo(messagePath).size() == 0)
        return fail(handoverError(Failure::DataError, QStringLiteral("the message is empty")));

    Envelope envelope{line.sender, line.recipients};
    if (line.fromHeaders || envelope.sender.isEmpty()) {
        const HeaderAddresses headers = headerAddresses(messagePath);
        if (envelope.sender.isEmpty())
            envelope.sender = headers.from.isEmpty() ? localSender() : headers.from;
        // As sendmail's -t: the header recipients, less those named on the command line.
        if (line.fromHeaders) {
            envelope.recipients.clear();
            for (const QString& recipient : headers.recipients)
                if (!line.recipients.contains(recipient, Qt::CaseInsensitive))
                    envelope.recipients.append(recipient);
        }
    }
    if (envelope.recipients.isEmpty())
        return fail(handoverError(Failure::Usage, line.fromHeaders
                                                      ? QStringLiteral("no recipient in To, Cc or Bcc")
                                                      : QStringLiteral("recipient names must be specified")));

    // Nobody at a terminal to ask: the configured answer.
    const std::optional<AnswerRole> answer =
        env_.promptFd >= 0 ? std::nullopt : std::optional(Handover::unattendedAnswer(env_.settings));
    Handover handover(env_, answer);
    const auto prepared = handover.prepare(messagePath, scratch.filePath(QStringLiteral("run")));
    if (!prepared)
        return fail(prepared.error());
    if (const auto delivered = transport->deliver(envelope, prepared->writer, env_.credentials); !delivered) {
        SendCommand(env_).removeUploads(prepared->service, prepared->uploadedLinks);
        return fail(delivered.error());
    }
    if (line.verbose)
        report(QStringLiteral("the message was handed to %1").arg(transport->describe()));
    return EX_OK;
}

} // namespace qm::cli
