#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <memory>

namespace qm::cloudapp {

// What an upload sends: bytes held by the caller, or a file read window by window as it goes out.
struct UploadSource {
    QString fileName;
    QByteArray data;
    QString path; // when set, the file's bytes are sent instead of `data`
    qint64 size = 0;

    static UploadSource fromData(QString fileName, QByteArray data);
    // The size is the file's at this moment; a file that cannot be read has size -1.
    static UploadSource fromFile(QString fileName, QString path);
};

// The storage upload's multipart body: text parts held as bytes and the one file part, whose content is
// pulled from the source as the transport reads, so a file of any size never sits in memory. Seekable,
// so a redirect or an authentication retry can send it again.
class StorageUploadBody final : public QIODevice {
public:
    StorageUploadBody(QByteArray head, UploadSource source, QByteArray tail, QObject* parent = nullptr);
    ~StorageUploadBody() override;

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 position) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    QByteArray head_;
    UploadSource source_;
    QByteArray tail_;
    std::unique_ptr<QIODevice> content_;
    qint64 position_ = 0;
};

} // namespace qm::cloudapp
