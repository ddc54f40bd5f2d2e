#pragma once

#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace qm::test {

// A caller's stream that cannot seek: gives `data` and, with `failAfter` >= 0, fails with `error` once
// that many bytes have been read.
class SequentialStream : public QIODevice {
public:
    explicit SequentialStream(QByteArray data, qint64 failAfter = -1, QString error = {})
        : data_(std::move(data))
        , failAfter_(failAfter)
        , error_(std::move(error)) {}

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return data_.size() - offset_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* out, qint64 maxSize) override {
        if (failAfter_ >= 0 && offset_ >= failAfter_) {
            setErrorString(error_);
            return -1;
        }
        qint64 n = std::min(maxSize, data_.size() - offset_);
        if (failAfter_ >= 0)
            n = std::min(n, failAfter_ - offset_);
        std::memcpy(out, data_.constData() + offset_, size_t(n));
        offset_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 failAfter_;
    QString error_;
    qint64 offset_ = 0;
};

} // namespace qm::test
