#include "net/multipart_form_data.h"

#include "net/mime_type.h"
#include "net/multipart_body_device.h"
#include "net/net_error.h"
#include "net/query_string.h"

#include <QFileInfo>
#include <QRandomGenerator>

namespace qm::net {

namespace {

void require(bool condition, const char* conditionText) {
    if (!condition)
        throw platform::InvalidArgument(
            QStringLiteral("Invalid parameter not satisfying: %1").arg(QString::fromLatin1(conditionText)));
}

PartHeaderList fileHeaders(const QString& name, const QString& fileName, const QString& mimeType) {
    require(!name.isNull(), "name");
    require(!fileName.isNull(), "fileName");
    require(!mimeType.isNull(), "mimeType");
    return {{QStringLiteral("Content-Disposition"),
             QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"").arg(name, fileName)},
            {QStringLiteral("Content-Type"), mimeType}};
}

} // namespace

MultipartFormData::MultipartFormData()
    : boundary_(createBoundary()) {}

MultipartFormData::MultipartFormData(QString boundary)
    : boundary_(std::move(boundary)) {}

QString MultipartFormData::createBoundary() {
    QRandomGenerator* random = QRandomGenerator::system();
    const quint32 high = random->generate();
    const quint32 low = random->generate();
    return QString::asprintf("Boundary+%08X%08X", high, low);
}

void MultipartFormData::appendPartWithFileData(const QByteArray& data, const QString& name,
                                               const QString& fileName, const QString& mimeType) {
    appendPartWithHeaders(fileHeaders(name, fileName, mimeType), data);
}

void MultipartFormData::appendPartWithFormData(const QByteArray& data, const QString& name) {
    require(!name.isNull(), "name");
    appendPartWithHeaders(
        {{QStringLiteral("Content-Disposition"), QStringLiteral("form-data; name=\"%1\"").arg(name)}}, data);
}

void MultipartFormData::appendPartWithHeaders(PartHeaderList headers, const QByteArray& body) {
    BodyPart part;
    part.headers = std::move(headers);
    part.data = body;
    part.bodyContentLength = quint64(body.size());
    parts_.append(std::move(part));
}

platform::Result<void> MultipartFormData::appendPartWithFileUrl(const QUrl& fileUrl, const QString& name) {
    const QString fileName = fileUrl.fileName();
    return appendPartWithFileUrl(fileUrl, name, fileName, mimeTypeForPathExtension(fileName));
}

platform::Result<void> MultipartFormData::appendPartWithFileUrl(const QUrl& fileUrl, const QString& name,
                                                                const QString& fileName,
                                                                const QString& mimeType) {
    require(fileUrl.isValid(), "fileURL");
    PartHeaderList headers = fileHeaders(name, fileName, mimeType);
    if (!fileUrl.isLocalFile())
        return makeNetError(QStringLiteral("Expected URL to be a file URL"));
    const QFileInfo info(fileUrl.toLocalFile());
    if (!info.isFile() || !info.isReadable())
        return makeNetError(QStringLiteral("File URL not reachable."));
    BodyPart part;
    part.headers = std::move(headers);
    part.filePath = info.absoluteFilePath();
    part.bodyContentLength = quint64(info.size());
    parts_.append(std::move(part));
    return {};
}

void MultipartFormData::appendPartWithInputStream(std::shared_ptr<QIODevice> stream, const QString& name,
                                                  const QString& fileName, quint64 length,
                                                  const QString& mimeType) {
    appendPartWithHeaders(fileHeaders(name, fileName, mimeType), std::move(stream), length);
}

void MultipartFormData::appendPartWithHeaders(PartHeaderList headers, std::shared_ptr<QIODevice> stream,
                                              quint64 length) {
    require(stream != nullptr, "inputStream");
    BodyPart part;
    part.headers = std::move(headers);
    part.stream = std::make_shared<PartStream>();
    part.stream->start = stream->isOpen() && !stream->isSequential() ? stream->pos() : 0;
    part.stream->device = std::move(stream);
    part.bodyContentLength = length;
    parts_.append(std::move(part));
}

void MultipartFormData::appendFormParameters(const QVariant& parameters) {
    for (const QueryStringPair& pair : queryStringPairsFromDictionary(parameters)) {
        QByteArray data;
        if (pair.value().typeId() == QMetaType::QByteArray)
            data = pair.value().toByteArray();
        else if (pair.hasValue())
            data = pair.valueText().toUtf8();
        appendPartWithFormData(data, pair.fieldText());
    }
}

void MultipartFormData::throttleBandwidth(qint64 packetSize, std::chrono::milliseconds delay) {
    packetSize_ = packetSize;
    delay_ = delay;
}

QString MultipartFormData::contentType() const {
    return QStringLiteral("%1; boundary=%2").arg(mediaType_, boundary_);
}

quint64 MultipartFormData::contentLength() const {
    return MultipartBodyDevice::contentLength(parts_, boundary_);
}

std::unique_ptr<MultipartBodyDevice> MultipartFormData::createBodyDevice() const {
    if (parts_.isEmpty())
        return nullptr;
    auto device = std::make_unique<MultipartBodyDevice>(parts_, boundary_);
    if (packetSize_ > 0)
        device->setPacketSize(packetSize_);
    device->setDelay(delay_);
    return device;
}

} // namespace qm::net
