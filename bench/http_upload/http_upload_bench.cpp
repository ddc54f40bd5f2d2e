// Sends one file through the HTTP layer, as a PUT body or as a multipart file part, and reports
// time and bytes sent.
// Usage: http_upload_bench put|multipart URL FILE

#include "net/http_request_operation.h"
#include "net/multipart_body_device.h"
#include "net/multipart_form_data.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstring>

using namespace qm::net;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4 || (std::strcmp(argv[1], "put") != 0 && std::strcmp(argv[1], "multipart") != 0)) {
        std::fprintf(stderr, "usage: %s put|multipart URL FILE\n", argv[0]);
        return 2;
    }
    const bool multipart = std::strcmp(argv[1], "multipart") == 0;
    const QUrl url(QString::fromLocal8Bit(argv[2]));
    const QString file = QString::fromLocal8Bit(argv[3]);

    const auto start = std::chrono::steady_clock::now();
    HTTPRequest request(url, multipart ? "POST" : "PUT");
    if (multipart) {
        MultipartFormData form;
        if (const auto added = form.appendPartWithFileUrl(QUrl::fromLocalFile(file), QStringLiteral("file"));
            !added) {
            std::fprintf(stderr, "cannot add %s: %s\n", argv[3],
                         qPrintable(added.error().localizedDescription));
            return 1;
        }
        request.setHeader("Content-Type", form.contentType().toUtf8());
        request.bodyLength = qint64(form.contentLength());
        request.bodyDevice = form.createBodyDevice();
    } else {
        request.setHeader("Content-Type", "application/octet-stream");
        request.bodyDevice = std::make_shared<QFile>(file);
    }

    auto operation = HTTPRequestOperation::create(request);
    qint64 sent = 0;
    operation->setUploadProgressBlock([&](qint64, qint64 total, qint64) { sent = total; });
    int status = 1;
    operation->setCompletionBlockWithSuccess(
        [&](HTTPRequestOperation& op, const QVariant&) {
            std::fprintf(stderr, "%ld %s", op.response()->statusCode, op.responseData().constData());
            status = 0;
            QCoreApplication::exit(0);
        },
        [&](HTTPRequestOperation&, const qm::platform::Error& error) {
            std::fprintf(stderr, "failed: %s\n", qPrintable(error.localizedDescription));
            QCoreApplication::exit(1);
        });
    operation->start();
    app.exec();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double bytes = multipart ? double(request.bodyLength) : double(QFileInfo(file).size());
    std::printf("seconds %.3f bytes %.0f MiB/s %.1f progress-bytes %lld\n", elapsed.count(), bytes,
                bytes / (1 << 20) / elapsed.count(), static_cast<long long>(sent));
    return status;
}
