// Uploads one file through DroplrUploader, as an upload run would, and prints its link.
// Usage: droplr_upload_bench FILE EMAIL PASSWORD, with the service's key pair and URL in the environment
// (QUILLMOOR_DROPLR_KEY, QUILLMOOR_DROPLR_SECRET, QUILLMOOR_DROPLR_URL).

#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "services/droplr/droplr_uploader.h"
#include "upload_bench.h"

#include <QCoreApplication>

using namespace qm;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE EMAIL PASSWORD\n", argv[0]);
        return 2;
    }
    const QString email = QString::fromLocal8Bit(argv[2]);
    bench::BenchEnvironment bench;
    (void)bench.settings.setObject(email, accounts::keys::droplrEmail);
    bench.credentials.setPassword(QString::fromLocal8Bit(argv[3]), QStringLiteral("Quillmoor (Droplr)"),
                                  email);
    const upload::DroplrUploaderClass droplr(
        bench.environment, platform::Bundle::locate().value_or(platform::Bundle(QString())));
    return bench::uploadPrintingLink(*droplr.create(), QString::fromLocal8Bit(argv[1]));
}
