#pragma once

#include "cli/delivery.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

namespace qm::cli {

class SmtpdServer;

// One client of `quillmoor smtpd`: the server side of an SMTP submission dialogue (RFC 5321, 4954).
//
//   greeting --EHLO/HELO--> ready --AUTH ok--> authenticated --MAIL--> mail --RCPT--> recipients
//                                                   ^                                     |
//                                                   |                                   DATA
//                                                   |                                     v
//                                      reply <-- waiting <--"."-- data (spooled to a file)
//
// The message is written to a spool file as it arrives, a line at a time, so memory stays flat whatever
// its size. It is acknowledged only by the reply the server gives once the relay has taken it (or not);
// a client that goes away before the final dot leaves nothing behind.
class SmtpdConnection : public QObject {
public:
    struct Credentials {
        QString user;
        QString password;
    };

    SmtpdConnection(QTcpSocket* socket, SmtpdServer& server, Credentials credentials);
    ~SmtpdConnection() override;

    // The outcome of the message handed to the server: a whole reply line without CRLF.
    void reply(const QByteArray& line);

private:
    enum class State { Command, AuthUser, AuthPassword, AuthPlain, Data, Waiting, Closed };

    void readInput();
    void command(const QByteArray& line);
    void authenticationLine(const QByteArray& text);
    bool consumeData(qsizetype& position);
    void beginData();
    void endData();
    void abandonMessage();
    void send(const QByteArray& line);
    void close(const QByteArray& line = {});
    void resetTransaction();
    bool checkCredentials(const QByteArray& user, const QByteArray& password);
    void authenticate(const QByteArray& mechanism, const QByteArray& initial);

    QTcpSocket* socket_;
    SmtpdServer& server_;
    Credentials credentials_;
    State state_ = State::Command;
    QByteArray input_;
    QByteArray authUser_;
    bool greeted_ = false;
    bool authenticated_ = false;
    int failedAuths_ = 0;
    Envelope envelope_;
    bool hasSender_ = false;
    QString folder_; // the message's spool folder while it is received and processed
    QFile spool_;
    bool spoolFailed_ = false;
    bool partialLine_ = false; // the last data written ended inside a line
    QTimer idle_;
};

} // namespace qm::cli
