#include "platform/settings_store.h"

#include "platform/property_list.h"
#include "platform/system_log.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace qm::platform;
using qm::test::readFile;
using qm::test::writeFile;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath("quillmoor/settings.plist"); }
    QVariantMap onDisk() const { return plist::parse(readFile(path())).value_or(QVariant()).toMap(); }

    QTemporaryDir dir;
};

// Collects SystemLog lines that mention the settings file.
struct LogLines {
    explicit LogLines(QString filter)
        : capture([this, filter](const QString& line) {
            if (line.contains(filter))
                lines.append(line);
        }) {}
    QStringList lines;
    SystemLog::Capture capture;
};

} // namespace

TEST_F(SettingsTest, AbsentValuesHaveTheirDefaultsButStayAbsentAsObjects) {
    SettingsStore store(path());
    EXPECT_FALSE(store.objectForKey("missing").has_value());
    EXPECT_FALSE(store.boolForKey("missing"));
    EXPECT_EQ(store.integerForKey("missing"), 0);
    EXPECT_EQ(store.floatForKey("missing"), 0.0);
    EXPECT_TRUE(store.stringForKey("missing").isNull());

    ASSERT_TRUE(store.setInteger(0, "zero"));
    ASSERT_TRUE(store.setObject(QString(""), "blank"));
    EXPECT_EQ(store.objectForKey("zero"), QVariant(qint64(0)));
    EXPECT_TRUE(store.stringForKey("blank").isEmpty());
    EXPECT_FALSE(store.stringForKey("blank").isNull());
}

TEST_F(SettingsTest, UserValuesWinAndRemovingRevealsTheRegisteredValue) {
    SettingsStore store(path());
    store.registerDefaults({{"limit", 10}, {"name", "default"}});
    store.registerDefaults({{"limit", 20}, {"extra", true}}); // later registrations add and override
    EXPECT_EQ(store.integerForKey("limit"), 20);
    EXPECT_EQ(store.stringForKey("name"), "default");
    EXPECT_TRUE(store.boolForKey("extra"));

    ASSERT_TRUE(store.setInteger(0, "limit"));
    EXPECT_EQ(store.integerForKey("limit"), 0); // a stored 0 is not "absent"
    EXPECT_EQ(store.userValues(), (QVariantMap{{"limit", qint64(0)}}));
    const QVariantMap merged = store.dictionaryRepresentation();
    EXPECT_EQ(merged.value("limit").toLongLong(), 0);
    EXPECT_EQ(merged.value("name").toString(), "default");

    ASSERT_TRUE(store.removeObjectForKey("limit"));
    EXPECT_EQ(store.integerForKey("limit"), 20);
    ASSERT_TRUE(store.setObject(QStringList{"a"}, "name"));
    ASSERT_TRUE(store.setObject(QVariant(), "name")); // an invalid value removes
    EXPECT_EQ(store.stringForKey("name"), "default");
    EXPECT_TRUE(store.userValues().isEmpty());
}

TEST_F(SettingsTest, TypedWritesStoreTheirPlistKinds) {
    SettingsStore store(path());
    ASSERT_TRUE(store.setBool(true, "b") && store.setInteger(-7, "i") && store.setFloat(1.25, "f") &&
                store.setObject(QVariantMap{{"nested", QVariantList{1, "x"}}}, "o"));
    EXPECT_EQ(onDisk(), (QVariantMap{{"b", true},
                                     {"i", qint64(-7)},
                                     {"f", 1.25},
                                     {"o", QVariantMap{{"nested", QVariantList{qint64(1), "x"}}}}}));
    EXPECT_EQ(onDisk().value("b").typeId(), QMetaType::Bool);

    const auto set = store.setObject(QUrl("https://example.org"), "bad");
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error().domain, SettingsStore::errorDomain());
    EXPECT_EQ(set.error().code, SettingsStore::NotAPropertyList);
    EXPECT_FALSE(onDisk().contains("bad"));
}

TEST_F(SettingsTest, CoercionsFollowUserDefaultsRules) {
    SettingsStore store(path());
    store.registerDefaults({{"yes", "YES"},
                            {"true", "  true"},
                            {"one", "1"},
                            {"nine", "9 lives"},
                            {"no", "NO"},
                            {"zero", "0"},
                            {"empty", ""},
                            {"neg", -2},
                            {"half", 0.5},
                            {"numstr", "12abc"},
                            {"alpha", "abc"},
                            {"minus", " -34x"},
                            {"real", -3.99},
                            {"decimal", "2.5kg"},
                            {"exp", "1e3"},
                            {"flag", true},
                            {"list", QVariantList{1}}});
    for (const char* key : {"yes", "true", "one", "nine", "neg", "half", "flag"})
        EXPECT_TRUE(store.boolForKey(key)) << key;
    for (const char* key : {"no", "zero", "empty", "alpha", "list"})
        EXPECT_FALSE(store.boolForKey(key)) << key;

    EXPECT_EQ(store.integerForKey("numstr"), 12);
    EXPECT_EQ(store.integerForKey("alpha"), 0);
    EXPECT_EQ(store.integerForKey("minus"), -34);
    EXPECT_EQ(store.integerForKey("real"), -3); // toward zero
    EXPECT_EQ(store.integerForKey("flag"), 1);
    EXPECT_EQ(store.integerForKey("list"), 0);

    EXPECT_DOUBLE_EQ(store.floatForKey("decimal"), 2.5);
    EXPECT_DOUBLE_EQ(store.floatForKey("exp"), 1000.0);
    EXPECT_DOUBLE_EQ(store.floatForKey("neg"), -2.0);
    EXPECT_DOUBLE_EQ(store.floatForKey("flag"), 1.0);
    EXPECT_DOUBLE_EQ(store.floatForKey("alpha"), 0.0);

    EXPECT_TRUE(store.stringForKey("neg").isNull()); // a number is not a string
    EXPECT_EQ(store.stringForKey("yes"), "YES");
}

