#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>
#include <utility>

namespace qm::net {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// Header names compare without case; lists keep the order they were given in.
QByteArray headerValue(const HeaderList& headers, const QByteArray& name);
void setHeaderValue(HeaderList& headers, const QByteArray& name, const QByteArray& value);

// One request as a value. The body is either bytes or a device that is pulled chunk by chunk on the
// network thread, so a large upload never sits in memory; after `start` only that thread touches it.
struct HTTPRequest {
    QByteArray method = "GET";
    QUrl url;
    HeaderList headers;
    QByteArray body;
    std::shared_ptr<QIODevice> bodyDevice;
    // Bytes the device will give; negative: its size() when known, else sent chunked.
    qint64 bodyLength = -1;
    // Idle time after which the transfer fails, as a platform request's timeout interval does.
    std::chrono::milliseconds timeout{60000};

    HTTPRequest() = default;
    explicit HTTPRequest(QUrl u, QByteArray m = "GET")
        : method(std::move(m))
        , url(std::move(u)) {}

    QByteArray header(const QByteArray& name) const { return headerValue(headers, name); }
    void setHeader(const QByteArray& name, const QByteArray& value) { setHeaderValue(headers, name, value); }
    bool hasBody() const { return bodyDevice || !body.isEmpty(); }
};

struct HTTPResponse {
    long statusCode = 0;
    QUrl url; // after redirects
    HeaderList headers;

    QByteArray header(const QByteArray& name) const { return headerValue(headers, name); }
    // Content-Type without parameters, lower case; empty when absent.
    QString mimeType() const;
    // The charset parameter of Content-Type; empty when absent.
    QString textEncodingName() const;
};

} // namespace qm::net
