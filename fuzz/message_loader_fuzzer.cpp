#include "cli/message_loader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

// A message file is whatever arrived or was saved: any bytes load into a compose window or end with an
// error, and the attachments written stay inside their folder.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    const QString message = folder.filePath(QStringLiteral("message.eml"));
    const QString attachments = folder.filePath(QStringLiteral("attachments"));
    QDir(attachments).removeRecursively();
    QDir().mkpath(attachments);
    QFile file(message);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    (void)qm::cli::MessageLoader(attachments).load(message);
    return 0;
}
