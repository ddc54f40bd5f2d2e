#include "cli/smtpd_connection.h"

#include "cli/smtpd_server.h"

#include <QDir>
#include <QHostInfo>

namespace qm::cli {

namespace {

constexpr qsizetype kLongestCommand = 4096; // RFC 5321 asks for 512; AUTH lines run longer
constexpr int kMostRecipients = 1000;
constexpr int kMostFailedAuths = 3;
constexpr int kIdleMilliseconds = 5 * 60 * 1000;

// "MAIL FROM:<a@b> SIZE=10" -> "a@b"; nullopt when the path is malformed.
std::optional<QString> pathArgument(const QByteArray& line, const char* prefix) {
    const qsizetype start = qstrlen(prefix);
    if (line.size() < start || line.left(start).toUpper() != prefix)
        return std::nullopt;
    const QByteArray rest = line.mid(start).trimmed();
    if (!rest.startsWith('<'))
        return std::nullopt;
    const qsizetype end = rest.indexOf('>');
    if (end < 0)
        return std::nullopt;
    const QString path = QString::fromUtf8(rest.mid(1, end - 1)).trimmed();
    // A source route "@a,@b:user@host" names the mailbox after the colon.
    const qsizetype colon = path.startsWith(u'@') ? path.indexOf(u':') : -1;
    return colon >= 0 ? path.mid(colon + 1) : path;
}

// Equal or not, in a time that does not tell how much of the secret was right.
bool sameSecret(const QByteArray& a, const QByteArray& b) {
    if (b.isEmpty())
        return false;
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i % b.size()]);
    return difference == 0;
}

} // namespace

SmtpdConnection::SmtpdConnection(QTcpSocket* socket, SmtpdServer& server, Credentials credentials)
    : QObject(&server)
    , socket_(socket)
    , server_(server)
    , credentials_(std::move(credentials)) {
    socket_->setParent(this);
    // Each reply is a whole answer the client waits for: no Nagle delay.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket_, &QTcpSocket::readyRead, this, &SmtpdConnection::readInput);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        abandonMessage();
        state_ = State::Closed;
        deleteLater();
    });
    idle_.setSingleShot(true);
    idle_.setInterval(kIdleMilliseconds);
    connect(&idle_, &QTimer::timeout, this, [this] {
        if (state_ != State::Waiting)
            close("421 4.4.2 Idle for too long, closing");
    });
    idle_.start();
    send("220 " + QHostInfo::localHostName().toUtf8() + " ESMTP Quillmoor ready");
}

SmtpdConnection::~SmtpdConnection() {
    abandonMessage();
    server_.connectionClosed();
}

void SmtpdConnection::send(const QByteArray& line) {
    if (socket_->state() == QAbstractSocket::ConnectedState)
        socket_->write(line + "\r\n");
}

void SmtpdConnection::close(const QByteArray& line) {
    if (!line.isEmpty())
        send(line);
    abandonMessage();
    state_ = State::Closed;
    socket_->disconnectFromHost();
}

// A message not yet handed to the server is dropped with its folder; one handed over is the server's.
void SmtpdConnection::abandonMessage() {
    if (state_ != State::Data)
        return;
    spool_.close();
    QDir(folder_).removeRecursively();
    folder_.clear();
}

void SmtpdConnection::resetTransaction() {
    envelope_ = {};
    hasSender_ = false;
}

void SmtpdConnection::readInput() {
    idle_.start();
    input_.append(socket_->readAll());
    // Read by position and trimmed once at the end: removing each line from the front would move the
    // rest of the buffer every time.
    qsizetype position = 0;
    // Commands wait while a message is processed: a pipelining client's next ones get their replies
    // after the message's.
    while (position < input_.size() && state_ != State::Waiting && state_ != State::Closed) {
        if (state_ == State::Data) {
            if (!consumeData(position))
                break;
            continue;
        }
        const qsizetype end = input_.indexOf('\n', position);
        if (end < 0) {
            if (input_.size() - position > kLongestCommand)
                close("500 5.5.2 Line too long");
            break;
        }
        QByteArray text = input_.mid(position, end - position);
        position = end + 1;
        if (text.endsWith('\r'))
            text.chop(1);
        if (state_ == State::AuthUser || state_ == State::AuthPassword || state_ == State::AuthPlain) {
            authenticationLine(text);
            continue;
        }
        command(text);
    }
    input_.remove(0, position);
}

