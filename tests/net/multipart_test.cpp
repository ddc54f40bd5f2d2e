#include "net/mime_type.h"
#include "net/multipart_body_device.h"
#include "net/multipart_form_data.h"
#include "sequential_stream.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace qm::net;
using qm::platform::Error;
using qm::test::SequentialStream;

namespace {

const QString kBoundary = QStringLiteral("Boundary+0123456789ABCDEF");

struct ParsedPart {
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// Independent reader of the layout: opening delimiter, parts split at encapsulation boundaries,
// header block up to the empty line, close delimiter.
std::optional<QList<ParsedPart>> parseMultipart(const QByteArray& bytes, const QString& boundary) {
    const QByteArray b = boundary.toUtf8();
    const QByteArray open = "--" + b + "\r\n", close = "\r\n--" + b + "--\r\n",
                     between = "\r\n--" + b + "\r\n";
    if (!bytes.startsWith(open) || !bytes.endsWith(close))
        return std::nullopt;
    const QByteArray inner = bytes.mid(open.size(), bytes.size() - open.size() - close.size());
    QList<ParsedPart> parts;
    qsizetype from = 0;
    while (true) {
        const qsizetype next = inner.indexOf(between, from);
        const QByteArray segment = inner.mid(from, next < 0 ? -1 : next - from);
        const qsizetype blank = segment.indexOf("\r\n\r\n");
        if (blank < 0)
            return std::nullopt;
        ParsedPart part;
        for (const QByteArray& line : segment.left(blank).split('\n')) {
            const QByteArray trimmed = line.endsWith('\r') ? line.chopped(1) : line;
            const qsizetype colon = trimmed.indexOf(": ");
            if (colon <= 0)
                return std::nullopt;
            part.headers.append({trimmed.left(colon), trimmed.mid(colon + 2)});
        }
        part.body = segment.mid(blank + 4);
        parts.append(part);
        if (next < 0)
            break;
        from = next + between.size();
    }
    return parts;
}

QByteArray readAllOf(MultipartBodyDevice& device) {
    EXPECT_TRUE(device.open(QIODevice::ReadOnly));
    return device.readAll();
}

QByteArray bodyOf(const MultipartFormData& form) {
    auto device = form.createBodyDevice();
    return device ? readAllOf(*device) : QByteArray();
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

} // namespace

TEST(Multipart, ExactLayoutOfFormAndFilePart) {
    MultipartFormData form(kBoundary);
    form.appendPartWithFormData("1", "a");
    form.appendPartWithFileData("hi", "f", "x.txt", "text/plain");
    const QByteArray expected = "--Boundary+0123456789ABCDEF\r\n"
                                "Content-Disposition: form-data; name=\"a\"\r\n\r\n1"
                                "\r\n--Boundary+0123456789ABCDEF\r\n"
                                "Content-Disposition: form-data; name=\"f\"; filename=\"x.txt\"\r\n"
                                "Content-Type: text/plain\r\n\r\nhi"
                                "\r\n--Boundary+0123456789ABCDEF--\r\n";
    EXPECT_EQ(bodyOf(form), expected);
    EXPECT_EQ(form.contentLength(), quint64(expected.size()));
    EXPECT_EQ(form.createBodyDevice()->size(), expected.size());
    EXPECT_EQ(form.contentType(), "multipart/form-data; boundary=Boundary+0123456789ABCDEF");
}

TEST(Multipart, FreshRandomBoundaryPerBody) {
    const QRegularExpression shape(QStringLiteral("^Boundary\\+[0-9A-F]{16}$"));
    const MultipartFormData one, two;
    EXPECT_TRUE(shape.match(one.boundary()).hasMatch()) << one.boundary().toStdString();
    EXPECT_NE(one.boundary(), two.boundary());
}

TEST(Multipart, NoPartsMeansNoBody) {
    MultipartFormData form;
    EXPECT_TRUE(form.isEmpty());
    EXPECT_EQ(form.createBodyDevice(), nullptr);
}

TEST(Multipart, ParametersBecomeFormPartsUnescapedInPairOrder) {
    MultipartFormData form(kBoundary);
    form.appendFormParameters(QVariantMap{{"b", "x y&z"},
                                          {"A", QVariantMap{{"k", QVariantList{1, 2}}}},
                                          {"n", QVariant::fromValue(nullptr)},
                                          {"raw", QByteArray("\r\n\0\x01", 4)}});
    form.appendPartWithFileData(QByteArray(), "empty", QString::fromUtf8("naïve \"q\".bin"), "a/b");
    const QByteArray bytes = bodyOf(form);
    EXPECT_EQ(quint64(bytes.size()), form.contentLength());
    const auto parts = parseMultipart(bytes, kBoundary);
    ASSERT_TRUE(parts.has_value());
    ASSERT_EQ(parts->size(), 6);
    const QList<QByteArray> names{"A[k][]", "A[k][]", "b", "n", "raw"};
    const QList<QByteArray> bodies{"1", "2", "x y&z", "", QByteArray("\r\n\0\x01", 4)};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ((*parts)[i].headers.size(), 1);
        EXPECT_EQ((*parts)[i].headers[0].first, "Content-Disposition");
        EXPECT_EQ((*parts)[i].headers[0].second, "form-data; name=\"" + names[i] + "\"");
        EXPECT_EQ((*parts)[i].body, bodies[i]);
    }
    EXPECT_EQ((*parts)[5].headers[0].second,
              QString::fromUtf8("form-data; name=\"empty\"; filename=\"naïve \"q\".bin\"").toUtf8());
    EXPECT_EQ((*parts)[5].headers[1], std::make_pair(QByteArray("Content-Type"), QByteArray("a/b")));
}

TEST(Multipart, MissingArgumentsAreRefused) {
    MultipartFormData form;
    try {
        form.appendPartWithFormData("x", QString());
        FAIL() << "expected InvalidArgument";
    } catch (const qm::platform::InvalidArgument& e) {
        EXPECT_EQ(e.reason(), "Invalid parameter not satisfying: name");
    }
    EXPECT_THROW(form.appendPartWithFileData("x", "f", "n", QString()), qm::platform::InvalidArgument);
    EXPECT_TRUE(form.isEmpty());
}

TEST(Multipart, MimeTypeByExtension) {
    EXPECT_EQ(mimeTypeForPathExtension("/tmp/x.txt"), "text/plain");
    EXPECT_EQ(mimeTypeForPathExtension("photo.JPG"), "image/jpeg");
    EXPECT_EQ(mimeTypeForPathExtension("/tmp/README"), "application/octet-stream");
    EXPECT_EQ(mimeTypeForPathExtension("/tmp/a.qmunknownext"), "application/octet-stream");
}

TEST(Multipart, FileUrlPartTakesNameAndTypeFromPath) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, "notes.txt", "file content");
    MultipartFormData form(kBoundary);
    ASSERT_TRUE(form.appendPartWithFileUrl(QUrl::fromLocalFile(path), "upload"));
    EXPECT_EQ(form.parts().first().bodyContentLength, 12u);
    const QByteArray bytes = bodyOf(form);
    EXPECT_EQ(quint64(bytes.size()), form.contentLength());
    const auto parts = parseMultipart(bytes, kBoundary);
    ASSERT_TRUE(parts.has_value());
    ASSERT_EQ(parts->size(), 1);
    EXPECT_EQ((*parts)[0].headers[0].second, "form-data; name=\"upload\"; filename=\"notes.txt\"");
    EXPECT_EQ((*parts)[0].headers[1].second, "text/plain");
    EXPECT_EQ((*parts)[0].body, "file content");
}

