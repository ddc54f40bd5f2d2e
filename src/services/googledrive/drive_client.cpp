#include "services/googledrive/drive_client.h"

#include "net/http_request_operation.h"
#include "platform/dispatch.h"
#include "platform/system_log.h"
#include "json/json.h"

#include <QUrlQuery>
#include <algorithm>

namespace qm::upload::gdrive {

namespace {

constexpr char kFolderType[] = "application/vnd.google-apps.folder";
// A listing longer than this many pages is taken as a server that never stops paging.
constexpr int kMaxPages = 100;

QByteArray formBody(const QList<std::pair<QString, QString>>& fields) {
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

// `fields` as the query of `url`, each value escaped on its own ("+", "=" and "&" included).
QUrl withQuery(QUrl url, const QList<std::pair<QString, QString>>& fields) {
    url.setQuery(QString::fromLatin1(formBody(fields)), QUrl::StrictMode);
    return url;
}

// A text inside single quotes of a Drive query.
QString quoted(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

platform::Error driveError(int code, const QString& text) {
    return platform::Error(QString::fromLatin1(kDriveErrorDomain), code, text);
}

} // namespace

std::optional<QVariantMap> DriveReply::object() const {
    return jsonObject(json::jsonValue(QString::fromUtf8(body)));
}

QString DriveReply::reason() const {
    const auto json = object();
    if (!json)
        return {};
    const QVariantList errors =
        json->value(QStringLiteral("error")).toMap().value(QStringLiteral("errors")).toList();
    return errors.isEmpty() ? QString() : errors.first().toMap().value(QStringLiteral("reason")).toString();
}

bool DriveReply::isTransient() const {
    if (transportError)
        return false;
    if (status == 429 || status == 500 || status == 502 || status == 503 || status == 504)
        return true;
    const QString why = status == 403 ? reason() : QString();
    return why == QLatin1String("rateLimitExceeded") || why == QLatin1String("userRateLimitExceeded");
}

DriveFile DriveFile::fromJson(const QVariantMap& object) {
    DriveFile file;
    file.id = object.value(QStringLiteral("id")).toString();
    file.name = object.value(QStringLiteral("name")).toString();
    file.mimeType = object.value(QStringLiteral("mimeType")).toString();
    file.parents = object.value(QStringLiteral("parents")).toStringList();
    file.webContentLink = QUrl(object.value(QStringLiteral("webContentLink")).toString());
    file.iconLink = QUrl(object.value(QStringLiteral("iconLink")).toString());
    return file;
}

struct DriveClient::Attempt {
    Build build;
    Done done;
    Progress progress;
    bool authorized = true;
    bool retryTransient = true;
    int retries = 0;
    bool refreshed = false; // after a 401: a second one is the answer
    quint64 generation = 0;
};

DriveClient::DriveClient(DriveEndpoints endpoints, AuthorizationStore store, DriveOptions options)
    : endpoints_(std::move(endpoints))
    , store_(std::move(store))
    , options_(options) {}

DriveClient::~DriveClient() {
    cancelAll();
}

net::HTTPRequest DriveClient::request(const QByteArray& method, const QUrl& url) const {
    net::HTTPRequest request(url, method);
    request.timeout = options_.timeout;
    request.setHeader("Accept", "application/json");
    return request;
}

net::HTTPRequest DriveClient::withJson(net::HTTPRequest request, const QVariantMap& body) {
    request.body = json::jsonRepresentation(body).toUtf8();
    request.setHeader("Content-Type", "application/json; charset=UTF-8");
    return request;
}

void DriveClient::send(Build build, Done done, bool authorized, bool retryTransient, Progress progress) {
    auto attempt = std::make_shared<Attempt>();
    attempt->build = std::move(build);
    attempt->done = std::move(done);
    attempt->progress = std::move(progress);
    attempt->authorized = authorized;
    attempt->retryTransient = retryTransient;
    attempt->generation = generation_;
    run(std::move(attempt));
}

void DriveClient::cancelAll() {
    ++generation_;
    refreshWaiters_.clear();
    const auto running = std::exchange(running_, {});
    for (const auto& weak : running)
        if (const auto operation = weak.lock())
            operation->cancel();
}

void DriveClient::run(std::shared_ptr<Attempt> attempt) {
    if (!current(attempt->generation))
        return;
    if (attempt->authorized) {
        if (!authorization_ || !authorization_->canAuthorize()) {
            DriveReply reply;
            reply.transportError =
                driveError(401, QStringLiteral("Quillmoor is not signed in to Google Drive. "
                                               "Link the Google Drive account first."));
            // Never from inside send(): its caller may not be ready for the answer yet.
            platform::dispatch::onMain([weak = weak_from_this(), attempt, reply] {
                const auto self = weak.lock();
                if (self && self->current(attempt->generation))
                    attempt->done(reply);
            });
            return;
        }
        // Renewed before the request rather than after a refusal, so no body is sent for nothing.
        if (authorization_->needsRefresh() && !authorization_->refreshToken.isEmpty() &&
            !attempt->refreshed) {
            attempt->refreshed = true;
            refresh([this, attempt](std::optional<platform::Error> error) {
                if (!error) {
                    attempt->refreshed = false; // a fresh token may still meet one 401
                    run(attempt);
                    return;
                }
                DriveReply reply;
                reply.transportError = error;
                attempt->done(reply);
            });
            return;
        }
    }
    net::HTTPRequest request = attempt->build();
    if (attempt->authorized)
        request.setHeader("Authorization", "Bearer " + authorization_->accessToken.toUtf8());
    auto operation = net::HTTPRequestOperation::create(std::move(request));
    std::weak_ptr<DriveClient> weak = weak_from_this();
    const auto answered = [weak, attempt](net::HTTPRequestOperation& op) {
        const auto self = weak.lock();
        if (!self || !self->current(attempt->generation))
            return;
        DriveReply reply;
        if (const auto response = op.response()) {
            reply.status = response->statusCode;
            reply.headers = response->headers;
        }
        reply.body = op.responseData();
        reply.transportError = op.transportError();
        self->finished(attempt, reply);
    };
    operation->setCompletionBlockWithSuccess(
        [answered](net::HTTPRequestOperation& op, const QVariant&) { answered(op); },
        [answered](net::HTTPRequestOperation& op, const platform::Error&) { answered(op); });
    if (attempt->progress)
        operation->setUploadProgressBlock([weak, attempt](qint64, qint64 sent, qint64 expected) {
            const auto self = weak.lock();
            if (self && self->current(attempt->generation))
                attempt->progress(sent, expected);
        });
    running_.erase(
        std::remove_if(running_.begin(), running_.end(), [](const auto& entry) { return entry.expired(); }),
        running_.end());
    running_.append(operation);
    operation->start();
}

void DriveClient::finished(std::shared_ptr<Attempt> attempt, const DriveReply& reply) {
    if (attempt->authorized && reply.status == 401 && !reply.transportError && !attempt->refreshed &&
        authorization_ && !authorization_->refreshToken.isEmpty()) {
        attempt->refreshed = true;
        refresh([this, attempt, reply](std::optional<platform::Error> error) {
            if (!error) {
                run(attempt);
                return;
            }
            DriveReply failed = reply;
            failed.transportError = error;
            attempt->done(failed);
        });
        return;
    }
    if (attempt->retryTransient && reply.isTransient() && attempt->retries < options_.retries) {
        retryLater(attempt, reply);
        return;
    }
    attempt->done(reply);
}

void DriveClient::retryLater(std::shared_ptr<Attempt> attempt, const DriveReply& reply) {
    auto wait = options_.backoff * (1LL << std::min(attempt->retries, 16));
    bool isNumber = false;
    const qint64 retryAfter = reply.header("Retry-After").trimmed().toLongLong(&isNumber);
    if (isNumber && retryAfter > 0)
        wait = std::max<std::chrono::milliseconds>(wait, std::chrono::seconds(retryAfter));
    wait = std::min<std::chrono::milliseconds>(wait, options_.maxWait);
    ++attempt->retries;
    std::weak_ptr<DriveClient> weak = weak_from_this();
    platform::dispatch::after(static_cast<int>(wait.count()), [weak, attempt] {
        if (const auto self = weak.lock())
            self->run(attempt);
    });
}

void DriveClient::refresh(std::function<void(std::optional<platform::Error>)> then) {
    refreshWaiters_.append(std::move(then));
    if (refreshWaiters_.size() > 1)
        return; // one renewal at a time; the others wait for its outcome
    const quint64 generation = generation_;
    const auto finish = [this, generation](std::optional<platform::Error> error) {
        if (!current(generation))
            return;
        for (const auto& waiter : std::exchange(refreshWaiters_, {}))
            waiter(error);
    };
    if (!authorization_ || authorization_->refreshToken.isEmpty()) {
        platform::dispatch::onMain([weak = weak_from_this(), finish] {
            if (weak.lock())
                finish(driveError(401, QStringLiteral("The Google Drive sign-in has expired. Link the Google "
                                                      "Drive account again.")));
        });
        return;
    }
    const QByteArray body = formBody({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                      {QStringLiteral("refresh_token"), authorization_->refreshToken},
                                      {QStringLiteral("client_id"), endpoints_.clientId},
                                      {QStringLiteral("client_secret"), endpoints_.clientSecret}});
    send(
        [this, body] {
            net::HTTPRequest request = this->request("POST", endpoints_.tokenEndpoint());
            request.setHeader("Content-Type", "application/x-www-form-urlencoded");
            request.body = body;
            return request;
        },
        [this, finish](const DriveReply& reply) {
            const auto json = reply.object();
            const QString token = json ? json->value(QStringLiteral("access_token")).toString() : QString();
            if (!reply.isSuccess() || token.isEmpty()) {
                const QString grantError = json ? json->value(QStringLiteral("error")).toString() : QString();
                if (!reply.transportError && (grantError == QLatin1String("invalid_grant") ||
                                              grantError == QLatin1String("invalid_client") ||
                                              reply.status == 400 || reply.status == 401)) {
                    finish(
                        driveError(401, QStringLiteral("Google Drive no longer accepts the sign-in of "
                                                       "Quillmoor. Link the Google Drive account again.")));
                    return;
                }
                finish(errorFor(reply));
                return;
            }
            Authorization renewed = *authorization_;
            renewed.accessToken = token;
            const qint64 lifetime = json->value(QStringLiteral("expires_in")).toLongLong();
            renewed.expiresAt =
                lifetime > 0 ? QDateTime::currentDateTimeUtc().addSecs(lifetime) : QDateTime();
            // Google keeps the refresh token unless it hands out a new one.
            const QString newRefresh = json->value(QStringLiteral("refresh_token")).toString();
            if (!newRefresh.isEmpty())
                renewed.refreshToken = newRefresh;
            authorization_ = renewed;
            if (const auto saved = store_.save(renewed); !saved)
                platform::SystemLog::write(saved.error().localizedDescription);
            finish(std::nullopt);
        },
        false);
}

void DriveClient::exchangeCode(const QString& code, const QString& redirectUri, const QString& verifier,
                               std::function<void(platform::Result<Authorization>)> done) {
    const QByteArray body = formBody({{QStringLiteral("code"), code},
                                      {QStringLiteral("client_id"), endpoints_.clientId},
                                      {QStringLiteral("client_secret"), endpoints_.clientSecret},
                                      {QStringLiteral("redirect_uri"), redirectUri},
                                      {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                                      {QStringLiteral("code_verifier"), verifier}});
    send(
        [this, body] {
            net::HTTPRequest request = this->request("POST", endpoints_.tokenEndpoint());
            request.setHeader("Content-Type", "application/x-www-form-urlencoded");
            request.body = body;
            return request;
        },
        [done](const DriveReply& reply) {
            const auto json = reply.object();
            const QString token = json ? json->value(QStringLiteral("access_token")).toString() : QString();
            if (reply.isSuccess() && !token.isEmpty()) {
                Authorization authorization;
                authorization.accessToken = token;
                authorization.refreshToken = json->value(QStringLiteral("refresh_token")).toString();
                const qint64 lifetime = json->value(QStringLiteral("expires_in")).toLongLong();
                if (lifetime > 0)
                    authorization.expiresAt = QDateTime::currentDateTimeUtc().addSecs(lifetime);
                done(authorization);
                return;
            }
            if (!reply.transportError && json && json->contains(QStringLiteral("error"))) {
                QString why = json->value(QStringLiteral("error_description")).toString();
                if (why.isEmpty())
                    why = json->value(QStringLiteral("error")).toString();
                done(driveError(int(reply.status),
                                QStringLiteral("Google refused the sign-in: %1.").arg(why)));
                return;
            }
            done(errorFor(reply));
        },
        false);
}

void DriveClient::fetchEmail(std::function<void(platform::Result<QString>)> done) {
    send(
        [this] {
            return request("GET",
                           withQuery(endpoints_.apiPath(QStringLiteral("about")),
                                     {{QStringLiteral("fields"), QStringLiteral("user(emailAddress)")}}));
        },
        [done](const DriveReply& reply) {
            const auto json = reply.isSuccess() ? reply.object() : std::nullopt;
            const QString email = json ? json->value(QStringLiteral("user"))
                                             .toMap()
                                             .value(QStringLiteral("emailAddress"))
                                             .toString()
                                       : QString();
            if (!email.isEmpty())
                done(email);
            else
                done(reply.isSuccess()
                         ? driveError(0, QStringLiteral("Google Drive did not say which account "
                                                        "signed in."))
                         : errorFor(reply));
        });
}

void DriveClient::rootFolderId(std::function<void(platform::Result<QString>)> done) {
    send(
        [this] {
            return request("GET", withQuery(endpoints_.apiPath(QStringLiteral("files/root")),
                                            {{QStringLiteral("fields"), QStringLiteral("id")}}));
        },
        [done](const DriveReply& reply) {
            const auto json = reply.isSuccess() ? reply.object() : std::nullopt;
            const QString id = json ? json->value(QStringLiteral("id")).toString() : QString();
            if (!id.isEmpty())
                done(id);
            else
                done(reply.isSuccess() ? driveError(0, QStringLiteral("Google Drive sent an answer Quillmoor "
                                                                      "cannot read."))
                                       : errorFor(reply));
        });
}

void DriveClient::findFolders(const QString& name,
                              std::function<void(platform::Result<QList<DriveFile>>)> done) {
    // Without "trashed = false" a folder in the trash is found, and what is uploaded into it is trashed.
    const QString query = QStringLiteral("name = %1 and mimeType = '%2' and trashed = false")
                              .arg(quoted(name), QString::fromLatin1(kFolderType));
    listPage(query, {}, 0, {}, std::move(done));
}

void DriveClient::listPage(const QString& query, const QString& pageToken, int page, QList<DriveFile> found,
                           std::function<void(platform::Result<QList<DriveFile>>)> done) {
    QList<std::pair<QString, QString>> fields{
        {QStringLiteral("q"), query},
        {QStringLiteral("fields"), QStringLiteral("nextPageToken,files(id,name,parents,mimeType)")},
        {QStringLiteral("spaces"), QStringLiteral("drive")}};
    if (!pageToken.isEmpty())
        fields.append({QStringLiteral("pageToken"), pageToken});
    const QUrl url = withQuery(endpoints_.apiPath(QStringLiteral("files")), fields);
    send([this, url] { return request("GET", url); },
         [this, query, page, found, done](const DriveReply& reply) mutable {
             const auto json = reply.isSuccess() ? reply.object() : std::nullopt;
             if (!json) {
                 done(reply.isSuccess() ? driveError(0, QStringLiteral("Google Drive sent a folder list "
                                                                       "Quillmoor cannot read."))
                                        : errorFor(reply));
                 return;
             }
             for (const QVariant& entry : json->value(QStringLiteral("files")).toList())
                 found.append(DriveFile::fromJson(entry.toMap()));
             const QString next = json->value(QStringLiteral("nextPageToken")).toString();
             if (next.isEmpty() || page + 1 >= kMaxPages) {
                 done(found);
                 return;
             }
             listPage(query, next, page + 1, std::move(found), std::move(done));
         });
}

void DriveClient::createFolder(const QString& name, std::function<void(platform::Result<QString>)> done) {
    const QVariantMap folder{{QStringLiteral("name"), name},
                             {QStringLiteral("mimeType"), QString::fromLatin1(kFolderType)}};
    send(
        [this, folder] {
            return withJson(request("POST", withQuery(endpoints_.apiPath(QStringLiteral("files")),
                                                      {{QStringLiteral("fields"), QStringLiteral("id")}})),
                            folder);
        },
        [done](const DriveReply& reply) {
            const auto json = reply.isSuccess() ? reply.object() : std::nullopt;
            const QString id = json ? json->value(QStringLiteral("id")).toString() : QString();
            if (!id.isEmpty())
                done(id);
            else
                done(reply.isSuccess() ? driveError(0, QStringLiteral("Google Drive sent an answer Quillmoor "
                                                                      "cannot read."))
                                       : errorFor(reply));
        });
}

void DriveClient::shareWithAnyone(const QString& fileId, std::function<void(platform::Result<void>)> done) {
    const QVariantMap permission{{QStringLiteral("type"), QStringLiteral("anyone")},
                                 {QStringLiteral("role"), QStringLiteral("reader")}};
    const QUrl url = withQuery(
        endpoints_.apiPath(
            QStringLiteral("files/%1/permissions").arg(QString::fromLatin1(QUrl::toPercentEncoding(fileId)))),
        {{QStringLiteral("fields"), QStringLiteral("id")}});
    send([this, url, permission] { return withJson(request("POST", url), permission); },
         [done](const DriveReply& reply) {
             if (reply.isSuccess())
                 done({});
             else
                 done(errorFor(reply));
         });
}

void DriveClient::deleteFile(const QString& fileId, std::function<void(platform::Result<void>)> done) {
    const QUrl url = endpoints_.apiPath(
        QStringLiteral("files/%1").arg(QString::fromLatin1(QUrl::toPercentEncoding(fileId))));
    send([this, url] { return request("DELETE", url); },
         [done](const DriveReply& reply) {
             // Gone already is as good as removed.
             if (reply.isSuccess() || (!reply.transportError && reply.status == 404))
                 done({});
             else
                 done(errorFor(reply));
         });
}

platform::Error DriveClient::errorFor(const DriveReply& reply) {
    if (reply.transportError) {
        const platform::Error& error = *reply.transportError;
        if (error.domain != QLatin1String(net::kURLErrorDomain))
            return error;
        switch (error.code) {
        case net::kURLErrorTimedOut:
            return driveError(error.code, QStringLiteral("Google Drive did not answer in time."));
        case net::kURLErrorNetworkConnectionLost:
            return driveError(error.code, QStringLiteral("The connection to Google Drive was lost."));
        default:
            return driveError(
                error.code,
                QStringLiteral("Google Drive cannot be reached: %1").arg(error.localizedDescription));
        }
    }
    const auto json = reply.object();
    const auto detail = json ? jsonObject(json->value(QStringLiteral("error"))) : std::nullopt;
    QString message = detail ? detail->value(QStringLiteral("message")).toString()
                      : json ? json->value(QStringLiteral("error_description")).toString()
                             : QString();
    if (message.isEmpty() && reply.status >= 200 && reply.status < 300)
        return driveError(0, QStringLiteral("Google Drive sent an answer Quillmoor cannot read."));
    if (message.isEmpty())
        return driveError(int(reply.status),
                          QStringLiteral("Google Drive answered with status %1.").arg(reply.status));
    return driveError(int(reply.status),
                      QStringLiteral("Google Drive refused: %1 (status %2).").arg(message).arg(reply.status));
}

} // namespace qm::upload::gdrive
