#include "net/file_range_device.h"

#include <algorithm>

namespace qm::net {

FileRangeDevice::FileRangeDevice(QString path, qint64 offset, qint64 length, QObject* parent)
    : QIODevice(parent)
    , file_(std::move(path))
    , offset_(offset)
    , length_(length) {}

bool FileRangeDevice::open(OpenMode mode) {
    if ((mode & WriteOnly) || !(mode & ReadOnly) || offset_ < 0 || length_ < 0)
        return false;
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file_.seek(offset_)) {
        setErrorString(file_.errorString());
        file_.close();
        return false;
    }
    // Unbuffered: QIODevice would otherwise read ahead a buffer of its own.
    return QIODevice::open(ReadOnly | Unbuffered);
}

void FileRangeDevice::close() {
    file_.close();
    QIODevice::close();
}

bool FileRangeDevice::seek(qint64 position) {
    if (position < 0 || position > length_ || !file_.seek(offset_ + position))
        return false;
    return QIODevice::seek(position);
}

qint64 FileRangeDevice::readData(char* data, qint64 maxSize) {
    const qint64 want = std::min(maxSize, length_ - pos());
    if (want <= 0)
        return 0;
    const qint64 got = file_.read(data, want);
    if (got <= 0) {
        setErrorString(
            got < 0 ? file_.errorString()
                    : QStringLiteral("The file ended before the range to be sent: %1").arg(file_.fileName()));
        return -1;
    }
    return got;
}

qint64 FileRangeDevice::writeData(const char*, qint64) {
    return -1;
}

} // namespace qm::net
