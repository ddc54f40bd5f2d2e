#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <ostream>

namespace qm::test {

// Runs the event loop until `done` answers true or `timeoutMs` passes; returns whether it became true.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Processes pending events (queued calls, zero timers) without waiting for more.
void drainEvents();

// Writes `bytes` to `path`, creating folders on the way; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);

// Reads a whole (small) test file.
QByteArray readFile(const QString& path);

// A self-signed certificate for 127.0.0.1 (also as subject alternative name) and its key, made with
// openssl in `folder`; empty paths (and a failed test) when openssl fails.
struct Certificate {
    QString certificatePath;
    QString keyPath;
};
Certificate makeSelfSignedCertificate(const QString& folder);

// While it lives, no file of this process can grow past `bytes`: writes beyond fail as on a full disk
// (with EFBIG instead of ENOSPC), without a file system of its own.
class FileSizeLimit {
public:
    explicit FileSizeLimit(long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long previous_[2];
    void (*previousHandler_)(int);
};

} // namespace qm::test

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *os << '}';
}