TEST_F(SettingsTest, ChangesByAnotherWriterAreSeenAtTheNextReadAndKeptByTheNextWrite) {
    SettingsStore mine(path()), theirs(path());
    ASSERT_TRUE(mine.setObject("first", "value"));
    EXPECT_EQ(theirs.stringForKey("value"), "first");
    ASSERT_TRUE(theirs.setObject("second", "value"));
    EXPECT_EQ(mine.stringForKey("value"), "second");
    ASSERT_TRUE(theirs.removeObjectForKey("value"));
    EXPECT_FALSE(mine.objectForKey("value").has_value());

    // A write keeps a key the other instance wrote in between.
    ASSERT_TRUE(mine.setBool(true, "mine"));
    EXPECT_TRUE(mine.boolForKey("mine")); // cached now
    ASSERT_TRUE(theirs.setInteger(5, "theirs"));
    ASSERT_TRUE(mine.setInteger(6, "mine2"));
    EXPECT_EQ(onDisk(), (QVariantMap{{"theirs", qint64(5)}, {"mine", true}, {"mine2", qint64(6)}}));
}

TEST_F(SettingsTest, SameSizeRawRewriteIsSeenRightAwayAndLater) {
    SettingsStore store(path());
    writeFile(path(), plist::toXml(QVariantMap{{"k", "aaa"}}));
    EXPECT_EQ(store.stringForKey("k"), "aaa");
    // At once: within the file system's timestamp granularity.
    writeFile(path(), plist::toXml(QVariantMap{{"k", "bbb"}}));
    EXPECT_EQ(store.stringForKey("k"), "bbb");
    // Once the cache is trusted on its stat(2) fields alone.
    QThread::msleep(1100);
    EXPECT_EQ(store.stringForKey("k"), "bbb");
    EXPECT_EQ(store.stringForKey("k"), "bbb");
    writeFile(path(), plist::toXml(QVariantMap{{"k", "ccc"}}));
    EXPECT_EQ(store.stringForKey("k"), "ccc");
    QFile::remove(path());
    EXPECT_FALSE(store.objectForKey("k").has_value());
}

TEST_F(SettingsTest, WritesAreAtomicAndPrivateToTheUser) {
    SettingsStore store(path());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(store.setInteger(i, QStringLiteral("k%1").arg(i)));
    const QDir folder(QFileInfo(path()).absolutePath());
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"settings.plist"});
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(folder.path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "it may hold a service token";
    ::chmod(QFile::encodeName(path()).constData(), 0644); // as an earlier version left it
    ASSERT_TRUE(store.setInteger(5, "k5"));
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(onDisk().size(), 6);
    EXPECT_TRUE(readFile(path()).startsWith("<?xml"));
}

TEST_F(SettingsTest, UnwritableLocationGivesAnError) {
    writeFile(dir.filePath("plain-file"), "x");
    SettingsStore store(dir.filePath("plain-file/settings.plist"));
    const auto set = store.setBool(true, "k");
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error().code, SettingsStore::WriteFailed);
    EXPECT_FALSE(set.error().localizedDescription.isEmpty());
    EXPECT_FALSE(store.objectForKey("k").has_value());
}

TEST_F(SettingsTest, DamagedFileIsReportedOnceAndReadAsEmpty) {
    const QByteArray garbage("<?xml version=\"1.0\"?><plist><dict><key>a</key>");
    writeFile(path(), garbage);
    LogLines log(path());
    SettingsStore store(path());
    store.registerDefaults({{"a", "registered"}});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(store.stringForKey("a"), "registered");
        EXPECT_TRUE(store.userValues().isEmpty());
        EXPECT_FALSE(store.boolForKey("b"));
    }
    QThread::msleep(1100); // reads that trust the cached stamp must stay quiet too
    EXPECT_TRUE(store.userValues().isEmpty());
    store.registerDefaults({{"c", 1}});
    ASSERT_EQ(log.lines.size(), 1) << log.lines.join('\n').toStdString();
    EXPECT_TRUE(log.lines[0].contains("line")) << log.lines[0].toStdString();
    EXPECT_EQ(readFile(path()), garbage); // reads and registration never overwrite it
    EXPECT_TRUE(store.removeObjectForKey("nothing-there"));
    EXPECT_EQ(readFile(path()), garbage);

    // A root that is not a dictionary is damage too.
    writeFile(dir.filePath("list.plist"), plist::toXml(QVariantList{1, 2}));
    LogLines listLog(dir.filePath("list.plist"));
    EXPECT_TRUE(SettingsStore(dir.filePath("list.plist")).userValues().isEmpty());
    EXPECT_EQ(listLog.lines.size(), 1);
}

