#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>

// The fuzzer's own entry point, linked in from its source; it aborts with its report on a failed check.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Every seed and every input the fuzzer once failed on passes its check in the normal suite.
TEST(FuzzRegressions, QUILLMOOR_FUZZER_NAME) {
    int replayed = 0;
    for (const char* folder : {"seeds", "regressions"}) {
        const QDir dir(QStringLiteral(QUILLMOOR_FUZZ_DIR "/%1/" QUILLMOOR_FUZZER).arg(QLatin1String(folder)));
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
            const QByteArray input = file.readAll();
            SCOPED_TRACE(file.fileName().toStdString());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}
