#include "platform/zip_archiver.h"

#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <zip.h>

using namespace qm::platform;
using qm::test::readFile;
using qm::test::writeFile;

namespace {

struct Entry {
    qint64 size = 0;
    int method = -1;
    QByteArray data;
    quint32 mode = 0; // Unix mode from the external attributes
};

// Reads an archive back with libzip: name → entry.
std::map<QString, Entry> readArchive(const QString& path) {
    std::map<QString, Entry> entries;
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    EXPECT_NE(zip, nullptr) << "libzip error " << error;
    if (!zip)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(zip, zip_uint64_t(i), 0, &st);
        Entry entry{qint64(st.size), st.comp_method, QByteArray(qsizetype(st.size), Qt::Uninitialized), 0};
        if (zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(i), 0)) {
            EXPECT_EQ(zip_fread(file, entry.data.data(), st.size), zip_int64_t(st.size));
            zip_fclose(file);
        }
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(zip, zip_uint64_t(i), 0, &system, &attributes);
        entry.mode = attributes >> 16;
        entries[QString::fromUtf8(st.name)] = entry;
    }
    zip_discard(zip);
    return entries;
}

std::pair<int, QString> unzip(const QStringList& arguments) {
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("unzip"), arguments);
    if (!process.waitForFinished(60000))
        return {-1, process.errorString()};
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QByteArray text(qsizetype size) {
    QByteArray bytes;
    for (int line = 0; bytes.size() < size; ++line)
        bytes += "2024-05-" + QByteArray::number(line % 28 + 1) + " INFO request " +
                 QByteArray::number(line * 7919) + " served in " + QByteArray::number(line % 97) +
                 " ms for user@example.org\n";
    bytes.truncate(size);
    return bytes;
}

// Lowers the open-file limit for one test.
struct FileLimit {
    explicit FileLimit(rlim_t limit) {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    ~FileLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved;
};

class ZipArchiverTest : public ::testing::Test {
protected:
    QString path(const QString& relative) const { return dir.filePath(relative); }
    void makeFolder() {
        writeFile(path("Folder/a.txt"), "alpha\n");
        writeFile(path("Folder/sub/b.txt"), "beta\n");
        QDir().mkpath(path("Folder/empty"));
    }
    QStringList namesListedByUnzip(const QString& archive) {
        auto [status, output] = unzip({QStringLiteral("-Z1"), archive});
        EXPECT_EQ(status, 0) << output.toStdString();
        QStringList names = output.split(u'\n', Qt::SkipEmptyParts);
        names.sort();
        return names;
    }
    void expectValid(const QString& archive) {
        auto [status, output] = unzip({QStringLiteral("-t"), archive});
        EXPECT_EQ(status, 0) << output.toStdString();
    }

