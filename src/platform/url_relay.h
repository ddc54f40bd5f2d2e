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

// Hands a URL from one process of the user to another over a local socket in a folder of the user's
// runtime folder ($XDG_RUNTIME_DIR/quillmoor, readable by the user alone). The program that waits for
// sign-in redirects (a `quillmoor link` under way, the desktop host) listens; `quillmoor open-url`, which
// the desktop runs for the claimed URL schemes, sends. One listener per user at a time.
//
// On the wire the sender writes the URL as UTF-8 and a line feed; the listener answers "ok" and a line
// feed once it has taken the URL, then closes.
class UrlRelay : public QObject {
public:
    static constexpr char errorDomain[] = "QMURLRelayErrorDomain";
    enum ErrorCode : int {
        NobodyListens = 1, // no program waits for URLs
        AlreadyListening = 2,
        SocketFailed = 3,
        NotTaken = 4, // the listener did not answer in time
    };

    // `receiver` runs on the listener's thread, from its event loop, once per URL taken.
    explicit UrlRelay(std::function<void(const QString& url)> receiver);
    ~UrlRelay() override;

    // Starts listening; an error when another program listens already or the socket cannot be made.
    Result<void> listen();
    bool isListening() const;

    // The socket: $XDG_RUNTIME_DIR/quillmoor/url-relay (Qt's private runtime folder without the variable).
    static QString socketPath();
    // Sends `url` to the listener and waits (blocking, at most `timeoutMs`) until it is taken.
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
