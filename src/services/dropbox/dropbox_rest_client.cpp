#include "services/dropbox/dropbox_rest_client.h"

#include "net/file_range_device.h"
#include "net/http_client.h"
#include "net/json_request_operation.h"
#include "net/net_error.h"
#include "json/writer.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace qm::dropbox {

namespace {

constexpr int kMaxRetryAfterSeconds = 60;

QByteArray jsonText(const QVariant& value) {
    json::Writer writer;
    writer.setSortKeys(true);
    return writer.dataWithObject(value).valueOr(QByteArray());
}

} // namespace

// One API call with its retries: how to build its request, where its answer goes.
struct RestClient::Call {
    QUrl base;
    QString path;
    std::function<void(net::HTTPRequest&)> fill; // body and headers, made afresh for each attempt
    std::function<void(const QVariant&)> done;
    std::function<void(const platform::Error&)> failed;
    // A 409 the call answers itself (incorrect offset, link already there); true when handled.
    std::function<bool(const QVariantMap&)> conflict;
    std::function<void(qint64 written, qint64 expected)> progress;
    bool resend = false; // a dropped connection sends it again (upload chunks)
    int retries = 0;
    bool renewed = false;
};

RestClient::RestClient(Session& session, RestClientDelegate* delegate, qint64 chunkSize)
    : session_(session)
    , delegate_(delegate)
    , chunkSize_(std::max<qint64>(1, chunkSize)) {}

RestClient::~RestClient() {
    cancelAllRequests();
}

void RestClient::cancelAllRequests() {
    ++*generation_;
    for (const auto& client : clients_)
        for (const auto& operation : client->operations())
            operation->cancel();
}

std::shared_ptr<net::HTTPClient> RestClient::client(const QUrl& base, const QString& token) {
    // Finished clients go; one under way stays until its answer has come.
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const auto& c) { return c->operations().isEmpty(); }),
                   clients_.end());
    auto made = net::HTTPClient::clientWithBaseURL(base);
    made->registerHTTPOperationClass<net::JSONRequestOperation>();
    made->setDefaultHeader("Accept", "application/json");
    made->setDefaultHeader("Authorization", "Bearer " + token.toUtf8());
    clients_.append(made);
    return made;
}

void RestClient::retryLater(std::shared_ptr<Call> call, int milliseconds) {
    std::weak_ptr<int> generation = generation_;
    const int current = *generation_;
    QTimer::singleShot(milliseconds, [this, call, generation, current] {
        const auto alive = generation.lock();
        if (alive && *alive == current)
            send(call);
    });
}

