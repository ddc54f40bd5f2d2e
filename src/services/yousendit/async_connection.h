#pragma once

#include "net/http_request.h"
#include "platform/error.h"

#include <memory>

namespace qm::net {
class URLConnectionOperation;
}

namespace qm::yousendit {

// Hears of one download, on the main thread; every report is optional.
class ConnectionDataDelegate {
public:
    virtual ~ConnectionDataDelegate() = default;
    virtual void connectionDidStart() {}
    virtual void connectionReceivedDataLength(qint64 length) { (void)length; }
    // The file is at its destination (true) or could not be written there (false).
    virtual void connectionFinishedWithStatus(bool written) { (void)written; }
    virtual void connectionFinishedWithError(const platform::Error& error) { (void)error; }
};

// One streamed download. The bytes go straight to a file beside the destination, which takes the
// destination's name only when the whole answer is in, so a large file never sits in memory and a failed
// download leaves nothing behind. A redirect keeps the Range of the request.
class AsyncConnection : public std::enable_shared_from_this<AsyncConnection> {
public:
    AsyncConnection(net::HTTPRequest request, QString destination,
                    std::shared_ptr<ConnectionDataDelegate> delegate);
    ~AsyncConnection();

    qint64 resumeOffset = 0;
    qint64 resumeSize = 0;

    void start();
    // Ends the download; the delegate hears nothing more.
    void cancel();

private:
    void finished();

    net::HTTPRequest request_;
    QString destination_;
    QString partPath_;
    std::shared_ptr<ConnectionDataDelegate> delegate_;
    std::shared_ptr<net::URLConnectionOperation> operation_;
    bool started_ = false;
};

} // namespace qm::yousendit
