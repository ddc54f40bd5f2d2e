#include "cli_test_support.h"

#include "cli/config_command.h"

#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace qm::test::cli {
namespace {

using qm::cli::ConfigCommand;

TEST(ConfigCommandTest, ValuesAreTypedByTheirForm) {
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("YES")), QVariant(true));
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("NO")), QVariant(false));
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("42")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("-7")).toLongLong(), -7);
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("2.5")).typeId(), QMetaType::Double);
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("1e-3")).toDouble(), 0.001);
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("yes")).typeId(), QMetaType::QString);
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("1.2.3")).typeId(), QMetaType::QString);
    EXPECT_EQ(ConfigCommand::parseValue(QStringLiteral("")).typeId(), QMetaType::QString);

    EXPECT_EQ(ConfigCommand::formatValue(QVariant(5.0)), QStringLiteral("5.0"));
    EXPECT_EQ(ConfigCommand::formatValue(QVariant(qint64(5))), QStringLiteral("5"));
    EXPECT_EQ(ConfigCommand::formatValue(QVariant(true)), QStringLiteral("YES"));
    EXPECT_EQ(ConfigCommand::formatValue(QVariant(QStringLiteral("a\nb")), true), QStringLiteral("a\\nb"));
    EXPECT_EQ(ConfigCommand::formatValue(QVariant(QStringLiteral("a\nb"))), QStringLiteral("a\nb"));
}

TEST(ConfigCommandTest, SetGetListUnsetThroughTheCommandLine) {
    CliRunner cli;
    const auto config = [&cli](const QStringList& arguments) {
        return cli.run(QStringList{"config"} + arguments);
    };
    for (const auto& [key, value] :
         {std::pair{"QuillmoorMinFileSize", "2.5"}, std::pair{"QuillmoorAskBeforeUpload", "NO"},
          std::pair{"QuillmoorFileSizeMode", "1"}, std::pair{"QuillmoorGenericServer", "sftp://files"}})
        EXPECT_EQ(config({"set", key, value}), 0) << key;
    // The store holds typed values that the plug-in reads.
    EXPECT_EQ(cli.settings.floatForKey("QuillmoorMinFileSize"), 2.5);
    EXPECT_EQ(cli.settings.objectForKey("QuillmoorAskBeforeUpload")->typeId(), QMetaType::Bool);
    EXPECT_EQ(cli.settings.integerForKey("QuillmoorFileSizeMode"), 1);
    EXPECT_EQ(cli.settings.stringForKey("QuillmoorGenericServer"), "sftp://files");

    EXPECT_EQ(config({"get", "QuillmoorAskBeforeUpload"}), 0);
    EXPECT_EQ(cli.out(), "NO\n");
    EXPECT_EQ(config({"list"}), 0);
    const QStringList lines = cli.out().split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains("QuillmoorMinFileSize = 2.5"));
    EXPECT_TRUE(lines.contains("QuillmoorAutoSendEmail = YES  (default)")) << cli.out().toStdString();
    EXPECT_TRUE(lines.contains("QuillmoorGenericServer = sftp://files"));

    EXPECT_EQ(config({"unset", "QuillmoorMinFileSize"}), 0);
    EXPECT_EQ(config({"get", "QuillmoorMinFileSize"}), 0);
    EXPECT_EQ(cli.out(), "5.0\n") << "the bundle's default shows again";
    EXPECT_EQ(config({"get", "NoSuchKey"}), 1);
    EXPECT_TRUE(cli.err().contains("NoSuchKey is not set"));
    EXPECT_EQ(config({"get"}), 2);
    EXPECT_TRUE(cli.err().contains("usage:"));
}