void SmtpdConnection::authenticationLine(const QByteArray& text) {
    const State state = state_;
    state_ = State::Command;
    if (text == "*")
        return send("501 5.7.0 Authentication cancelled");
    const QByteArray decoded = QByteArray::fromBase64(text);
    if (state == State::AuthUser) {
        authUser_ = decoded;
        state_ = State::AuthPassword;
        send("334 UGFzc3dvcmQ6"); // "Password:"
    } else if (state == State::AuthPassword) {
        checkCredentials(authUser_, decoded);
    } else {
        authenticate("PLAIN", text);
    }
}

void SmtpdConnection::command(const QByteArray& line) {
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
    const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
    if (verb == "EHLO" || verb == "HELO") {
        greeted_ = true;
        resetTransaction();
        const QByteArray host = QHostInfo::localHostName().toUtf8();
        if (verb == "HELO") {
            send("250 " + host);
            return;
        }
        send("250-" + host);
        send("250-AUTH PLAIN LOGIN");
        send("250-8BITMIME");
        send("250-PIPELINING");
        send("250 ENHANCEDSTATUSCODES");
    } else if (verb == "NOOP") {
        send("250 2.0.0 OK");
    } else if (verb == "RSET") {
        resetTransaction();
        send("250 2.0.0 OK");
    } else if (verb == "QUIT") {
        close("221 2.0.0 Bye");
    } else if (verb == "AUTH") {
        if (authenticated_) {
            send("503 5.5.1 Already authenticated");
            return;
        }
        const qsizetype blank = argument.indexOf(' ');
        authenticate((blank < 0 ? argument : argument.left(blank)).toUpper(),
                     blank < 0 ? QByteArray() : argument.mid(blank + 1).trimmed());
    } else if (verb == "MAIL") {
        if (!authenticated_)
            return send("530 5.7.0 Authentication required");
        if (hasSender_)
            return send("503 5.5.1 Sender already given");
        const auto path = pathArgument(line, "MAIL FROM:");
        if (!path)
            return send("501 5.5.4 Syntax: MAIL FROM:<address>");
        envelope_.sender = *path;
        hasSender_ = true;
        send("250 2.1.0 OK");
    } else if (verb == "RCPT") {
        if (!hasSender_)
            return send("503 5.5.1 MAIL first");
        const auto path = pathArgument(line, "RCPT TO:");
        if (!path || path->isEmpty() || !path->contains(u'@'))
            return send("501 5.1.3 Syntax: RCPT TO:<address>");
        if (envelope_.recipients.size() >= kMostRecipients)
            return send("452 4.5.3 Too many recipients");
        envelope_.recipients.append(*path);
        send("250 2.1.5 OK");
    } else if (verb == "DATA") {
        if (envelope_.recipients.isEmpty())
            return send(hasSender_ ? "503 5.5.1 RCPT first" : "503 5.5.1 MAIL first");
        beginData();
    } else if (verb == "VRFY") {
        send("252 2.5.0 Cannot verify, but will try");
    } else if (verb == "STARTTLS") {
        send("502 5.5.1 Not offered: this service takes only local connections");
    } else {
        send("500 5.5.1 Unknown command");
    }
}

