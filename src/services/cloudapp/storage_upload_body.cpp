#include "services/cloudapp/storage_upload_body.h"

#include "net/file_range_device.h"

#include <QBuffer>
#include <QFileInfo>
#include <cstring>

namespace qm::cloudapp {

UploadSource UploadSource::fromData(QString fileName, QByteArray data) {
    UploadSource source;
    source.fileName = std::move(fileName);
    source.size = data.size();
    source.data = std::move(data);
    return source;
}

UploadSource UploadSource::fromFile(QString fileName, QString path) {
    UploadSource source;
    source.fileName = std::move(fileName);
    const QFileInfo info(path);
    source.size = info.isFile() && info.isReadable() ? info.size() : -1;
    source.path = std::move(path);
    return source;
}

StorageUploadBody::StorageUploadBody(QByteArray head, UploadSource source, QByteArray tail, QObject* parent)
    : QIODevice(parent)
    , head_(std::move(head))
    , source_(std::move(source))
    , tail_(std::move(tail)) {}

StorageUploadBody::~StorageUploadBody() = default;

bool StorageUploadBody::open(OpenMode mode) {
    if (mode != QIODevice::ReadOnly && mode != (QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    if (source_.path.isEmpty())
        content_ = std::make_unique<QBuffer>(&source_.data);
    else
        content_ = std::make_unique<net::FileRangeDevice>(source_.path, 0, source_.size);
    if (!content_->open(QIODevice::ReadOnly)) {
        setErrorString(content_->errorString());
        content_.reset();
        return false;
    }
    position_ = 0;
    // Unbuffered: QIODevice's own read-ahead would only copy the file a second time.
    return QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void StorageUploadBody::close() {
    content_.reset();
    QIODevice::close();
}

qint64 StorageUploadBody::size() const {
    return head_.size() + source_.size + tail_.size();
}

bool StorageUploadBody::seek(qint64 position) {
    if (!content_ || position < 0 || position > size())
        return false;
    position_ = position;
    const qint64 within = std::clamp<qint64>(position - head_.size(), 0, source_.size);
    return content_->seek(within) && QIODevice::seek(position);
}

qint64 StorageUploadBody::readData(char* data, qint64 maxSize) {
    qint64 written = 0;
    while (written < maxSize && position_ < size()) {
        const qint64 contentEnd = head_.size() + source_.size;
        qint64 got = 0;
        if (position_ < head_.size()) {
            got = std::min(maxSize - written, head_.size() - position_);
            std::memcpy(data + written, head_.constData() + position_, size_t(got));
        } else if (position_ < contentEnd) {
            got = content_->read(data + written, std::min(maxSize - written, contentEnd - position_));
            if (got <= 0) {
                setErrorString(
                    got < 0
                        ? content_->errorString()
                        : QStringLiteral("The file %1 became shorter while it was sent.").arg(source_.path));
                return -1;
            }
        } else {
            got = std::min(maxSize - written, size() - position_);
            std::memcpy(data + written, tail_.constData() + (position_ - contentEnd), size_t(got));
        }
        written += got;
        position_ += got;
    }
    return written;
}

qint64 StorageUploadBody::writeData(const char*, qint64) {
    return -1;
}

} // namespace qm::cloudapp
