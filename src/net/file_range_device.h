#pragma once

#include <QFile>
#include <QIODevice>

namespace qm::net {

// `length` bytes of a file from `offset` on, as a device of their own: a chunk of a chunked upload or
// the rest of a resumable one. Reads go straight from the file into the caller's buffer, window by
// window, so a range of any size never sits in memory. Seekable within the range, so a redirect or an
// authentication retry can send it again. A file that ends before the range does is a read error.
class FileRangeDevice : public QIODevice {
public:
    FileRangeDevice(QString path, qint64 offset, qint64 length, QObject* parent = nullptr);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override { return length_; }
    bool seek(qint64 position) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    QFile file_;
    qint64 offset_;
    qint64 length_;
};

} // namespace qm::net