TEST_F(SettingsTest, EachDamageIsMovedAsideWithoutOverwritingAnEarlierOne) {
    writeFile(path() + ".damaged", "an older damaged file");
    LogLines log(path());
    SettingsStore store(path());
    for (const QByteArray& garbage :
         {QByteArray("not a property list at all"), QByteArray("<plist><dict><key>")}) {
        writeFile(path(), garbage);
        EXPECT_TRUE(store.userValues().isEmpty());
        const auto problem = store.fileProblem();
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->code, SettingsStore::Damaged);
        EXPECT_TRUE(problem->localizedDescription.contains("damaged"))
            << problem->localizedDescription.toStdString();
        ASSERT_TRUE(store.setBool(true, "fresh"));
        EXPECT_FALSE(store.fileProblem());
        EXPECT_EQ(onDisk(), (QVariantMap{{"fresh", true}}));
    }
    EXPECT_EQ(readFile(path() + ".damaged"), "an older damaged file");
    EXPECT_EQ(readFile(path() + ".damaged.2"), "not a property list at all");
    EXPECT_EQ(readFile(path() + ".damaged.3"), "<plist><dict><key>");
    EXPECT_TRUE(log.lines.last().contains(".damaged.3")) << log.lines.join('\n').toStdString();
}

// Something that cannot be read is not known to be damaged: it is read as empty but never replaced.
TEST_F(SettingsTest, UnreadableFileIsReportedAndNeverMovedOrOverwritten) {
    QDir().mkpath(path());
    writeFile(path() + "/inside", "x");
    SettingsStore store(path());
    store.registerDefaults({{"a", 1}});
    EXPECT_EQ(store.integerForKey("a"), 1);
    const auto problem = store.fileProblem();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->code, SettingsStore::Unreadable);
    EXPECT_TRUE(problem->localizedDescription.contains("cannot be read"))
        << problem->localizedDescription.toStdString();
    const auto set = store.setBool(true, "k");
    ASSERT_FALSE(set);
    EXPECT_EQ(set.error().code, SettingsStore::Unreadable);
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_FALSE(QFileInfo::exists(path() + ".damaged"));

    if (::geteuid() != 0) { // permissions do not hold back root
        const QString file = dir.filePath("locked/settings.plist");
        SettingsStore locked(file);
        ASSERT_TRUE(locked.setInteger(7, "n"));
        QFile::setPermissions(file, QFileDevice::Permissions());
        EXPECT_EQ(locked.integerForKey("n"), 0);
        EXPECT_EQ(locked.fileProblem().value_or(Error()).code, SettingsStore::Unreadable);
        EXPECT_FALSE(locked.setInteger(8, "n"));
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(locked.integerForKey("n"), 7);
    }
}

TEST_F(SettingsTest, ReadsFromManyThreadsWhileWriting) {
    SettingsStore store(path());
    store.registerDefaults({{"n", -1}});
    std::atomic<bool> done = false;
    std::atomic<int> bad = 0;
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!done)
                if (store.integerForKey("n") < -1)
                    ++bad;
        });
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(store.setInteger(i, "n"));
    done = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(store.integerForKey("n"), 19);
}

TEST(SettingsDefaultPath, HonoursConfigDirThenXdgConfigHome) {
    const bool hadConfig = qEnvironmentVariableIsSet("QUILLMOOR_CONFIG_DIR");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray savedConfig = qgetenv("QUILLMOOR_CONFIG_DIR"), savedXdg = qgetenv("XDG_CONFIG_HOME");

    qputenv("QUILLMOOR_CONFIG_DIR", "/tmp/qm-config");
    EXPECT_EQ(SettingsStore::defaultFilePath(), "/tmp/qm-config/settings.plist");
    qunsetenv("QUILLMOOR_CONFIG_DIR");
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(SettingsStore::defaultFilePath(), "/tmp/xdg/quillmoor/settings.plist");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::defaultFilePath(), QDir::homePath() + "/.config/quillmoor/settings.plist");

    hadConfig ? qputenv("QUILLMOOR_CONFIG_DIR", savedConfig) : qunsetenv("QUILLMOOR_CONFIG_DIR");
    hadXdg ? qputenv("XDG_CONFIG_HOME", savedXdg) : qunsetenv("XDG_CONFIG_HOME");
}
