#pragma once

#include "platform/error.h"
#include "platform/result.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <chrono>
#include <memory>
#include <utility>

namespace qm::net {

class MultipartBodyDevice;

using PartHeaderList = QList<std::pair<QString, QString>>;

// A caller's stream as the content of a part. Every copy of the part shares it, so a body that reads it
// again knows whether a stream that cannot seek was already consumed.
struct PartStream {
    std::shared_ptr<QIODevice> device;
    qint64 start = 0; // where the content begins in a seekable stream
    bool consumed = false;
};

// One form-data part. Its content is held in memory, or read while the body is sent from the file at
// filePath or from the caller's stream.
struct BodyPart {
    PartHeaderList headers;
    QByteArray data;
    QString filePath;
    std::shared_ptr<PartStream> stream;
    quint64 bodyContentLength = 0;

    bool isFile() const { return !filePath.isNull(); }
    bool isStream() const { return stream != nullptr; }
};

// Collects the parts of one multipart body under one random boundary: multipart/form-data unless another
// media type is set (multipart/related for a metadata part followed by the content of a file).
class MultipartFormData {
public:
    MultipartFormData();
    explicit MultipartFormData(QString boundary);

    const QString& mediaType() const { return mediaType_; }
    void setMediaType(QString mediaType) { mediaType_ = std::move(mediaType); }

    // "Boundary+" and 16 upper-case hex digits from two independent random 32-bit numbers.
    static QString createBoundary();

    const QString& boundary() const { return boundary_; }
    const QList<BodyPart>& parts() const { return parts_; }
    bool isEmpty() const { return parts_.isEmpty(); }

    // Missing (null) names, file names or MIME types throw platform::InvalidArgument.
    void appendPartWithFileData(const QByteArray& data, const QString& name, const QString& fileName,
                                const QString& mimeType);
    void appendPartWithFormData(const QByteArray& data, const QString& name);
    void appendPartWithHeaders(PartHeaderList headers, const QByteArray& body);
    // A part of any headers whose `length` bytes come from `stream` while the body is sent (a file range
    // device for a chunk of a file); the same once-only rule as below for a stream that cannot seek.
    void appendPartWithHeaders(PartHeaderList headers, std::shared_ptr<QIODevice> stream, quint64 length);
    platform::Result<void> appendPartWithFileUrl(const QUrl& fileUrl, const QString& name);
    platform::Result<void> appendPartWithFileUrl(const QUrl& fileUrl, const QString& name,
                                                 const QString& fileName, const QString& mimeType);
    // `length` bytes of `stream`, read from its current position while the body is sent. A stream that
    // cannot seek can be sent once only; a body that must start over (redirect, authentication) then fails.
    void appendPartWithInputStream(std::shared_ptr<QIODevice> stream, const QString& name,
                                   const QString& fileName, quint64 length, const QString& mimeType);
    // One form-data part per flattened pair, names unescaped: bytes as they are, no value as empty.
    void appendFormParameters(const QVariant& parameters);

    void throttleBandwidth(qint64 packetSize, std::chrono::milliseconds delay);

    QString contentType() const;
    quint64 contentLength() const;
    // A fresh device each time, so a retried transfer can read the body again; null without parts.
    std::unique_ptr<MultipartBodyDevice> createBodyDevice() const;

private:
    QString boundary_;
    QString mediaType_ = QStringLiteral("multipart/form-data");
    QList<BodyPart> parts_;
    qint64 packetSize_ = 0;
    std::chrono::milliseconds delay_{0};
};

} // namespace qm::net
