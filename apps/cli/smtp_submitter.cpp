#include "cli/smtp_submitter.h"

#include "cli/cli_error.h"
#include "cli/pipe_feeder.h"

#include <curl/curl.h>

#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace qm::cli {

namespace {

struct ReadState {
    int fd;
    const PipeFeeder* feeder;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* data) {
    auto* state = static_cast<ReadState*>(data);
    for (;;) {
        const ssize_t n = ::read(state->fd, buffer, size * count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return CURL_READFUNC_ABORT;
        // The end of the pipe is the end of the message only if the writer got all of it out.
        if (n == 0 && !state->feeder->completed())
            return CURL_READFUNC_ABORT;
        return static_cast<size_t>(n);
    }
}

// The server's replies as they arrive (only what the server says: what we send may hold a password).
// Keeps the last refusal (4xx or 5xx), all its lines, so that a refusal is shown in the server's own words.
struct ReplyLog {
    QByteArray partial;
    QList<QByteArray> lines;
    QByteArray last;
    QByteArray command;        // the verb of the last command sent (never its arguments: AUTH holds secrets)
    QByteArray refusedCommand; // the command the last refusal answered
};

int logReply(CURL*, curl_infotype type, char* data, size_t size, void* log) {
    auto* replies = static_cast<ReplyLog*>(log);
    if (type == CURLINFO_HEADER_OUT) {
        replies->command = QByteArray(data, static_cast<qsizetype>(std::min<size_t>(size, 4))).toUpper();
        return 0;
    }
    if (type != CURLINFO_HEADER_IN)
        return 0;
    replies->partial.append(data, static_cast<qsizetype>(size));
    for (qsizetype end = replies->partial.indexOf('\n'); end >= 0; end = replies->partial.indexOf('\n')) {
        const QByteArray line = replies->partial.left(end).trimmed();
        replies->partial.remove(0, end + 1);
        replies->lines.append(line);
        // "250-..." continues a reply, "250 ..." (or a bare code) ends it.
        if (line.size() < 4 || line.at(3) != '-') {
            // Only a refusal explains a failure; the goodbye after it does not.
            if (line.startsWith('4') || line.startsWith('5')) {
                replies->last = replies->lines.join(' ');
                replies->refusedCommand = replies->command;
            }
            replies->lines.clear();
        }
    }
    return 0;
}

QByteArray bracketed(const QString& address) {
    return '<' + address.toUtf8() + '>';
}

QByteArray certificateAuthorityFile() {
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const QByteArray file = qgetenv(name);
        if (!file.isEmpty())
            return file;
    }
    return {};
}

} // namespace

SmtpSubmitter::SmtpSubmitter(QUrl url)
    : url_(std::move(url)) {}

QUrl SmtpSubmitter::withStoredPassword(QUrl url, const accounts::CredentialStore* credentials) {
    if (!credentials || url.userName().isEmpty() || !url.password().isEmpty())
        return url;
    const QString account = url.userName(QUrl::FullyDecoded) + u'@' + url.host();
    const QString password =
        credentials->passwordFromKeychainItem(QString::fromLatin1(credentialLabel), account);
    if (!password.isNull())
        url.setPassword(password, QUrl::DecodedMode);
    return url;
}

bool SmtpSubmitter::isSupportedUrl(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"smtp" || scheme == u"smtps") && !url.host().isEmpty();
}

platform::Result<void> SmtpSubmitter::submit(const Envelope& envelope, const MessageSource& source) const {
    if (envelope.sender.isEmpty())
        return cliError(MissingAddress, QStringLiteral("the message has no From address to submit it from"));
    if (envelope.recipients.isEmpty())
        return cliError(MissingAddress, QStringLiteral("the message has no recipient"));

    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    QUrl server = url_;
    const QByteArray user = server.userName(QUrl::FullyDecoded).toUtf8();
    const QByteArray password = server.password(QUrl::FullyDecoded).toUtf8();
    server.setUserInfo({});
    const QByteArray address = server.toEncoded();
    const QByteArray sender = bracketed(envelope.sender);

    CURL* curl = curl_easy_init();
    if (!curl)
        return cliError(SubmissionFailed, QStringLiteral("libcurl could not be started"));
    curl_slist* recipients = nullptr;
    for (const QString& recipient : envelope.recipients)
        recipients = curl_slist_append(recipients, bracketed(recipient).constData());

    PipeFeeder feeder;
    if (const auto opened = feeder.open(); !opened) {
        curl_slist_free_all(recipients);
        curl_easy_cleanup(curl);
        return opened.error();
    }
    ReadState state{feeder.readEnd(), &feeder};
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    // A password never crosses the network in the clear; without one, TLS is used when offered.
    if (url_.scheme().toLower() == u"smtp")
        curl_easy_setopt(curl, CURLOPT_USE_SSL,
                         static_cast<long>(user.isEmpty() ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    // The variables curl and OpenSSL's own tools read: a certificate authority file named there replaces
    // the system's list (a company's own authority, a test server).
    const QByteArray authorities = certificateAuthorityFile();
    if (!authorities.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, authorities.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, sender.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    ReplyLog replies;
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, logReply);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &replies);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);

    feeder.start(source);
    const CURLcode result = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    const platform::Result<void> written = feeder.finish();
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);

    if (result == CURLE_OK)
        return written;
    // The read callback stopped the transfer because the message could not be written: that is the cause.
    // Otherwise the writer only failed because libcurl stopped reading.
    if (result == CURLE_ABORTED_BY_CALLBACK && !written)
        return written;
    {
        QString reason = QString::fromUtf8(errorText).trimmed();
        if (reason.isEmpty())
            reason = QString::fromUtf8(curl_easy_strerror(result));
        // libcurl's own text ("Weird server reply") hides why the server refused: its reply says it.
        if (response >= 400 && !replies.last.isEmpty())
            reason = QStringLiteral("the server answered \"%1\" (%2)")
                         .arg(QString::fromUtf8(replies.last), reason);
        else if (response > 0)
            reason += QStringLiteral(" (server reply %1)").arg(response);
        platform::Error error =
            cliError(SubmissionFailed, QStringLiteral("SMTP submission to %1 failed: %2")
                                           .arg(server.toString(QUrl::RemoveUserInfo), reason));
        // For callers that pass the outcome on to a mail client of their own (sendmail's exit status, an
        // SMTP reply).
        error.userInfo.insert(QString::fromLatin1(replyCodeKey), static_cast<int>(response));
        error.userInfo.insert(QString::fromLatin1(refusedCommandKey),
                              QString::fromLatin1(replies.refusedCommand));
        error.userInfo.insert(QString::fromLatin1(replyTextKey), QString::fromUtf8(replies.last));
        error.userInfo.insert(QString::fromLatin1(curlCodeKey), static_cast<int>(result));
        return error;
    }
}

} // namespace qm::cli
