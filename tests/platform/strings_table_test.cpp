#include "platform/strings_table.h"

#include "support/test_support.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace qm::platform;

namespace {

QByteArray encoded(const QString& text, QStringConverter::Encoding encoding, bool bom) {
    QStringEncoder encoder(encoding,
                           bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
    return encoder(text);
}

StringsTable parsed(const QByteArray& data) {
    QString error;
    auto table = StringsTable::parse(data, &error);
    EXPECT_TRUE(table.has_value()) << error.toStdString();
    return table.value_or(StringsTable());
}

const QString kSample = QStringLiteral("/* Greeting */\n\"Hello\" = \"Grüß dich\";\n\"Bye\" = \"Tschüs\";\n");

} // namespace

TEST(StringsTableEncoding, ReadsUtf8AndUtf16InBothByteOrders) {
    const struct {
        QStringConverter::Encoding encoding;
        bool bom;
    } cases[] = {{QStringConverter::Utf8, false},    {QStringConverter::Utf8, true},
                 {QStringConverter::Utf16LE, true},  {QStringConverter::Utf16BE, true},
                 {QStringConverter::Utf16LE, false}, {QStringConverter::Utf16BE, false}};
    for (const auto& c : cases) {
        const StringsTable table = parsed(encoded(kSample, c.encoding, c.bom));
        EXPECT_EQ(table.entries(), (QHash<QString, QString>{{"Hello", "Grüß dich"}, {"Bye", "Tschüs"}}))
            << int(c.encoding) << c.bom;
    }
}

TEST(StringsTableEncoding, ReadsFilesAndReportsMissingOnes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Localizable.strings");
    qm::test::writeFile(path, encoded(kSample, QStringConverter::Utf16LE, true));
    const auto table = StringsTable::read(path);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->value("Bye"), QStringLiteral("Tschüs"));

    QString error;
    EXPECT_FALSE(StringsTable::read(dir.filePath("missing.strings"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(StringsTableSyntax, CommentsAnywhereBetweenTokens) {
    const StringsTable table = parsed(
        "// leading line comment\n"
        "/* block\n spanning lines */ \"a\" /* here */ = // and here\n \"1\" /* before semicolon */ ;\n"
        "\"b\"=\"2\";// trailing\n"
        "\"url\" = \"http://example.org/*not a comment*/\";\n");
    EXPECT_EQ(table.entries(), (QHash<QString, QString>{
                                   {"a", "1"}, {"b", "2"}, {"url", "http://example.org/*not a comment*/"}}));
}

TEST(StringsTableSyntax, Escapes) {
    const StringsTable table = parsed(R"("quote" = "say \"hi\"";
"controls" = "a\nb\tc\rd\\e\'f";
"umlaut" = "\U00FCber \u00DC";
"emoji" = "\UD83D\UDE00";
"octal" = "\101\102\0";)");
    EXPECT_EQ(table.value("quote"), "say \"hi\"");
    EXPECT_EQ(table.value("controls"), "a\nb\tc\rd\\e'f");
    EXPECT_EQ(table.value("umlaut"), QStringLiteral("über Ü"));
    EXPECT_EQ(table.value("emoji"), QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(table.value("octal"), QString("AB") + QChar(0));
}

TEST(StringsTableSyntax, UnquotedTokensAndBareKeys) {
    const StringsTable table =
        parsed("menu.file_open = Open;\n\"Only key\";\npath/to$x:y-z = \"v\";\nCount = 12;\n");
    EXPECT_EQ(table.value("menu.file_open"), "Open");
    EXPECT_EQ(table.value("Only key"), "Only key");
    EXPECT_EQ(table.value("path/to$x:y-z"), "v");
    EXPECT_EQ(table.value("Count"), "12");
    EXPECT_TRUE(table.contains("Only key"));
    EXPECT_FALSE(table.contains("Missing"));
    EXPECT_TRUE(table.value("Missing").isNull());
    EXPECT_TRUE(parsed("").entries().isEmpty());
    EXPECT_EQ(parsed("\"empty\" = \"\";").value("empty"), QString(""));
}

TEST(StringsTableSyntax, ErrorsNameTheLine) {
    const struct {
        const char* text;
        int line;
    } cases[] = {
        {"\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";\n", 2}, // missing semicolon
        {"\"a\" = \"1\";\n\n\"b\" = \"unterminated;\n", 3},
        {"\"a\" = \"1\";\n/* never closed\n", 2},
        {"\"a\" \"1\";", 1},
        {"\"a\" = ;", 1},
        {"\n\n\"a\" = \"1\";\n{ \"b\" = \"2\"; }", 4},
        {"\"a\" = \"\\u\";", 1},
        {"\"a\" =", 1},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(StringsTable::parse(c.text, &error).has_value()) << c.text;
        EXPECT_TRUE(error.startsWith(QStringLiteral("line %1:").arg(c.line)))
            << c.text << " -> " << error.toStdString();
    }
}