TEST(Multipart, FileUrlErrors) {
    QTemporaryDir dir;
    MultipartFormData form;
    auto added = form.appendPartWithFileUrl(QUrl("https://example.com/a.txt"), "f");
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().domain, "QMNetErrorDomain");
    EXPECT_EQ(added.error().code, -1000);
    EXPECT_EQ(added.error().localizedDescription, "Expected URL to be a file URL");
    added = form.appendPartWithFileUrl(QUrl::fromLocalFile(dir.filePath("missing.txt")), "f");
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().localizedDescription, "File URL not reachable.");
    EXPECT_EQ(added.error().code, -1000);
    EXPECT_FALSE(form.appendPartWithFileUrl(QUrl::fromLocalFile(dir.path()), "f"));
    EXPECT_TRUE(form.isEmpty());
}

TEST(Multipart, LargeFileIsStreamedInWindows) {
    QTemporaryDir dir;
    const QString path = dir.filePath("big.bin");
    const qint64 fileSize = 20 * 1024 * 1024;
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(fileSize)); // sparse
        file.seek(10 * 1024 * 1024);
        file.write("MIDDLE");
        file.seek(fileSize - 3);
        file.write("END");
    }
    MultipartFormData form(kBoundary);
    form.appendPartWithFormData("v", "first");
    ASSERT_TRUE(
        form.appendPartWithFileUrl(QUrl::fromLocalFile(path), "file", "big.bin", "application/x-test"));
    auto device = form.createBodyDevice();
    ASSERT_TRUE(device->open(QIODevice::ReadOnly));
    EXPECT_EQ(quint64(device->size()), form.contentLength());

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    QByteArray chunk(64 * 1024, '\0');
    QByteArray head, tail;
    qint64 total = 0, fileMarkers = 0;
    while (true) {
        const qint64 n = device->read(chunk.data(), chunk.size());
        ASSERT_GE(n, 0);
        if (n == 0)
            break;
        // Views, not copies: the measure is the body's memory, not this loop's.
        const QByteArrayView piece(chunk.constData(), n);
        if (head.size() < 4096)
            head += piece.first(std::min<qint64>(n, 4096));
        tail = (tail + piece.last(std::min<qint64>(n, 128)).toByteArray()).right(128);
        fileMarkers += piece.count("MIDDLE");
        total += n;
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_TRUE(device->atEnd());
    EXPECT_EQ(total, device->size());
    EXPECT_EQ(fileMarkers, 1);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024); // KiB: never the whole 20 MiB
    EXPECT_TRUE(head.startsWith("--Boundary+0123456789ABCDEF\r\n"));
    EXPECT_TRUE(head.contains("\r\nContent-Type: application/x-test\r\n\r\n"));
    EXPECT_TRUE(tail.endsWith("END\r\n--Boundary+0123456789ABCDEF--\r\n"));
    EXPECT_FALSE(device->streamError().has_value());
}

