#pragma once

#include "cli/answer_role.h"
#include "cli/environment.h"
#include "cli/next_transport.h"
#include "cli/smtpd_connection.h"
#include "platform/result.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QThreadPool>
#include <memory>

namespace qm::cli {

// `quillmoor smtpd`'s listening socket and its work. Connections are served on the main thread's event
// loop; each received message is run through the send decision, one at a time on the main thread (the
// plug-in's home), and then relayed on a thread of its own, so a slow relay holds up no other client.
class SmtpdServer : public QObject {
public:
    struct Options {
        NextTransport relay; // with the relay's password filled in
        AnswerRole answer = AnswerRole::Upload;
        SmtpdConnection::Credentials credentials;
        QString spoolFolder; // private; one folder per message below it
        int maxConnections = 100;
        int maxRelays = 20;
    };

    SmtpdServer(Environment& environment, Options options);
    ~SmtpdServer() override; // waits for relays under way

    platform::Result<void> listen(const QHostAddress& address, quint16 port);
    // A listening socket handed over by systemd (socket activation).
    platform::Result<void> adopt(int fd);
    QString address() const;

    // For connections: a new private folder for one message; empty when none can be made.
    QString newMessageFolder();
    // Takes the spooled `folder`/message.eml; the connection's reply() gets the outcome unless the
    // connection has gone by then. The folder is removed when the message is done with.
    void submit(const QString& folder, const Envelope& envelope, QPointer<SmtpdConnection> connection);
    void connectionClosed() { --connections_; }

private:
    struct Job;

    void accept();
    void schedule();
    void pump();
    void relay(const std::shared_ptr<Job>& job);
    void relayed(const std::shared_ptr<Job>& job, const platform::Result<void>& result);
    void finish(const std::shared_ptr<Job>& job, const QByteArray& reply);

    Environment& env_;
    Options options_;
    QTcpServer tcp_;
    QThreadPool relays_;
    QList<std::shared_ptr<Job>> jobs_;
    bool deciding_ = false;
    int connections_ = 0;
};

} // namespace qm::cli
