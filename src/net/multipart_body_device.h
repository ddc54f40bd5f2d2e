#pragma once

#include "net/multipart_form_data.h"
#include "platform/error.h"

#include <QFile>
#include <QIODevice>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>

namespace qm::net {

// The multipart body as a read-only sequential device, so the transport pulls it chunk by chunk:
// file contents are read straight into the caller's buffer and never held whole in memory.
// Opened unbuffered, so QIODevice adds no read-ahead of its own.
class MultipartBodyDevice : public QIODevice {
public:
    MultipartBodyDevice(QList<BodyPart> parts, QString boundary, QObject* parent = nullptr);
    ~MultipartBodyDevice() override;

    // Total bytes of the body, known before anything is read.
    static quint64 contentLength(const QList<BodyPart>& parts, const QString& boundary);

    void setPacketSize(qint64 packetSize) { packetSize_ = packetSize; }
    void setDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    // The failure of the content that ended the body early.
    const std::optional<platform::Error>& streamError() const { return streamError_; }

    bool isSequential() const override { return true; }
    bool open(OpenMode mode) override;
    // Starts over from the first byte, so a redirected or re-authenticated request can send the body
    // again; false once a part's stream that cannot seek has been read.
    bool reset() override;
    void close() override;
    qint64 size() const override;
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    enum class Phase { Head, Content, Tail };

    static QByteArray head(const BodyPart& part, const QString& boundary, bool initial);
    static QByteArray tail(const QString& boundary, bool final);
    void restart();
    qint64 readContent(const BodyPart& part, char* data, qint64 maxSize);
    qint64 readSource(QIODevice& source, char* data, qint64 maxSize, const QString& endedEarly);
    bool beginStream(PartStream& stream);
    void fail(const platform::Error& error);
    void advance();

    QList<BodyPart> parts_;
    QString boundary_;
    qint64 total_ = 0;
    qint64 packetSize_ = std::numeric_limits<qint64>::max();
    std::chrono::milliseconds delay_{0};

    qsizetype partIndex_ = 0;
    Phase phase_ = Phase::Head;
    QByteArray framing_; // head or tail bytes of the current part
    quint64 offset_ = 0; // within the current phase
    qint64 produced_ = 0;
    std::unique_ptr<QFile> file_;
    bool streamBegun_ = false;
    bool failed_ = false;
    std::optional<platform::Error> streamError_;
};

} // namespace qm::net