    QTemporaryDir dir;
};

TEST_F(ZipArchiverTest, SingleFileIsStoredUnderItsNameReplacingAnyOldArchive) {
    const QByteArray content = text(100'000);
    writeFile(path("in/report.log"), content);
    writeFile(path("out.zip"), "not an archive");
    ASSERT_TRUE(ZipArchiver::archive(path("in/report.log"), path("out.zip"), {.keepParent = true}));
    const auto entries = readArchive(path("out.zip"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.at("report.log").data, content);
    EXPECT_EQ(entries.at("report.log").method, ZIP_CM_DEFLATE);
    expectValid(path("out.zip"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.zip"}); // no temporary file left
}

TEST_F(ZipArchiverTest, KeepParentDecidesWhetherTheFolderIsTheTopEntry) {
    makeFolder();
    ASSERT_TRUE(ZipArchiver::archive(path("Folder"), path("out.zip"), {.keepParent = true}));
    const QStringList expected{"Folder/", "Folder/a.txt", "Folder/empty/", "Folder/sub/", "Folder/sub/b.txt"};
    EXPECT_EQ(namesListedByUnzip(path("out.zip")), expected);
    const auto entries = readArchive(path("out.zip"));
    EXPECT_EQ(entries.at("Folder/sub/b.txt").data, "beta\n");
    EXPECT_TRUE(S_ISDIR(entries.at("Folder/empty/").mode));
    expectValid(path("out.zip"));

    ASSERT_TRUE(ZipArchiver::archive(path("Folder/"), path("flat.zip")));
    EXPECT_EQ(namesListedByUnzip(path("flat.zip")), (QStringList{"a.txt", "empty/", "sub/", "sub/b.txt"}));
    EXPECT_EQ(readArchive(path("flat.zip")).at("a.txt").data, "alpha\n");

    ASSERT_TRUE(ZipArchiver::archive(path("Folder/empty"), path("empty.zip")));
    EXPECT_TRUE(QFileInfo::exists(path("empty.zip")));
    EXPECT_TRUE(readArchive(path("empty.zip")).empty());
}

TEST_F(ZipArchiverTest, NamesAreFlaggedUtf8) {
    const QString name = QStringLiteral("Grüße 日本.txt");
    writeFile(path(name), "hallo");
    ASSERT_TRUE(ZipArchiver::archive(path(name), path("out.zip")));
    EXPECT_EQ(readArchive(path("out.zip")).count(name), 1u);
    EXPECT_EQ(namesListedByUnzip(path("out.zip")), QStringList{name});
    const QByteArray bytes = readFile(path("out.zip"));
    ASSERT_TRUE(bytes.startsWith("PK\x03\x04"));
    EXPECT_TRUE(quint8(bytes[7]) & 0x08); // general purpose bit 11 of the first local header
}

TEST_F(ZipArchiverTest, CompressionIsChosenFromASampleOfTheData) {
    writeFile(path("in/noise.jpg"), randomBytes(1 << 20));
    writeFile(path("in/notes.txt"), text(1 << 20));
    writeFile(path("in/tiny-noise.bin"), randomBytes(1000));
    writeFile(path("in/empty"), {});
    // A readable header over a compressed body, as in PDFs; and the reverse, as a log after a binary
    // preamble.
    writeFile(path("in/text-then-noise.pdf"), text(64 << 10) + randomBytes(4 << 20));
    writeFile(path("in/noise-then-text.dat"), randomBytes(64 << 10) + text(4 << 20));
    ASSERT_TRUE(ZipArchiver::archive(path("in"), path("out.zip")));
    const auto entries = readArchive(path("out.zip"));
    const std::map<QString, int> methods{
        {"noise.jpg", ZIP_CM_STORE},           {"notes.txt", ZIP_CM_DEFLATE},
        {"tiny-noise.bin", ZIP_CM_DEFLATE},    {"empty", ZIP_CM_STORE},
        {"text-then-noise.pdf", ZIP_CM_STORE}, {"noise-then-text.dat", ZIP_CM_DEFLATE}};
    for (const auto& [name, method] : methods) {
        EXPECT_EQ(entries.at(name).method, method) << name.toStdString();
        EXPECT_EQ(entries.at(name).data, readFile(path("in/" + name))) << name.toStdString();
    }
    expectValid(path("out.zip"));
}

TEST_F(ZipArchiverTest, TimesPermissionsAndLinksSurviveUnzip) {
    writeFile(path("in/run.sh"), "#!/bin/sh\n");
    chmod(QFile::encodeName(path("in/run.sh")).constData(), 0750);
    const utimbuf times{1'600'000'001, 1'600'000'001}; // odd second: DOS time alone would lose it
    utime(QFile::encodeName(path("in/run.sh")).constData(), &times);
    ASSERT_EQ(symlink("run.sh", QFile::encodeName(path("in/link")).constData()), 0);
    ASSERT_TRUE(ZipArchiver::archive(path("in"), path("out.zip"), {.keepParent = true}));

    const auto entries = readArchive(path("out.zip"));
    EXPECT_EQ(entries.at("in/run.sh").mode, quint32(S_IFREG | 0750));
    EXPECT_TRUE(S_ISLNK(entries.at("in/link").mode));
    EXPECT_EQ(entries.at("in/link").data, "run.sh");

    auto [status, output] = unzip({QStringLiteral("-q"), path("out.zip"), QStringLiteral("-d"), path("x")});
    ASSERT_EQ(status, 0) << output.toStdString();
    const QFileInfo extracted(path("x/in/run.sh"));
    EXPECT_EQ(extracted.lastModified().toSecsSinceEpoch(), 1'600'000'001);
    EXPECT_EQ(extracted.permissions() & QFile::ExeOwner, QFile::ExeOwner);
    EXPECT_EQ(QFileInfo(path("x/in/link")).symLinkTarget(), path("x/in/run.sh"));
}

TEST_F(ZipArchiverTest, AnArchiveNeverPacksOrReplacesItsSource) {
    writeFile(path("Folder/a.txt"), "alpha");
    writeFile(path("Folder/out.zip"), "previous");
    ASSERT_TRUE(ZipArchiver::archive(path("Folder"), path("Folder/out.zip")));
    const auto entries = readArchive(path("Folder/out.zip"));
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.count("a.txt"), 1u);

    const auto zipped = ZipArchiver::archive(path("Folder/a.txt"), path("Folder/a.txt"));
    ASSERT_FALSE(zipped);
    EXPECT_EQ(zipped.error().code, ZipDestinationUnwritable);
    EXPECT_EQ(readFile(path("Folder/a.txt")), "alpha");
}

TEST_F(ZipArchiverTest, MissingSourceOrDestinationFolderIsAnErrorAndWritesNothing) {
    auto zipped = ZipArchiver::archive(path("nothing"), path("out.zip"));
    ASSERT_FALSE(zipped);
    EXPECT_EQ(zipped.error().domain, "QMZipArchiverErrorDomain");
    EXPECT_EQ(zipped.error().code, ZipSourceMissing);
    EXPECT_FALSE(QFileInfo::exists(path("out.zip")));

    writeFile(path("a.txt"), "alpha");
    zipped = ZipArchiver::archive(path("a.txt"), path("missing/out.zip"));
    ASSERT_FALSE(zipped);
    EXPECT_EQ(zipped.error().code, ZipDestinationUnwritable);
    EXPECT_FALSE(QFileInfo::exists(path("missing")));
}

TEST_F(ZipArchiverTest, ReadOnlyDestinationFolderIsAnError) {
    writeFile(path("a.txt"), "alpha");
    QDir().mkpath(path("locked"));
    chmod(QFile::encodeName(path("locked")).constData(), 0555);
    if (access(QFile::encodeName(path("locked")).constData(), W_OK) == 0)
        GTEST_SKIP() << "running as root: permissions do not lock the folder";
    const auto zipped = ZipArchiver::archive(path("a.txt"), path("locked/out.zip"));
    ASSERT_FALSE(zipped);
    EXPECT_EQ(zipped.error().code, ZipDestinationUnwritable);
    EXPECT_TRUE(QDir(path("locked")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// A failure while the archive is being written, here a file that cannot be opened, leaves the previous
// archive as it was and no temporary file.
TEST_F(ZipArchiverTest, FailureWhileWritingLeavesNothingBehind) {
    writeFile(path("out/out.zip"), "previous");
    writeFile(path("a.txt"), "small enough not to be sampled");
    std::vector<int> unused;
    for (int fd = 0; unused.size() < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0)
            unused.push_back(fd);
    Result<void> zipped;
    {
        // Two descriptors left: libzip takes them for the previous archive and its temporary file.
        FileLimit limit{rlim_t(unused[2])};
        zipped = ZipArchiver::archive(path("a.txt"), path("out/out.zip"));
    }
    ASSERT_FALSE(zipped);
    EXPECT_EQ(zipped.error().code, ZipSourceUnreadable) << zipped.error().localizedDescription.toStdString();
    EXPECT_EQ(zipped.error().userInfo.value("path").toString(), path("a.txt"));
    EXPECT_EQ(readFile(path("out/out.zip")), "previous");
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"out.zip"});
}

TEST_F(ZipArchiverTest, ThousandsOfFilesFitAFewDescriptors) {
    for (int i = 0; i < 3000; ++i)
        writeFile(path(QStringLiteral("in/d%1/f%2.txt").arg(i % 10).arg(i)),
                  QByteArray::number(i).repeated(600));
    {
        FileLimit limit(64);
        ASSERT_TRUE(ZipArchiver::archive(path("in"), path("out.zip")));
    }
    const auto entries = readArchive(path("out.zip"));
    EXPECT_EQ(entries.size(), 3010u);
    EXPECT_EQ(entries.at("d7/f2997.txt").data, QByteArray("2997").repeated(600));
    expectValid(path("out.zip"));
}

qint64 statusKiB(const QByteArray& field) {
    for (const QByteArray& line : readFile("/proc/self/status").split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

TEST_F(ZipArchiverTest, MemoryStaysBoundedForLargeFiles) {
    QFile big(path("in/zeros.bin"));
    ASSERT_TRUE(QDir().mkpath(path("in")) && big.open(QIODevice::WriteOnly) && big.resize(64 << 20));
    big.close();
    QFile clear("/proc/self/clear_refs");
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        GTEST_SKIP() << "cannot reset the peak resident size";
    clear.close();
    const qint64 before = statusKiB("VmRSS");
    ASSERT_TRUE(ZipArchiver::archive(path("in"), path("out.zip")));
    EXPECT_LT(statusKiB("VmHWM") - before, 16 * 1024);
    const auto entries = readArchive(path("out.zip"));
    EXPECT_EQ(entries.at("zeros.bin").size, 64 << 20);
}

} // namespace