TEST(ConfigCommandTest, KnownKeysAreCheckedForTypeAndRangeAndUnknownOnesNeedForce) {
    CliRunner cli;
    const auto set = [&cli](const QString& key, const QString& value, bool force = false) {
        return cli.run(force ? QStringList{"config", "set", "--force", key, value}
                             : QStringList{"config", "set", key, value});
    };
    const struct {
        const char* key;
        const char* value;
        const char* complaint; // nullptr: accepted
    } cases[] = {
        {"QuillmoorMinFileSize", "abc", "a number of MiB"},
        {"QuillmoorMinFileSize", "-1", "a number of MiB"},
        {"QuillmoorMinFileSize", "nan", "a number of MiB"},
        {"QuillmoorFileSizeMode", "2", "0 or 1"},
        {"QuillmoorFileSizeMode", "1.5", "0 or 1"},
        {"QuillmoorSelectedService", "11", "0 to 10"},
        {"QuillmoorAskBeforeUpload", "maybe", "YES or NO"},
        {"RVQuillmoorGenericLinked", "2", "YES or NO"},
        {"RVQuillmoorInfoBoxTemplate", "<p>no list</p>", "BOX_LINKLIST"},
        {"QuillmoorGenericPublicURL", "files.example.org", "URL"},
        {"QuillmoorMinFileSize", "3", nullptr},
        {"QuillmoorAskBeforeUpload", "no", nullptr},
        {"RVQuillmoorBoxFolderId", "0123", nullptr},
        {"QuillmoorGenericPublicURL", "https://files.example.org/x", nullptr},
    };
    for (const auto& c : cases) {
        const QVariant before = cli.settings.userValues().value(c.key);
        EXPECT_EQ(set(c.key, c.value), c.complaint ? 1 : 0) << c.key << " " << c.value;
        if (c.complaint) {
            EXPECT_TRUE(cli.err().contains(c.complaint)) << cli.err().toStdString();
            EXPECT_EQ(cli.settings.userValues().value(c.key), before) << c.key;
        }
    }
    // Stored with the type the plug-in reads, whatever the form of the text.
    EXPECT_EQ(cli.settings.objectForKey("QuillmoorMinFileSize")->typeId(), QMetaType::Double);
    EXPECT_EQ(cli.settings.objectForKey("QuillmoorAskBeforeUpload"), QVariant(false));
    EXPECT_EQ(cli.settings.objectForKey("RVQuillmoorBoxFolderId"), QVariant("0123"));

    EXPECT_EQ(set("QuillmoorMinFileSise", "5"), 1);
    EXPECT_TRUE(cli.err().contains("unknown setting")) << cli.err().toStdString();
    EXPECT_TRUE(cli.err().contains("--force"));
    EXPECT_FALSE(cli.settings.objectForKey("QuillmoorMinFileSise"));
    EXPECT_EQ(set("QuillmoorFutureKey", "5", true), 0);
    EXPECT_EQ(cli.settings.objectForKey("QuillmoorFutureKey"), QVariant(qint64(5)));
}

// Whatever the command, a settings file that is read as empty is named on standard error, once.
TEST(ConfigCommandTest, ADamagedOrUnreadableSettingsFileIsReportedByEveryCommand) {
    CliRunner cli;
    const QString file = cli.settings.filePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    qm::test::writeFile(file, "<plist><dict>");
    for (const QStringList& command : {QStringList{"config", "list"}, QStringList{"services"},
                                       QStringList{"config", "get", "QuillmoorMinFileSize"}}) {
        cli.run(command);
        EXPECT_EQ(cli.err().count(file), 1)
            << command.join(' ').toStdString() << ": " << cli.err().toStdString();
        EXPECT_TRUE(cli.err().contains("damaged"));
    }
    EXPECT_EQ(cli.run({"config", "set", "QuillmoorMinFileSize", "2"}), 0);
    EXPECT_EQ(cli.run({"config", "list"}), 0);
    EXPECT_EQ(cli.err(), "") << "the next change moved it aside";

    QFile::remove(file);
    QDir().mkpath(file);
    EXPECT_EQ(cli.run({"config", "set", "QuillmoorMinFileSize", "3"}), 1);
    EXPECT_TRUE(cli.err().contains("cannot be read")) << cli.err().toStdString();
    EXPECT_TRUE(QFileInfo(file).isDir());
}

TEST(ServicesCommandTest, ListsEveryIdentifierWithItsStateAndMarksTheActiveOne) {
    CliRunner cli;
    const auto lines = [&cli] {
        EXPECT_EQ(cli.run({"services"}), 0);
        return cli.out().split(u'\n', Qt::SkipEmptyParts);
    };
    QStringList listed = lines();
    ASSERT_EQ(listed.size(), 11);
    EXPECT_EQ(listed[0].simplified(), "0 Dropbox not available");
    EXPECT_EQ(listed[9].simplified(), "9 Generic not available");
    EXPECT_TRUE(listed[10].startsWith("No service is active"));

    cli.linkService(AutoUploaderClass::Behaviour::Link);
    listed = lines();
    ASSERT_EQ(listed.size(), 11);
    EXPECT_EQ(listed[9].simplified(), "* 9 Generic linked");
    EXPECT_FALSE(listed[0].startsWith(u'*'));
    cli.services.setIsLinked(false, upload::ServiceId::Generic);
    EXPECT_EQ(lines().value(9).simplified(), "9 Generic not linked");
}

} // namespace
} // namespace qm::test::cli
