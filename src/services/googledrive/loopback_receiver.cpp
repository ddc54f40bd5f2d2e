#include "services/googledrive/loopback_receiver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace qm::upload::gdrive {

namespace {

// A request line and headers longer than this are no browser's redirect.
constexpr qsizetype kRequestLimit = 16 * 1024;
// A connection that sends no complete request in this time is dropped (browsers open spare ones).
constexpr int kIdleMs = 10000;

constexpr char kDonePage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillmoor</title></head>"
    "<body><p>Quillmoor has received the answer of Google. You can close this "
    "window and return to Quillmoor.</p></body></html>";

QByteArray answer(const QByteArray& status, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" +
           body;
}

} // namespace

LoopbackReceiver::LoopbackReceiver(std::function<void(const QUrl&)> received)
    : server_(new QTcpServer(this))
    , received_(std::move(received)) {
    connect(server_, &QTcpServer::newConnection, this, &LoopbackReceiver::accept);
}

LoopbackReceiver::~LoopbackReceiver() = default;

bool LoopbackReceiver::listen() {
    // Only this machine's loopback address: nothing on the network can hand in a code.
    return server_->isListening() || server_->listen(QHostAddress::LocalHost, 0);
}

void LoopbackReceiver::close() {
    server_->close();
}

QString LoopbackReceiver::redirectUri() const {
    if (!server_->isListening())
        return {};
    return QStringLiteral("http://127.0.0.1:%1").arg(server_->serverPort());
}

void LoopbackReceiver::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kIdleMs, socket, [socket] { socket->abort(); });
    }
}

void LoopbackReceiver::read(QTcpSocket* socket) {
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    if (request.size() > kRequestLimit) {
        socket->abort();
        return;
    }
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    const QUrl target =
        line.size() == 3 && line[0] == "GET" ? QUrl(redirectUri() + QString::fromLatin1(line[1])) : QUrl();
    const QUrlQuery query(target);
    const bool isAnswer = target.isValid() && (query.hasQueryItem(QStringLiteral("code")) ||
                                               query.hasQueryItem(QStringLiteral("error")));
    socket->write(isAnswer ? answer("200 OK", kDonePage)
                           : answer("404 Not Found", "<!DOCTYPE html><p>Not found</p>"));
    socket->disconnectFromHost();
    // Queued: the receiver of the answer may close and destroy this listener.
    if (isAnswer && received_)
        QMetaObject::invokeMethod(
            this, [this, target] { received_(target); }, Qt::QueuedConnection);
}

} // namespace qm::upload::gdrive
