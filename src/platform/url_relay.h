#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace qm::platform {

// Hands a URL from one process of the user to others over local sockets in a folder of the user's
// runtime folder ($XDG_RUNTIME_DIR/quillmoor, readable by the user alone). Every program that waits for
// sign-in redirects (a `quillmoor link` under way, the desktop host) listens on a socket of its own there,
// so several can wait at once; `quillmoor open-url`, which the desktop runs for the claimed URL schemes,
// hands the URL to each of them. A listener decides for itself whether a URL is its own: the sign-in
// under way checks the redirect's state, so a URL meant for another listener changes nothing.
//
// On the wire the sender writes the URL as UTF-8 and a line feed; the listener answers "ok" and a line
// feed once it has taken the URL, then closes.
class UrlRelay : public QObject {
public:
    static constexpr char errorDomain[] = "QMURLRelayErrorDomain";
    enum ErrorCode : int {
        NobodyListens = 1, // no program waits for URLs
        SocketFailed = 3,
        NotTaken = 4, // no listener answered in time
    };

    // `receiver` runs on the listener's thread, from its event loop, once per URL taken.
    explicit UrlRelay(std::function<void(const QString& url)> receiver);
    ~UrlRelay() override;

    // Starts listening on a socket of this relay's own; an error when it cannot be made.
    Result<void> listen();
    bool isListening() const;
    // This relay's socket while it listens.
    QString path() const { return path_; }

    // $XDG_RUNTIME_DIR/quillmoor (Qt's private runtime folder without the variable): the listeners' sockets.
    static QString folder();
    // Sends `url` to every listener and waits (blocking, at most `timeoutMs` for each) until each has taken
    // it. Succeeds when one has; sockets left by programs that are gone are removed on the way.
    static Result<void> send(const QString& url, int timeoutMs = 5000);

private:
    struct Connection;
    void accept();
    void readFrom(Connection* connection);
    void close(Connection* connection);

    std::function<void(const QString&)> receiver_;
    int fd_ = -1;
    QString path_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

} // namespace qm::platform