TEST(Multipart, PacketSizeLimitsEachRead) {
    MultipartFormData form(kBoundary);
    form.appendPartWithFormData(QByteArray(1000, 'x'), "a");
    form.throttleBandwidth(100, std::chrono::milliseconds(0));
    auto device = form.createBodyDevice();
    ASSERT_TRUE(device->open(QIODevice::ReadOnly));
    char buffer[4096];
    qint64 total = 0;
    while (qint64 n = device->read(buffer, sizeof buffer)) {
        ASSERT_GT(n, 0);
        EXPECT_LE(n, 100);
        total += n;
    }
    EXPECT_EQ(quint64(total), form.contentLength());
}

TEST(Multipart, DevicesReadTheSameBytesAgain) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, "a.bin", "abc");
    MultipartFormData form(kBoundary);
    form.appendPartWithFormData("1", "x");
    ASSERT_TRUE(form.appendPartWithFileUrl(QUrl::fromLocalFile(path), "f"));
    const QByteArray first = bodyOf(form);
    EXPECT_EQ(bodyOf(form), first);
    auto device = form.createBodyDevice();
    EXPECT_EQ(readAllOf(*device), first);
    device->close();
    EXPECT_EQ(readAllOf(*device), first); // reopening starts over
}

namespace {

// Reads 64 KiB, lets `change` alter the file, then reads on until the device stops.
void expectReadErrorAfter(const std::function<void(const QString&)>& change) {
    QTemporaryDir dir;
    const QString path = writeFile(dir, "f.bin", QByteArray(1024 * 1024, 'z'));
    MultipartFormData form(kBoundary);
    ASSERT_TRUE(form.appendPartWithFileUrl(QUrl::fromLocalFile(path), "f"));
    auto device = form.createBodyDevice();
    ASSERT_TRUE(device->open(QIODevice::ReadOnly));
    QByteArray chunk(64 * 1024, '\0');
    qint64 total = device->read(chunk.data(), chunk.size());
    ASSERT_EQ(total, chunk.size());
    change(path);
    qint64 n = 0;
    while ((n = device->read(chunk.data(), chunk.size())) > 0)
        total += n;
    EXPECT_EQ(n, -1);
    EXPECT_LT(total, device->size());
    ASSERT_TRUE(device->streamError().has_value());
    EXPECT_EQ(device->streamError()->domain, "QMNetErrorDomain");
    EXPECT_FALSE(device->errorString().isEmpty());
    EXPECT_EQ(device->read(chunk.data(), chunk.size()), -1);
}

} // namespace

TEST(Multipart, FileShrinkingDuringReadIsAReadError) {
    expectReadErrorAfter([](const QString& path) { ASSERT_TRUE(QFile::resize(path, 100 * 1024)); });
}

TEST(Multipart, FileVanishingDuringReadIsAReadError) {
    expectReadErrorAfter([](const QString& path) { ASSERT_TRUE(QFile::remove(path)); });
}

