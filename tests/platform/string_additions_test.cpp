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
    EXPECT_EQ(firstContainingWordFromArray(id, {QStringLiteral("xyz"), QStringLiteral("abc")}), "xyz");
    EXPECT_TRUE(firstContainingWordFromArray(id, {}).isNull());
    EXPECT_TRUE(firstContainingWordFromArray(id, {QStringLiteral("ABC")}).isNull());
    EXPECT_EQ(firstContainingWordFromArray(id, {QStringLiteral("ABC")}, Qt::CaseInsensitive), "ABC");
}

TEST(StringAdditionsTest, SizeText) {
    constexpr int k1024 = SizeTextBase1024, kOld = SizeTextBase1024BeforeLeopard;
    const struct {
        double bytes;
        int flags;
        const char* expected;
    } cases[] = {
        {0, 0, "0 B"},
        {999, 0, "999 B"},
        {1000, 0, "1 kB"},
        {1500, 0, "1.5 kB"},
        {1024, 0, "1.02 kB"},
        {1'536'000, 0, "1.54 MB"},
        {2'500'000, 0, "2.5 MB"},
        {3e9, 0, "3 GB"},
        {4e12, 0, "4 TB"},
        {5e15, 0, "5 PB"},
        {6e18, 0, "6 EB"},
        {7e21, 0, "7 ZB"},
        // Below the base nothing is divided, even when rounding reaches it.
        {999.999, 0, "1000 B"},
        {999'999, 0, "1000 kB"},
        // Half-even rounding on the decimal digits.
        {1125, 0, "1.12 kB"},
        {1135, 0, "1.14 kB"},
        {1145, 0, "1.14 kB"},
        {1145.5, 0, "1.15 kB"},
        {1999, 0, "2 kB"},
        {0.005, 0, "0 B"},
        {0.015, 0, "0.02 B"},
        {-12.5, 0, "-12.5 B"},
        {1023, k1024, "1023 B"},
        {1024, k1024, "1 kB"},
        {1536, k1024, "1.5 kB"},
        {1'048'576, k1024, "1 MB"},
        // After eight divisions the quotient stays as large as it is.
        {std::ldexp(1.0, 90), k1024, "1024 YB"},
        {std::ldexp(1.0, 100), k1024, "1048576 YB"},
        {1024, kOld, "1.02 kB"},
        {1024, k1024 | kOld, "1 kB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stringFromBytes(c.bytes, c.flags), c.expected) << c.bytes << " flags " << c.flags;
    const QStringList prefixes = {"k", "M", "G", "T", "P", "E", "Z", "Y"};
    for (int power = 1; power <= 8; ++power)
        EXPECT_EQ(stringFromBytes(std::ldexp(1.5, 10 * power), k1024),
                  QStringLiteral("1.5 %1B").arg(prefixes[power - 1]));
    // Flag two uses 1024 only on systems older than 10.5.
    EXPECT_TRUE(leopardOrGreater());
    EXPECT_EQ(stringFromBytes(1024, kOld, true), "1.02 kB");
    EXPECT_EQ(stringFromBytes(1024, kOld, false), "1 kB");
    EXPECT_EQ(stringFromBytes(1024, 0, false), "1.02 kB");
}

TEST(StringAdditionsTest, SizeTextIsLocalizedOnlyWithFlagFour) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(stringFromBytes(1'536'000, 0), "1.54 MB");
    EXPECT_EQ(stringFromBytes(1023, SizeTextBase1024), "1023 B");
    EXPECT_EQ(stringFromBytes(1'536'000, SizeTextLocalized), "1,54 MB");
    EXPECT_EQ(stringFromBytes(1000, SizeTextLocalized), "1 kB");
    EXPECT_EQ(stringFromBytes(1023, SizeTextBase1024 | SizeTextLocalized), "1.023 B");
    EXPECT_EQ(stringFromBytes(1023.456, SizeTextBase1024 | SizeTextLocalized), "1.023,46 B");
    QLocale::setDefault(saved);
}

TEST(StringAdditionsTest, Sha1AndBase64OfText) {
    EXPECT_EQ(sha1Digest(QStringLiteral("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1Digest(QString()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1Digest(QStringLiteral("é")), "bf15be717ac1b080b4f1c456692825891ff5073d"); // of the UTF-8

    EXPECT_EQ(stringByEncodingBase64(QStringLiteral("é"), QStringConverter::Utf8), "w6k=");
    EXPECT_EQ(stringByEncodingBase64(QStringLiteral("é"), QStringConverter::Latin1), "6Q==");
    EXPECT_TRUE(stringByEncodingBase64(QStringLiteral("€"), QStringConverter::Latin1).isNull());
    EXPECT_EQ(stringByEncodingBase64(QString(49, u'a'), QStringConverter::Utf8).size(), 64 + 2 + 4);
    EXPECT_EQ(stringByDecodingBase64(QStringLiteral("w6k="), QStringConverter::Utf8), "é");
    EXPECT_EQ(stringByDecodingBase64(QStringLiteral("6Q=="), QStringConverter::Latin1), "é");
    EXPECT_TRUE(stringByDecodingBase64(QStringLiteral("6Q=="), QStringConverter::Utf8).isNull());
    EXPECT_TRUE(stringByDecodingBase64(QStringLiteral("ww=="), QStringConverter::Utf8).isNull());
    const QString empty = stringByDecodingBase64(QString(), QStringConverter::Utf8);
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isNull());
}

Result<QString> decodeQP(const QString& text) {
    return stringWithQuotedPrintableString(text, QStringConverter::Latin1);
}

TEST(StringAdditionsTest, QuotedPrintableDecoding) {
    const struct {
        QString input, expected;
    } cases[] = {
        {"plain text", "plain text"},
        {"a=3Db", "a=b"},
        {"Caf=C3=A9", "Café"},
        {"long=\nline", "longline"},
        {"long=\rline", "longline"},
        {"long=\r\nline", "long\nline"},
        {"hard\r\nbreak", "hard\r\nbreak"},
        {"ü=3D", "ü="},
        {QString(), QString()},
        // Input ends at its first NUL, like the C string it is read as.
        {QStringLiteral("ab") + QChar(0) + QStringLiteral("="), "ab"},
        // Not UTF-8: the fallback reads every byte, also in mixed input.
        {"=E9t=E9", "été"},
        {"trail=C3", "trailÃ"},
        {"=80", QString(QChar(0x80))},
        {"=C3=A9=E9", "Ã©é"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeQP(c.input).valueOr(QStringLiteral("<failed>")), c.expected) << c.input.toStdString();
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
        const auto decoded = decodeQP(c.input);
        ASSERT_FALSE(decoded);
        const Error& error = decoded.error();
        EXPECT_EQ(error.domain, QStringLiteral("QMStringErrorDomain"));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.localizedDescription, c.message);
    }
    EXPECT_FALSE(decodeQP(QStringLiteral("=")));
}

} // namespace
} // namespace qm::platform
