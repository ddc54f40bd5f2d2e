// box_upload_bench BASE_URL ACCESS REFRESH FOLDER FILE: uploads FILE through BoxUploader to a Box server
// (the fake of tests/servers/box) with the given tokens and folder, prints the link; exit 1 on failure.
// Everything runs as in the program: the token keeper, the listing, the streamed multipart upload, the link.

#include "accounts/settings_keys.h"
#include "platform/bundle.h"
#include "services/box/box_uploader.h"
#include "upload_bench.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: box_upload_bench BASE_URL ACCESS REFRESH FOLDER FILE\n");
        return 2;
    }
    using namespace qm;
    bench::BenchEnvironment bench;
    const QUrl base(QString::fromLocal8Bit(argv[1]));
    upload::BoxConfig config{base, base, base, base, QStringLiteral("bench"), QStringLiteral("bench")};
    upload::BoxUploaderClass box(bench.environment, platform::Bundle(bench.folder.path(), {}), config);
    net::OAuth2Credential credential(QString::fromLocal8Bit(argv[2]), QStringLiteral("bearer"));
    credential.setRefreshToken(QString::fromLocal8Bit(argv[3]),
                               QDateTime::currentDateTimeUtc().addSecs(3600));
    box.tokens().store(credential);
    (void)bench.settings.setObject(QString::fromLocal8Bit(argv[4]),
                                   QString::fromLatin1(accounts::keys::boxFolderId));
    return bench::uploadPrintingLink(*box.create(), QString::fromLocal8Bit(argv[5]));
}
