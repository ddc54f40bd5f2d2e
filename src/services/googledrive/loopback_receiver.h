#pragma once

#include <QObject>
#include <QUrl>
#include <functional>

class QTcpServer;
class QTcpSocket;

namespace qm::upload::gdrive {

// The redirect target of a desktop sign-in: an HTTP listener on 127.0.0.1 at a free port that waits for
// the browser to come back with the authorization answer in the query. Lives on the main thread.
class LoopbackReceiver final : public QObject {
public:
    // `received` runs on the main thread for each request that carries "code" or "error", with the
    // address the browser asked for; the browser gets a page saying it may be closed.
    explicit LoopbackReceiver(std::function<void(const QUrl&)> received);
    ~LoopbackReceiver() override;

    // Starts listening; false when no port could be had.
    bool listen();
    void close();
    // "http://127.0.0.1:PORT", the redirect URI the sign-in names; empty while not listening.
    QString redirectUri() const;

private:
    void accept();
    void read(QTcpSocket* socket);

    QTcpServer* server_;
    std::function<void(const QUrl&)> received_;
};

} // namespace qm::upload::gdrive
