// Uploads one file through GenericUploader, as an upload run would, and prints its link.
// Usage: generic_upload_bench SERVER-URL FILE USER PASSWORD
// The SSH host key is trusted on first use into a known_hosts file of this run only.

#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "services/generic/generic_uploader.h"
#include "upload_bench.h"

#include <QCoreApplication>

using namespace qm;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SERVER-URL FILE USER PASSWORD\n", argv[0]);
        return 2;
    }
    const QString user = QString::fromLocal8Bit(argv[3]);
    bench::BenchEnvironment bench;
    (void)bench.settings.setObject(QString::fromLocal8Bit(argv[1]), accounts::keys::genericServer);
    (void)bench.settings.setObject(user, accounts::keys::genericLogin);
    bench.credentials.setPassword(QString::fromLocal8Bit(argv[4]), QStringLiteral("Quillmoor (Generic)"),
                                  user);

    upload::FileTransfer::Options options;
    options.knownHostsFile = bench.folder.filePath(QStringLiteral("known_hosts"));
    options.recordUnknownHostKeys = true;
    const upload::GenericUploaderClass generic(
        bench.environment, platform::Bundle::locate().value_or(platform::Bundle(QString())), options);
    return bench::uploadPrintingLink(*generic.create(), QString::fromLocal8Bit(argv[2]));
}