TEST(Multipart, InputStreamPartsCarryFileHeadersAndTheStreamFromItsPosition) {
    auto seekable = std::make_shared<QBuffer>();
    seekable->setData("skip:seekable content");
    ASSERT_TRUE(seekable->open(QIODevice::ReadOnly));
    seekable->seek(5);
    MultipartFormData form(kBoundary);
    form.appendPartWithFormData("1", "a");
    form.appendPartWithInputStream(seekable, "s", "s.txt", 16, "text/plain");
    form.appendPartWithInputStream(std::make_shared<SequentialStream>(QByteArray("\r\npiped\0", 8)), "p",
                                   QString::fromUtf8("pïpe.bin"), 8, "application/x-pipe");
    const QByteArray bytes = bodyOf(form);
    EXPECT_EQ(quint64(bytes.size()), form.contentLength());
    const auto parts = parseMultipart(bytes, kBoundary);
    ASSERT_TRUE(parts.has_value());
    ASSERT_EQ(parts->size(), 3);
    EXPECT_EQ((*parts)[1].headers, (QList<std::pair<QByteArray, QByteArray>>{
                                       {"Content-Disposition", "form-data; name=\"s\"; filename=\"s.txt\""},
                                       {"Content-Type", "text/plain"}}));
    EXPECT_EQ((*parts)[1].body, "seekable content");
    EXPECT_EQ((*parts)[2].headers[0].second,
              QString::fromUtf8("form-data; name=\"p\"; filename=\"pïpe.bin\"").toUtf8());
    EXPECT_EQ((*parts)[2].headers[1].second, "application/x-pipe");
    EXPECT_EQ((*parts)[2].body, QByteArray("\r\npiped\0", 8));
    EXPECT_THROW(form.appendPartWithInputStream(nullptr, "n", "f", 0, "a/b"), qm::platform::InvalidArgument);
}

TEST(Multipart, FailingOrShortStreamEndsTheBodyWithItsError) {
    struct Case {
        std::shared_ptr<QIODevice> stream;
        QString error;
    };
    const QList<Case> cases{
        {std::make_shared<SequentialStream>(QByteArray(100000, 's'), 70000, QStringLiteral("pipe broke")),
         QStringLiteral("pipe broke")},
        {std::make_shared<SequentialStream>(QByteArray(70000, 's')),
         QStringLiteral("The stream ended before the length given for its part.")}};
    for (const Case& c : cases) {
        MultipartFormData form(kBoundary);
        form.appendPartWithInputStream(c.stream, "s", "s.bin", 100000, "a/b");
        auto device = form.createBodyDevice();
        ASSERT_TRUE(device->open(QIODevice::ReadOnly));
        QByteArray chunk(16 * 1024, '\0');
        qint64 total = 0, n = 0;
        while ((n = device->read(chunk.data(), chunk.size())) > 0)
            total += n;
        EXPECT_EQ(n, -1);
        EXPECT_LT(total, device->size());
        ASSERT_TRUE(device->streamError().has_value());
        EXPECT_EQ(device->streamError()->domain, "QMNetErrorDomain");
        EXPECT_EQ(device->streamError()->localizedDescription, c.error);
        EXPECT_EQ(device->errorString(), c.error);
    }
}

TEST(Multipart, SeekableStreamIsReadAgainOneThatCannotSeekOnlyOnce) {
    auto seekable = std::make_shared<QBuffer>();
    seekable->setData("again");
    MultipartFormData again(kBoundary);
    again.appendPartWithInputStream(seekable, "s", "s.txt", 5, "text/plain");
    auto device = again.createBodyDevice();
    const QByteArray first = readAllOf(*device);
    ASSERT_TRUE(first.contains("\r\n\r\nagain\r\n"));
    ASSERT_TRUE(device->reset());
    EXPECT_EQ(device->readAll(), first);
    EXPECT_EQ(bodyOf(again), first);

    MultipartFormData once(kBoundary);
    once.appendPartWithInputStream(std::make_shared<SequentialStream>("once"), "p", "p.bin", 4, "a/b");
    device = once.createBodyDevice();
    EXPECT_TRUE(readAllOf(*device).contains("\r\n\r\nonce\r\n"));
    EXPECT_FALSE(device->reset());
    ASSERT_TRUE(device->streamError().has_value());
    EXPECT_EQ(device->streamError()->localizedDescription,
              QStringLiteral("The stream of a part cannot be read a second time."));
    // A second body of the same form meets the consumed stream too, instead of sending it short.
    auto second = once.createBodyDevice();
    ASSERT_TRUE(second->open(QIODevice::ReadOnly));
    QByteArray chunk(4096, '\0');
    qint64 n = 0;
    while ((n = second->read(chunk.data(), chunk.size())) > 0) {
    }
    EXPECT_EQ(n, -1);
    ASSERT_TRUE(second->streamError().has_value());
    EXPECT_EQ(second->streamError()->localizedDescription,
              QStringLiteral("The stream of a part cannot be read a second time."));
}