void RestClient::send(std::shared_ptr<Call> call) {
    std::weak_ptr<int> generation = generation_;
    const int current = *generation_;
    const auto live = [generation, current] {
        const auto alive = generation.lock();
        return alive && *alive == current;
    };
    session_.accessToken(false, [this, call, live](const platform::Result<QString>& token) {
        if (!live())
            return;
        if (!token) {
            call->failed(token.error());
            return;
        }
        auto http = client(call->base, *token);
        net::HTTPRequest request = http->requestWithMethod("POST", call->path);
        request.timeout = session_.config().timeout;
        call->fill(request);
        auto operation = net::JSONRequestOperation::create(
            std::move(request),
            [call, live](net::JSONRequestOperation&, const QVariant& json) {
                if (live())
                    call->done(json);
            },
            [this, call, live](net::JSONRequestOperation& op, const platform::Error& error,
                               const QVariant& json) {
                if (!live())
                    return;
                const auto response = op.response();
                const int status = response ? static_cast<int>(response->statusCode) : 0;
                const QVariantMap answer = json.toMap();
                if (status == 409 && call->conflict && call->conflict(answer))
                    return;
                if (status == 401 && !call->renewed) {
                    // expired_access_token: renewed once, then the same call again.
                    call->renewed = true;
                    session_.accessToken(true, [this, call, live](const platform::Result<QString>& renewed) {
                        if (!live())
                            return;
                        if (!renewed)
                            call->failed(renewed.error());
                        else
                            send(call);
                    });
                    return;
                }
                // A transfer that broke off (not an HTTP answer): a chunk is sent again, and the server's
                // answer (incorrect_offset) tells how much of it had arrived.
                const bool dropped = call->resend && error.domain != QLatin1String(net::kNetErrorDomain);
                if ((status == 429 || status >= 500 || dropped) && call->retries < maxRetries) {
                    ++call->retries;
                    int wait = static_cast<int>(session_.config().firstRetryWait.count())
                               << (call->retries - 1);
                    if (status == 429) {
                        bool ok = false;
                        const int seconds = QString::fromLatin1(response->header("Retry-After")).toInt(&ok);
                        wait = ok ? std::min(seconds, kMaxRetryAfterSeconds) * 1000 : wait;
                    } else if (dropped) {
                        wait = 0;
                    }
                    retryLater(call, wait);
                    return;
                }
                // Dropbox says what went wrong in error_summary; the HTTP layer's error says the rest.
                const QString summary = answer.value(QStringLiteral("error_summary")).toString();
                call->failed(
                    summary.isEmpty()
                        ? error
                        : platform::Error(
                              error.domain, error.code,
                              QStringLiteral("Dropbox: %1 (%2)").arg(summary, error.localizedDescription)));
            });
        if (call->progress)
            operation->setUploadProgressBlock([call, live](qint64, qint64 written, qint64 expected) {
                if (live())
                    call->progress(written, expected);
            });
        http->enqueueHTTPRequestOperation(operation);
    });
}

void RestClient::uploadFileChunk(const QString& uploadId, qint64 offset, const QString& path) {
    auto call = std::make_shared<Call>();
    call->base = session_.config().contentURL;
    call->resend = true;
    auto state =
        std::make_shared<std::pair<QString, qint64>>(uploadId, offset); // the session and where it is
    call->path = uploadId.isEmpty() ? QStringLiteral("/2/files/upload_session/start")
                                    : QStringLiteral("/2/files/upload_session/append_v2");
    const qint64 chunkSize = chunkSize_;
    call->fill = [state, path, chunkSize](net::HTTPRequest& request) {
        const qint64 size = QFileInfo(path).size();
        const qint64 length = std::max<qint64>(0, std::min(chunkSize, size - state->second));
        QVariantMap argument{{QStringLiteral("close"), false}};
        if (!state->first.isEmpty())
            argument.insert(QStringLiteral("cursor"),
                            QVariantMap{{QStringLiteral("session_id"), state->first},
                                        {QStringLiteral("offset"), state->second}});
        request.setHeader("Dropbox-API-Arg", jsonText(argument));
        request.setHeader("Content-Type", "application/octet-stream");
        auto device = std::make_shared<net::FileRangeDevice>(path, state->second, length);
        device->open(QIODevice::ReadOnly);
        request.bodyDevice = device;
        request.bodyLength = length;
    };
    call->progress = [this, path, state](qint64 written, qint64 expected) {
        delegate_->uploadFileChunkProgress(expected > 0 ? double(written) / double(expected) : 1.0, path,
                                           state->second);
    };
    call->done = [this, path, state, chunkSize](const QVariant& json) {
        const QString id = state->first.isEmpty()
                               ? json.toMap().value(QStringLiteral("session_id")).toString()
                               : state->first;
        const qint64 size = QFileInfo(path).size();
        delegate_->uploadedFileChunk(id, std::min(size, state->second + chunkSize), path);
    };
    call->conflict = [this, path, state](const QVariantMap& answer) {
        // Part of the chunk arrived before the connection dropped: go on from where the server is.
        if (!answer.value(QStringLiteral("error_summary"))
                 .toString()
                 .startsWith(QLatin1String("incorrect_offset/")))
            return false;
        const QVariant correct =
            answer.value(QStringLiteral("error")).toMap().value(QStringLiteral("correct_offset"));
        if (!correct.isValid())
            return false;
        delegate_->uploadedFileChunk(state->first, correct.toLongLong(), path);
        return true;
    };
    call->failed = [this](const platform::Error& error) { delegate_->uploadFileChunkFailed(error); };
    send(call);
}

