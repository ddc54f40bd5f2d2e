#pragma once

#include "net/http_request.h"
#include "platform/error.h"
#include "platform/result.h"
#include "services/googledrive/drive_authorization.h"
#include "services/googledrive/drive_endpoints.h"

#include <QList>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace qm::net {
class HTTPRequestOperation;
}

namespace qm::upload::gdrive {

inline constexpr auto kDriveErrorDomain = "GoogleDriveErrorDomain";

// How patient the client is; the defaults suit Google, tests shorten them.
struct DriveOptions {
    std::chrono::milliseconds timeout{60000}; // idle time after which a request fails
    int retries = 4;                          // for rate limits and server errors, per request
    std::chrono::milliseconds backoff{1000};  // the first wait, doubled each time
    std::chrono::milliseconds maxWait{30000}; // no wait is longer, whatever Retry-After says
    qint64 chunkSize = 64 * 1024 * 1024;      // of resumable uploads: a multiple of 256 KiB
    int resumeAttempts = 4;                   // failed chunks in a row before an upload gives up
};

// One answer of Google, or the transport failure that left none.
struct DriveReply {
    long status = 0;
    QByteArray body;
    net::HeaderList headers;
    std::optional<platform::Error> transportError;

    bool isSuccess() const { return !transportError && status >= 200 && status < 300; }
    QByteArray header(const QByteArray& name) const { return net::headerValue(headers, name); }
    // The body as a JSON object; nullopt when it is none.
    std::optional<QVariantMap> object() const;
    // The first "reason" of a JSON error body.
    QString reason() const;
    // Worth asking again later: a rate limit (403 with its reason, 429) or a server error.
    bool isTransient() const;
};

// A file as Drive describes it: the fields this program asks for.
struct DriveFile {
    QString id;
    QString name;
    QString mimeType;
    QStringList parents;
    QUrl webContentLink;
    QUrl iconLink;

    static DriveFile fromJson(const QVariantMap& object);
};

// The Drive v3 and OAuth requests the uploader needs, over the HTTP layer, called back on the main thread.
// Authorized requests carry a fresh bearer token: an expired one is renewed first, a 401 renews it once and
// asks again; rate limits and server errors are asked again after a growing wait. Each call reports once;
// after cancelAll() nothing more is reported and the transfers under way are aborted.
class DriveClient : public std::enable_shared_from_this<DriveClient> {
public:
    using Build = std::function<net::HTTPRequest()>;
    using Done = std::function<void(const DriveReply&)>;
    using Progress = std::function<void(qint64 sent, qint64 expected)>;

    DriveClient(DriveEndpoints endpoints, AuthorizationStore store, DriveOptions options);
    ~DriveClient();

    const DriveEndpoints& endpoints() const { return endpoints_; }
    const DriveOptions& options() const { return options_; }
    const std::optional<Authorization>& authorization() const { return authorization_; }
    void setAuthorization(std::optional<Authorization> authorization) {
        authorization_ = std::move(authorization);
    }

    // `build` makes the request afresh for every attempt (a body device cannot be sent twice). Without
    // `retryTransient`, a rate limit or server error is handed to `done` at once.
    void send(Build build, Done done, bool authorized = true, bool retryTransient = true,
              Progress progress = {});
    void cancelAll();
    // Changes with every cancelAll(): work that waits on its own checks it before going on.
    quint64 generation() const { return generation_; }

    // Sign-in: the code of the authorization answer for tokens, then the account's e-mail.
    void exchangeCode(const QString& code, const QString& redirectUri, const QString& verifier,
                      std::function<void(platform::Result<Authorization>)> done);
    void fetchEmail(std::function<void(platform::Result<QString>)> done);
    void rootFolderId(std::function<void(platform::Result<QString>)> done);
    // Folders named `name` that are not in the trash, every page of them.
    void findFolders(const QString& name, std::function<void(platform::Result<QList<DriveFile>>)> done);
    void createFolder(const QString& name, std::function<void(platform::Result<QString>)> done);
    void shareWithAnyone(const QString& fileId, std::function<void(platform::Result<void>)> done);
    void deleteFile(const QString& fileId, std::function<void(platform::Result<void>)> done);

    // Request helpers.
    net::HTTPRequest request(const QByteArray& method, const QUrl& url) const;
    static net::HTTPRequest withJson(net::HTTPRequest request, const QVariantMap& body);

    // The error the user sees for a reply that is no success, with what was being done.
    static platform::Error errorFor(const DriveReply& reply);

private:
    struct Attempt;
    void run(std::shared_ptr<Attempt> attempt);
    void finished(std::shared_ptr<Attempt> attempt, const DriveReply& reply);
    void retryLater(std::shared_ptr<Attempt> attempt, const DriveReply& reply);
    // Renews the access token; `then` runs with the error, or none when it worked.
    void refresh(std::function<void(std::optional<platform::Error>)> then);
    void listPage(const QString& query, const QString& pageToken, int page, QList<DriveFile> found,
                  std::function<void(platform::Result<QList<DriveFile>>)> done);
    bool current(quint64 generation) const { return generation == generation_; }

    DriveEndpoints endpoints_;
    AuthorizationStore store_;
    DriveOptions options_;
    std::optional<Authorization> authorization_;
    QList<std::weak_ptr<net::HTTPRequestOperation>> running_;
    QList<std::function<void(std::optional<platform::Error>)>> refreshWaiters_;
    quint64 generation_ = 0; // bumped by cancelAll(): answers of an older one are dropped
};

} // namespace qm::upload::gdrive
