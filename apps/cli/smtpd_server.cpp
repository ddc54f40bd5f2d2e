#include "cli/smtpd_server.h"

#include "cli/handover.h"
#include "cli/send_command.h"
#include "platform/system_log.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

namespace qm::cli {

struct SmtpdServer::Job {
    QString folder;
    Envelope envelope;
    QPointer<SmtpdConnection> connection;
    Handover::Prepared prepared;
    bool removal = false; // only taking back the uploads of a message that could not be relayed
};

SmtpdServer::SmtpdServer(Environment& environment, Options options)
    : env_(environment)
    , options_(std::move(options)) {
    relays_.setMaxThreadCount(options_.maxRelays);
    connect(&tcp_, &QTcpServer::newConnection, this, &SmtpdServer::accept);
}

SmtpdServer::~SmtpdServer() {
    tcp_.close();
    qDeleteAll(findChildren<SmtpdConnection*>(Qt::FindDirectChildrenOnly));
    relays_.waitForDone();
}

platform::Result<void> SmtpdServer::listen(const QHostAddress& address, quint16 port) {
    if (!tcp_.listen(address, port))
        return handoverError(Failure::Configuration, QStringLiteral("cannot listen on %1:%2: %3")
                                                         .arg(address.toString())
                                                         .arg(port)
                                                         .arg(tcp_.errorString()));
    return {};
}

platform::Result<void> SmtpdServer::adopt(int fd) {
    if (!tcp_.setSocketDescriptor(fd))
        return handoverError(
            Failure::Configuration,
            QStringLiteral("cannot take the socket systemd passed: %1").arg(tcp_.errorString()));
    return {};
}

QString SmtpdServer::address() const {
    return QStringLiteral("%1:%2").arg(tcp_.serverAddress().toString()).arg(tcp_.serverPort());
}

void SmtpdServer::accept() {
    while (QTcpSocket* socket = tcp_.nextPendingConnection()) {
        if (connections_ >= options_.maxConnections) {
            socket->write("421 4.3.2 Too many connections, try again later\r\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        ++connections_;
        new SmtpdConnection(socket, *this, options_.credentials);
    }
}

QString SmtpdServer::newMessageFolder() {
    QTemporaryDir folder(QDir(options_.spoolFolder).filePath(QStringLiteral("message-XXXXXX")));
    if (!folder.isValid())
        return {};
    folder.setAutoRemove(false);
    return folder.path();
}

void SmtpdServer::submit(const QString& folder, const Envelope& envelope,
                         QPointer<SmtpdConnection> connection) {
    auto job = std::make_shared<Job>();
    job->folder = folder;
    job->envelope = envelope;
    job->connection = std::move(connection);
    jobs_.append(job);
    schedule();
}

// From the top of the event loop: a decision runs an event loop of its own, which must not sit inside a
// socket's signal.
void SmtpdServer::schedule() {
    QTimer::singleShot(0, this, &SmtpdServer::pump);
}

void SmtpdServer::pump() {
    if (deciding_ || jobs_.isEmpty())
        return;
    const std::shared_ptr<Job> job = jobs_.takeFirst();
    deciding_ = true;
    if (job->removal) {
        SendCommand(env_).removeUploads(job->prepared.service, job->prepared.uploadedLinks);
    } else if (!job->connection) {
        // The client left before its answer: it keeps the message and nothing goes out.
        QDir(job->folder).removeRecursively();
    } else {
        Handover handover(env_, options_.answer);
        const auto prepared = handover.prepare(QDir(job->folder).filePath(QStringLiteral("message.eml")),
                                               QDir(job->folder).filePath(QStringLiteral("run")));
        if (prepared) {
            job->prepared = *prepared;
            relay(job);
        } else {
            platform::SystemLog::write(
                QStringLiteral("Quillmoor smtpd: a message from %1 was not relayed: %2")
                    .arg(job->envelope.sender, prepared.error().localizedDescription));
            finish(job, smtpReplyOf(prepared.error()));
        }
    }
    deciding_ = false;
    schedule();
}

void SmtpdServer::relay(const std::shared_ptr<Job>& job) {
    relays_.start([this, job] {
        const platform::Result<void> result =
            options_.relay.deliver(job->envelope, job->prepared.writer, nullptr);
        QMetaObject::invokeMethod(
            this, [this, job, result] { relayed(job, result); }, Qt::QueuedConnection);
    });
}

void SmtpdServer::relayed(const std::shared_ptr<Job>& job, const platform::Result<void>& result) {
    if (result) {
        finish(job, QByteArrayLiteral("250 2.0.0 Message relayed to ") + options_.relay.describe().toUtf8());
        return;
    }
    platform::SystemLog::write(QStringLiteral("Quillmoor smtpd: a message from %1 was not relayed: %2")
                                   .arg(job->envelope.sender, result.error().localizedDescription));
    if (!job->prepared.uploadedLinks.isEmpty()) {
        auto removal = std::make_shared<Job>();
        removal->removal = true;
        removal->prepared.service = job->prepared.service;
        removal->prepared.uploadedLinks = job->prepared.uploadedLinks;
        jobs_.append(removal);
        schedule();
    }
    finish(job, smtpReplyOf(result.error()));
}

void SmtpdServer::finish(const std::shared_ptr<Job>& job, const QByteArray& reply) {
    // The writer may hold the message's parsed parts, which read the spool file: gone first.
    job->prepared.writer = nullptr;
    QDir(job->folder).removeRecursively();
    if (job->connection)
        job->connection->reply(reply);
}

} // namespace qm::cli