void RestClient::uploadFile(const QString& name, const QString& folder, const QString& uploadId,
                            qint64 size) {
    auto call = std::make_shared<Call>();
    call->base = session_.config().contentURL;
    call->path = QStringLiteral("/2/files/upload_session/finish");
    const QString target = (folder.endsWith(u'/') ? folder : folder + u'/') + name;
    call->fill = [uploadId, size, target](net::HTTPRequest& request) {
        const QVariantMap argument{
            {QStringLiteral("cursor"),
             QVariantMap{{QStringLiteral("session_id"), uploadId}, {QStringLiteral("offset"), size}}},
            {QStringLiteral("commit"), QVariantMap{{QStringLiteral("path"), target},
                                                   {QStringLiteral("mode"), QStringLiteral("add")},
                                                   {QStringLiteral("autorename"), true},
                                                   {QStringLiteral("mute"), false}}}};
        request.setHeader("Dropbox-API-Arg", jsonText(argument));
        request.setHeader("Content-Type", "application/octet-stream");
        request.bodyDevice.reset();
        request.bodyLength = 0;
    };
    call->done = [this, uploadId](const QVariant& json) { delegate_->uploadedFile(uploadId, json.toMap()); };
    call->failed = [this](const platform::Error& error) { delegate_->uploadFromUploadIdFailed(error); };
    send(call);
}

void RestClient::loadSharableLink(const QString& path) {
    auto call = std::make_shared<Call>();
    call->base = session_.config().apiURL;
    call->path = QStringLiteral("/2/sharing/create_shared_link_with_settings");
    const auto jsonBody = [](net::HTTPRequest& request, const QVariantMap& body) {
        request.setHeader("Content-Type", "application/json");
        request.body = jsonText(body);
    };
    call->fill = [path, jsonBody](net::HTTPRequest& request) {
        jsonBody(request, {{QStringLiteral("path"), path},
                           {QStringLiteral("settings"), QVariantMap{{QStringLiteral("requested_visibility"),
                                                                     QStringLiteral("public")}}}});
    };
    call->done = [this, path](const QVariant& json) {
        delegate_->loadedSharableLink(json.toMap().value(QStringLiteral("url")).toString(), path);
    };
    call->failed = [this](const platform::Error& error) { delegate_->loadSharableLinkFailed(error); };
    call->conflict = [this, path, jsonBody](const QVariantMap& answer) {
        if (!answer.value(QStringLiteral("error_summary"))
                 .toString()
                 .startsWith(QLatin1String("shared_link_already_exists/")))
            return false;
        // The file has a link already: that one is the link.
        auto list = std::make_shared<Call>();
        list->base = session_.config().apiURL;
        list->path = QStringLiteral("/2/sharing/list_shared_links");
        list->fill = [path, jsonBody](net::HTTPRequest& request) {
            jsonBody(request, {{QStringLiteral("path"), path}, {QStringLiteral("direct_only"), true}});
        };
        list->done = [this, path](const QVariant& json) {
            const QVariantList links = json.toMap().value(QStringLiteral("links")).toList();
            if (links.isEmpty()) {
                delegate_->loadSharableLinkFailed(
                    platform::Error(QStringLiteral("DBErrorDomain"), 409,
                                    QStringLiteral("Dropbox has no link to %1").arg(path)));
                return;
            }
            delegate_->loadedSharableLink(links.first().toMap().value(QStringLiteral("url")).toString(),
                                          path);
        };
        list->failed = [this](const platform::Error& error) { delegate_->loadSharableLinkFailed(error); };
        send(list);
        return true;
    };
    send(call);
}

} // namespace qm::dropbox
