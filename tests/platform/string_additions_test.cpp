#include "platform/string_additions.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>

namespace qm::platform {
namespace {

TEST(StringAdditionsTest, ContainmentOfAnyWordInOrder) {
    const QString id = QStringLiteral("abc-12345-xyz");
    EXPECT_TRUE(containsString(id, QStringLiteral("12345")));
    EXPECT_FALSE(containsString(id, QString()));
    EXPECT_TRUE(containsWordsInArray(id, {QStringLiteral("nope"), QStringLiteral("12345")}));
    EXPECT_FALSE(containsWordsInArray(id, {}));
    EXPECT_FALSE(containsWordsInArray(id, {QString()}));
    EXPECT_EQ(firstContainingWordFromArray(id, {QStringLiteral("xyz"), QStringLiteral("abc")}),
              QStringLiteral("xyz"));
    EXPECT_TRUE(firstContainingWordFromArray(id, {}).isNull());
    EXPECT_TRUE(firstContainingWordFromArray(id, {QStringLiteral("ABC")}).isNull());
    EXPECT_EQ(firstContainingWordFromArray(id, {QStringLiteral("ABC")}, Qt::CaseInsensitive),
              QStringLiteral("ABC"));
}

TEST(StringAdditionsTest, SizeTextInUnitsOfThousand) {
    EXPECT_EQ(stringFromBytes(0, 0), QStringLiteral("0 B"));
    EXPECT_EQ(stringFromBytes(999, 0), QStringLiteral("999 B"));
    EXPECT_EQ(stringFromBytes(1000, 0), QStringLiteral("1 kB"));
    EXPECT_EQ(stringFromBytes(1500, 0), QStringLiteral("1.5 kB"));
    EXPECT_EQ(stringFromBytes(1'536'000, 0), QStringLiteral("1.54 MB"));
    EXPECT_EQ(stringFromBytes(2'500'000, 0), QStringLiteral("2.5 MB"));
    EXPECT_EQ(stringFromBytes(1024, 0), QStringLiteral("1.02 kB"));
    // Below the base nothing is divided, even when rounding reaches it.
    EXPECT_EQ(stringFromBytes(999.999, 0), QStringLiteral("1000 B"));
    EXPECT_EQ(stringFromBytes(999'999, 0), QStringLiteral("1000 kB"));
    EXPECT_EQ(stringFromBytes(3e9, 0), QStringLiteral("3 GB"));
    EXPECT_EQ(stringFromBytes(4e12, 0), QStringLiteral("4 TB"));
    EXPECT_EQ(stringFromBytes(5e15, 0), QStringLiteral("5 PB"));
    EXPECT_EQ(stringFromBytes(6e18, 0), QStringLiteral("6 EB"));
    EXPECT_EQ(stringFromBytes(7e21, 0), QStringLiteral("7 ZB"));
}

TEST(StringAdditionsTest, SizeTextRoundsHalfEvenOnTheDecimalDigits) {
    EXPECT_EQ(stringFromBytes(1125, 0), QStringLiteral("1.12 kB"));
    EXPECT_EQ(stringFromBytes(1135, 0), QStringLiteral("1.14 kB"));
    EXPECT_EQ(stringFromBytes(1145, 0), QStringLiteral("1.14 kB"));
    EXPECT_EQ(stringFromBytes(1145.5, 0), QStringLiteral("1.15 kB"));
    EXPECT_EQ(stringFromBytes(1999, 0), QStringLiteral("2 kB"));
    EXPECT_EQ(stringFromBytes(0.005, 0), QStringLiteral("0 B"));
    EXPECT_EQ(stringFromBytes(0.015, 0), QStringLiteral("0.02 B"));
    EXPECT_EQ(stringFromBytes(-12.5, 0), QStringLiteral("-12.5 B"));
}

TEST(StringAdditionsTest, SizeTextInUnitsOf1024UpToYotta) {
    EXPECT_EQ(stringFromBytes(1023, SizeTextBase1024), QStringLiteral("1023 B"));
    EXPECT_EQ(stringFromBytes(1024, SizeTextBase1024), QStringLiteral("1 kB"));
    EXPECT_EQ(stringFromBytes(1536, SizeTextBase1024), QStringLiteral("1.5 kB"));
    EXPECT_EQ(stringFromBytes(1'048'576, SizeTextBase1024), QStringLiteral("1 MB"));
    const QStringList prefixes = {"k", "M", "G", "T", "P", "E", "Z", "Y"};
    for (int power = 1; power <= 8; ++power)
        EXPECT_EQ(stringFromBytes(std::ldexp(1.5, 10 * power), SizeTextBase1024),
                  QStringLiteral("1.5 %1B").arg(prefixes[power - 1]));
    // After eight divisions the quotient stays as large as it is.
    EXPECT_EQ(stringFromBytes(std::ldexp(1.0, 90), SizeTextBase1024), QStringLiteral("1024 YB"));
    EXPECT_EQ(stringFromBytes(std::ldexp(1.0, 100), SizeTextBase1024), QStringLiteral("1048576 YB"));
}

TEST(StringAdditionsTest, SizeTextFlagTwoUses1024OnlyOnOlderSystems) {
    EXPECT_TRUE(leopardOrGreater());
    EXPECT_EQ(stringFromBytes(1024, SizeTextBase1024BeforeLeopard), QStringLiteral("1.02 kB"));
    EXPECT_EQ(stringFromBytes(1024, SizeTextBase1024BeforeLeopard, true), QStringLiteral("1.02 kB"));
    EXPECT_EQ(stringFromBytes(1024, SizeTextBase1024BeforeLeopard, false), QStringLiteral("1 kB"));
    EXPECT_EQ(stringFromBytes(1024, 0, false), QStringLiteral("1.02 kB"));
    EXPECT_EQ(stringFromBytes(1024, SizeTextBase1024 | SizeTextBase1024BeforeLeopard, true),
              QStringLiteral("1 kB"));
}

TEST(StringAdditionsTest, SizeTextIsLocalizedOnlyWithFlagFour) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(stringFromBytes(1'536'000, 0), QStringLiteral("1.54 MB"));
    EXPECT_EQ(stringFromBytes(1023, SizeTextBase1024), QStringLiteral("1023 B"));
    EXPECT_EQ(stringFromBytes(1'536'000, SizeTextLocalized), QStringLiteral("1,54 MB"));
    EXPECT_EQ(stringFromBytes(1000, SizeTextLocalized), QStringLiteral("1 kB"));
    EXPECT_EQ(stringFromBytes(1023, SizeTextBase1024 | SizeTextLocalized), QStringLiteral("1.023 B"));
    EXPECT_EQ(stringFromBytes(1023.456, SizeTextBase1024 | SizeTextLocalized), QStringLiteral("1.023,46 B"));
    QLocale::setDefault(saved);
}

TEST(StringAdditionsTest, Sha1OfUtf8Bytes) {
    EXPECT_EQ(sha1Digest(QStringLiteral("abc")), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(sha1Digest(QString()), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    EXPECT_EQ(sha1Digest(QStringLiteral("The quick brown fox jumps over the lazy dog")),
              QStringLiteral("2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"));
    EXPECT_EQ(sha1Digest(QStringLiteral("é")), QStringLiteral("bf15be717ac1b080b4f1c456692825891ff5073d"));
}

TEST(StringAdditionsTest, Base64OfTextInAnEncoding) {
    EXPECT_EQ(stringByEncodingBase64(QStringLiteral("abc"), QStringConverter::Utf8), QStringLiteral("YWJj"));
    EXPECT_EQ(stringByEncodingBase64(QStringLiteral("é"), QStringConverter::Utf8), QStringLiteral("w6k="));
    EXPECT_EQ(stringByEncodingBase64(QStringLiteral("é"), QStringConverter::Latin1), QStringLiteral("6Q=="));
    EXPECT_TRUE(stringByEncodingBase64(QStringLiteral("€"), QStringConverter::Latin1).isNull());
    EXPECT_EQ(stringByEncodingBase64(QString(49, u'a'), QStringConverter::Utf8).size(), 64 + 2 + 4);

    EXPECT_EQ(stringByDecodingBase64(QStringLiteral("w6k="), QStringConverter::Utf8), QStringLiteral("é"));
    EXPECT_EQ(stringByDecodingBase64(QStringLiteral("6Q=="), QStringConverter::Latin1), QStringLiteral("é"));
    EXPECT_TRUE(stringByDecodingBase64(QStringLiteral("6Q=="), QStringConverter::Utf8).isNull());
    EXPECT_TRUE(stringByDecodingBase64(QStringLiteral("ww=="), QStringConverter::Utf8).isNull());
    const QString empty = stringByDecodingBase64(QString(), QStringConverter::Utf8);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isNull());
}

std::optional<QString> decodeQP(const QString& text, Error* error = nullptr,
                                QStringConverter::Encoding fallback = QStringConverter::Latin1) {
    return stringWithQuotedPrintableString(text, fallback, error);
}

TEST(StringAdditionsTest, QuotedPrintableBytesAndSoftBreaks) {
    EXPECT_EQ(decodeQP(QStringLiteral("plain text")), QStringLiteral("plain text"));
    EXPECT_EQ(decodeQP(QStringLiteral("a=3Db")), QStringLiteral("a=b"));
    EXPECT_EQ(decodeQP(QStringLiteral("Caf=C3=A9")), QStringLiteral("Café"));
    EXPECT_EQ(decodeQP(QStringLiteral("long=\nline")), QStringLiteral("longline"));
    EXPECT_EQ(decodeQP(QStringLiteral("long=\rline")), QStringLiteral("longline"));
    EXPECT_EQ(decodeQP(QStringLiteral("long=\r\nline")), QStringLiteral("long\nline"));
    EXPECT_EQ(decodeQP(QStringLiteral("hard\r\nbreak")), QStringLiteral("hard\r\nbreak"));
    EXPECT_EQ(decodeQP(QStringLiteral("ü=3D")), QStringLiteral("ü="));
    EXPECT_EQ(decodeQP(QString()), QString());
    // Input ends at its first NUL, like the C string it is read as.
    EXPECT_EQ(decodeQP(QStringLiteral("ab") + QChar(0) + QStringLiteral("=")), QStringLiteral("ab"));
}

TEST(StringAdditionsTest, QuotedPrintableFallsBackWhenNotUtf8) {
    EXPECT_EQ(decodeQP(QStringLiteral("=E9t=E9")), QStringLiteral("été"));
    EXPECT_EQ(decodeQP(QStringLiteral("trail=C3")), QStringLiteral("trailÃ"));
    EXPECT_EQ(decodeQP(QStringLiteral("=80"), nullptr, QStringConverter::Latin1), QString(QChar(0x80)));
    // Mixed input: once anything is not UTF-8, every byte is read in the fallback.
    EXPECT_EQ(decodeQP(QStringLiteral("=C3=A9=E9")), QStringLiteral("Ã©é"));
}

TEST(StringAdditionsTest, QuotedPrintableErrors) {
    const struct {
        QString input;
        int code;
        QString message;
    } cases[] = {
        {"abc=", QuotedPrintablePrematureEnd, "Premature end in quoted printable string: abc="},
        {"x=A", QuotedPrintablePrematureEnd, "Premature end in quoted printable string: x=A"},
        {"=e9", QuotedPrintableInvalidCharacter, "Invalid character 'e' in quoted printable string: =e9"},
        {"a= b", QuotedPrintableInvalidCharacter, "Invalid character ' ' in quoted printable string: a= b"},
        {"=G0", QuotedPrintableInvalidCharacter, "Invalid character 'G' in quoted printable string: =G0"},
        {"=ü", QuotedPrintableInvalidCharacter, "Invalid character 'ü' in quoted printable string: =ü"},
        {"=3d", QuotedPrintableBadEncodedCharacter, "bad encoded character"},
        {"=A\n", QuotedPrintableBadEncodedCharacter, "bad encoded character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        Error error;
        EXPECT_EQ(decodeQP(c.input, &error), std::nullopt);
        EXPECT_EQ(error.domain, QStringLiteral("QMStringErrorDomain"));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.localizedDescription, c.message);
    }
    EXPECT_EQ(decodeQP(QStringLiteral("=")), std::nullopt);
}

} // namespace
} // namespace qm::platform
