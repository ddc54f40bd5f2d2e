#include "cli_test_support.h"

#include "cli/config_command.h"

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
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("QuillmoorMinFileSize"), QStringLiteral("2.5")}), 0);
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("QuillmoorAskBeforeUpload"), QStringLiteral("NO")}), 0);
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("QuillmoorFileSizeMode"), QStringLiteral("1")}), 0);
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("QuillmoorGenericServer"), QStringLiteral("sftp://files")}), 0);

    // The store holds typed values that the plug-in reads.
    EXPECT_EQ(cli.settings.floatForKey(QStringLiteral("QuillmoorMinFileSize")), 2.5);
    EXPECT_EQ(cli.settings.objectForKey(QStringLiteral("QuillmoorAskBeforeUpload"))->typeId(), QMetaType::Bool);
    EXPECT_EQ(cli.settings.integerForKey(QStringLiteral("QuillmoorFileSizeMode")), 1);
    EXPECT_EQ(cli.settings.stringForKey(QStringLiteral("QuillmoorGenericServer")), QStringLiteral("sftp://files"));

    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("QuillmoorMinFileSize")}), 0);
    EXPECT_EQ(cli.out(), QStringLiteral("2.5\n"));
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("QuillmoorAskBeforeUpload")}), 0);
    EXPECT_EQ(cli.out(), QStringLiteral("NO\n"));

    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("list")}), 0);
    const QStringList lines = cli.out().split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains(QStringLiteral("QuillmoorMinFileSize = 2.5")));
    EXPECT_TRUE(lines.contains(QStringLiteral("QuillmoorAutoSendEmail = YES  (default)"))) << cli.out().toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("QuillmoorGenericServer = sftp://files")));

    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("unset"), QStringLiteral("QuillmoorMinFileSize")}), 0);
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("QuillmoorMinFileSize")}), 0);
    EXPECT_EQ(cli.out(), QStringLiteral("5.0\n")) << "the bundle's default shows again";
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("get"), QStringLiteral("NoSuchKey")}), 1);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("NoSuchKey is not set")));
    EXPECT_EQ(cli.run({QStringLiteral("config"), QStringLiteral("get")}), 2);
    EXPECT_TRUE(cli.err().contains(QStringLiteral("usage:")));
}

TEST(ServicesCommandTest, ListsEveryIdentifierWithItsStateAndMarksTheActiveOne) {
    CliRunner cli;
    EXPECT_EQ(cli.run({QStringLiteral("services")}), 0);
    QStringList lines = cli.out().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0].simplified(), QStringLiteral("0 Dropbox not available"));
    EXPECT_EQ(lines[9].simplified(), QStringLiteral("9 Generic not available"));
    EXPECT_TRUE(lines[10].startsWith(QStringLiteral("No service is active")));

    cli.linkService(AutoUploaderClass::Behaviour::Link);
    EXPECT_EQ(cli.run({QStringLiteral("services")}), 0);
    lines = cli.out().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[9].simplified(), QStringLiteral("* 9 Generic linked"));
    EXPECT_FALSE(lines[0].startsWith(u'*'));

    cli.services.setIsLinked(false, 9);
    EXPECT_EQ(cli.run({QStringLiteral("services")}), 0);
    lines = cli.out().split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines[9].simplified(), QStringLiteral("9 Generic not linked"));
}

} // namespace
} // namespace qm::test::cli
