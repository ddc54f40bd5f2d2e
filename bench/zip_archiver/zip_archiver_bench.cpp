// Archives one folder with ZipArchiver and reports the time taken and the archive's size.
// Usage: zip_archiver_bench SOURCE ARCHIVE [--keep-parent]

#include "platform/zip_archiver.h"

#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SOURCE ARCHIVE [--keep-parent]\n", argv[0]);
        return 2;
    }
    qm::platform::ZipOptions options;
    options.keepParent = argc > 3 && std::strcmp(argv[3], "--keep-parent") == 0;
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString archive = QString::fromLocal8Bit(argv[2]);

    const auto start = std::chrono::steady_clock::now();
    const auto zipped = qm::platform::ZipArchiver::archive(source, archive, options);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!zipped) {
        const auto& error = zipped.error();
        std::fprintf(stderr, "%s (%d): %s\n", qPrintable(error.domain), error.code,
                     qPrintable(error.localizedDescription));
        return 1;
    }
    std::printf("seconds %.3f bytes %lld\n", elapsed.count(), QFileInfo(archive).size());
    return 0;
}
