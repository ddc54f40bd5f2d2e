// dropbox_upload_bench BASE_URL ACCESS REFRESH CHUNK_MIB FILE: uploads FILE through DropboxUploader to a
// Dropbox server (the fake of tests/servers/dropbox serves API and content host alike) with the given
// tokens, in chunks of CHUNK_MIB MiB, and prints the link; exit 1 on failure. Everything runs as in the
// program: the upload session chunk by chunk from the file, the commit, the shared link.

#include "services/dropbox/dropbox_uploader.h"
#include "upload_bench.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 chunkMiB = argc == 6 ? QByteArray(argv[4]).toLongLong() : 0;
    if (argc != 6 || chunkMiB <= 0) {
        std::fprintf(stderr, "usage: dropbox_upload_bench BASE_URL ACCESS REFRESH CHUNK_MIB FILE\n");
        return 2;
    }
    using namespace qm;
    bench::BenchEnvironment bench;
    const QUrl base(QString::fromLocal8Bit(argv[1]));
    const dropbox::Config config{base, base, base, base, QStringLiteral("bench"), {}};
    upload::DropboxUploaderClass dropbox(bench.environment, config, chunkMiB << 20);
    net::OAuth2Credential credential(QString::fromLocal8Bit(argv[2]), QStringLiteral("bearer"));
    credential.setRefreshToken(QString::fromLocal8Bit(argv[3]),
                               QDateTime::currentDateTimeUtc().addSecs(3600));
    if (!dropbox.session().store(credential)) {
        std::fprintf(stderr, "the tokens could not be stored\n");
        return 1;
    }
    return bench::uploadPrintingLink(*dropbox.create(), QString::fromLocal8Bit(argv[5]));
}