void SmtpdConnection::authenticate(const QByteArray& mechanism, const QByteArray& initial) {
    if (mechanism == "LOGIN") {
        if (initial.isEmpty()) {
            state_ = State::AuthUser;
            send("334 VXNlcm5hbWU6"); // "Username:"
        } else {
            authUser_ = QByteArray::fromBase64(initial);
            state_ = State::AuthPassword;
            send("334 UGFzc3dvcmQ6");
        }
        return;
    }
    if (mechanism != "PLAIN")
        return send("504 5.5.4 Unrecognized authentication type");
    if (initial.isEmpty()) {
        state_ = State::AuthPlain;
        send("334 ");
        return;
    }
    // authorization identity NUL user NUL password
    const QList<QByteArray> fields = QByteArray::fromBase64(initial).split('\0');
    if (fields.size() != 3)
        return send("501 5.5.2 Malformed PLAIN response");
    checkCredentials(fields[1], fields[2]);
}

bool SmtpdConnection::checkCredentials(const QByteArray& user, const QByteArray& password) {
    const bool good =
        sameSecret(user, credentials_.user.toUtf8()) && sameSecret(password, credentials_.password.toUtf8());
    if (good) {
        authenticated_ = true;
        send("235 2.7.0 Authentication successful");
        return true;
    }
    if (++failedAuths_ >= kMostFailedAuths)
        close("535 5.7.8 Authentication credentials invalid; closing");
    else
        send("535 5.7.8 Authentication credentials invalid");
    return false;
}

void SmtpdConnection::beginData() {
    folder_ = server_.newMessageFolder();
    spool_.setFileName(QDir(folder_).filePath(QStringLiteral("message.eml")));
    if (folder_.isEmpty() || !spool_.open(QIODevice::WriteOnly)) {
        folder_.clear();
        return send("451 4.3.0 Cannot store the message here now");
    }
    spoolFailed_ = false;
    partialLine_ = false;
    state_ = State::Data;
    send("354 End data with <CR><LF>.<CR><LF>");
}

// The message as it arrives, written in runs between the lines that begin with a dot: those are the
// client's stuffing (RFC 5321 4.5.2), which goes, or the final dot. False when more input is needed to
// tell which.
bool SmtpdConnection::consumeData(qsizetype& position) {
    const auto write = [this](const char* data, qsizetype size) {
        if (!spoolFailed_ && spool_.write(data, size) != size)
            spoolFailed_ = true;
    };
    const char* data = input_.constData();
    const qsizetype size = input_.size();
    while (position < size) {
        if (!partialLine_ && data[position] == '.') {
            const qsizetype end = input_.indexOf('\n', position);
            if (end < 0) {
                // "." or ".\r" may still become the end marker.
                if (size - position == 1 || (size - position == 2 && data[position + 1] == '\r'))
                    return false;
                write(data + position + 1, size - position - 1);
                partialLine_ = true;
                position = size;
                return true;
            }
            const qsizetype length = end + 1 - position;
            if (length == 2 || (length == 3 && data[position + 1] == '\r')) {
                position = end + 1;
                endData();
                return true;
            }
            write(data + position + 1, length - 1);
            position = end + 1;
            continue;
        }
        const qsizetype next = input_.indexOf("\n.", position);
        const qsizetype upto = next < 0 ? size : next + 1;
        write(data + position, upto - position);
        partialLine_ = data[upto - 1] != '\n';
        position = upto;
    }
    return true;
}

void SmtpdConnection::endData() {
    const bool stored = !spoolFailed_ && spool_.flush();
    spool_.close();
    const QString folder = folder_;
    folder_.clear();
    if (!stored) {
        QDir(folder).removeRecursively();
        state_ = State::Command;
        resetTransaction();
        return send("451 4.3.0 Cannot store the message here now (disk full?)");
    }
    state_ = State::Waiting;
    server_.submit(folder, envelope_, this);
}

void SmtpdConnection::reply(const QByteArray& line) {
    if (state_ != State::Waiting)
        return;
    state_ = State::Command;
    resetTransaction();
    send(line);
    // Commands the client sent meanwhile.
    if (!input_.isEmpty())
        QTimer::singleShot(0, this, &SmtpdConnection::readInput);
}

} // namespace qm::cli
