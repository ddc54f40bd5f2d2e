#include "net/multipart_body_device.h"

#include "net/net_error.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <thread>

namespace qm::net {

namespace {

const QByteArray kCrlf = QByteArrayLiteral("\r\n");
const QString kStreamReadTwice = QStringLiteral("The stream of a part cannot be read a second time.");

} // namespace

MultipartBodyDevice::MultipartBodyDevice(QList<BodyPart> parts, QString boundary, QObject* parent)
    : QIODevice(parent)
    , parts_(std::move(parts))
    , boundary_(std::move(boundary)) {
    total_ = qint64(contentLength(parts_, boundary_));
}

MultipartBodyDevice::~MultipartBodyDevice() = default;

QByteArray MultipartBodyDevice::head(const BodyPart& part, const QString& boundary, bool initial) {
    QByteArray bytes;
    if (!initial)
        bytes += kCrlf;
    bytes += "--" + boundary.toUtf8() + kCrlf;
    for (const auto& [name, value] : part.headers)
        bytes += (name + QStringLiteral(": ") + value).toUtf8() + kCrlf;
    bytes += kCrlf;
    return bytes;
}

QByteArray MultipartBodyDevice::tail(const QString& boundary, bool final) {
    return final ? kCrlf + "--" + boundary.toUtf8() + "--" + kCrlf : QByteArray();
}

quint64 MultipartBodyDevice::contentLength(const QList<BodyPart>& parts, const QString& boundary) {
    quint64 length = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        length += quint64(head(parts[i], boundary, i == 0).size()) + parts[i].bodyContentLength;
        length += quint64(tail(boundary, i == parts.size() - 1).size());
    }
    return length;
}

bool MultipartBodyDevice::open(OpenMode mode) {
    if ((mode & WriteOnly) || !(mode & ReadOnly))
        return false;
    restart();
    return QIODevice::open(ReadOnly | Unbuffered);
}

bool MultipartBodyDevice::reset() {
    if (!isOpen())
        return false;
    for (const BodyPart& part : parts_)
        if (part.isStream() && part.stream->consumed && part.stream->device->isSequential()) {
            fail(makeNetError(kStreamReadTwice));
            return false;
        }
    restart();
    return true;
}

void MultipartBodyDevice::restart() {
    file_.reset();
    streamBegun_ = false;
    partIndex_ = 0;
    offset_ = 0;
    produced_ = 0;
    failed_ = false;
    streamError_.reset();
    phase_ = Phase::Head;
    framing_ = parts_.isEmpty() ? QByteArray() : head(parts_.first(), boundary_, true);
}

void MultipartBodyDevice::close() {
    file_.reset();
    QIODevice::close();
}

qint64 MultipartBodyDevice::size() const {
    return total_;
}

qint64 MultipartBodyDevice::bytesAvailable() const {
    if (!isOpen() || failed_)
        return 0;
    return total_ - produced_ + QIODevice::bytesAvailable();
}

void MultipartBodyDevice::fail(const platform::Error& error) {
    failed_ = true;
    streamError_ = error;
    file_.reset();
    setErrorString(error.localizedDescription);
}

void MultipartBodyDevice::advance() {
    offset_ = 0;
    const bool last = partIndex_ == parts_.size() - 1;
    switch (phase_) {
    case Phase::Head:
        phase_ = Phase::Content;
        break;
    case Phase::Content:
        file_.reset();
        streamBegun_ = false;
        phase_ = Phase::Tail;
        framing_ = tail(boundary_, last);
        break;
    case Phase::Tail:
        ++partIndex_;
        phase_ = Phase::Head;
        framing_ = partIndex_ < parts_.size() ? head(parts_[partIndex_], boundary_, false) : QByteArray();
        break;
    }
}

qint64 MultipartBodyDevice::readContent(const BodyPart& part, char* data, qint64 maxSize) {
    const qint64 want = std::min<qint64>(maxSize, qint64(part.bodyContentLength - offset_));
    if (part.isStream()) {
        if (!streamBegun_ && !beginStream(*part.stream))
            return -1;
        streamBegun_ = true;
        return readSource(*part.stream->device, data, want,
                          QStringLiteral("The stream ended before the length given for its part."));
    }
    if (!part.isFile()) {
        std::memcpy(data, part.data.constData() + offset_, size_t(want));
        return want;
    }
    // A file deleted while open stays readable on POSIX; checking the path keeps "vanished" an error.
    if (!QFileInfo::exists(part.filePath)) {
        fail(makeNetError(QStringLiteral("File URL not reachable.")));
        return -1;
    }
    if (!file_) {
        file_ = std::make_unique<QFile>(part.filePath);
        if (!file_->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            fail(makeNetError(QStringLiteral("File URL not reachable.")));
            return -1;
        }
    }
    return readSource(*file_, data, want, QStringLiteral("The file became shorter while it was being read."));
}

qint64 MultipartBodyDevice::readSource(QIODevice& source, char* data, qint64 maxSize,
                                       const QString& endedEarly) {
    const qint64 got = source.read(data, maxSize);
    if (got <= 0) {
        fail(makeNetError(got < 0 ? source.errorString() : endedEarly));
        return -1;
    }
    return got;
}

bool MultipartBodyDevice::beginStream(PartStream& stream) {
    QIODevice& device = *stream.device;
    if (!device.isOpen() && !device.open(QIODevice::ReadOnly)) {
        fail(makeNetError(device.errorString()));
        return false;
    }
    if (device.isSequential() && stream.consumed) {
        fail(makeNetError(kStreamReadTwice));
        return false;
    }
    if (!device.isSequential() && !device.seek(stream.start)) {
        fail(makeNetError(device.errorString()));
        return false;
    }
    stream.consumed = true;
    return true;
}

qint64 MultipartBodyDevice::readData(char* data, qint64 maxSize) {
    if (failed_)
        return -1;
    const qint64 limit = std::min(maxSize, packetSize_);
    qint64 done = 0;
    while (done < limit && partIndex_ < parts_.size()) {
        const BodyPart& part = parts_[partIndex_];
        const quint64 phaseLength =
            phase_ == Phase::Content ? part.bodyContentLength : quint64(framing_.size());
        if (offset_ >= phaseLength) {
            advance();
            continue;
        }
        qint64 got = 0;
        if (phase_ == Phase::Content) {
            got = readContent(part, data + done, limit - done);
            if (got < 0)
                break;
        } else {
            got = std::min<qint64>(limit - done, qint64(phaseLength - offset_));
            std::memcpy(data + done, framing_.constData() + offset_, size_t(got));
        }
        offset_ += quint64(got);
        done += got;
    }
    produced_ += done;
    if (done > 0 && delay_.count() > 0)
        std::this_thread::sleep_for(delay_);
    if (failed_ && done == 0)
        return -1;
    return done;
}

qint64 MultipartBodyDevice::writeData(const char*, qint64) {
    return -1;
}

} // namespace qm::net
