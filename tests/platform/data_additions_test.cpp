#include "platform/base64.h"
#include "platform/data_additions.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

QByteArray encode(const QByteArray& bytes, bool separateLines = true) {
    return newBase64Encode(bytes.constData(), static_cast<std::size_t>(bytes.size()), separateLines);
}

TEST(Base64Test, EncodesWithPaddingAndSeparatesLinesEvery48InputBytes) {
    const QByteArray a16 = QByteArray("YWFh").repeated(16);
    const struct {
        QByteArray input, expected;
    } cases[] = {{"abc", "YWJj"},
                 {"a", "YQ=="},
                 {"ab", "YWI="},
                 {"", ""},
                 {"\xfb\xef\xff", "++//"},
                 {QByteArray(48, 'a'), a16},
                 {QByteArray(49, 'a'), a16 + "\r\nYQ=="},
                 {QByteArray(96, 'a'), a16 + "\r\n" + a16},
                 {QByteArray(97, 'a'), a16 + "\r\n" + a16 + "\r\nYQ=="}};
    for (const auto& c : cases)
        EXPECT_EQ(encode(c.input), c.expected) << c.input.size();
    EXPECT_EQ(newBase64Encode(nullptr, 0, true), "");
    EXPECT_EQ(newBase64Encode("a\0b", 3, false), "YQBi");
    EXPECT_EQ(encode(QByteArray(97, 'a'), false), QByteArray(97, 'a').toBase64());
}

TEST(Base64Test, DecodeSkipsEverythingOutsideTheAlphabetAndReadsFinalGroups) {
    const struct {
        const char* input;
        QByteArray expected;
    } cases[] = {{"YWJj", "abc"},
                 {"YW Jj", "abc"},
                 {"Y!W@J#j\r\n", "abc"},
                 {"Y=W=J=j", "abc"},
                 {"YQ==YWJj", QByteArray::fromHex("61061626")},
                 {"++//", "\xfb\xef\xff"},
                 {"", ""},
                 {"YWJjZGVm", "abcdef"},
                 {"YWJjZGU", "abcde"},
                 {"YWJjZA", "abcd"},
                 {"YWJjZ", "abc"},
                 {"YQ==", "a"},
                 {"YWI=", "ab"},
                 {"Y", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(newBase64Decode(c.input), c.expected) << c.input;
    EXPECT_EQ(newBase64Decode(nullptr), "");
    // A length, or up to the first NUL.
    const char text[] = "YWJj\0YWJj";
    EXPECT_EQ(newBase64Decode(text), "abc");
    EXPECT_EQ(newBase64Decode(text, SIZE_MAX), "abc");
    EXPECT_EQ(newBase64Decode(text, 9), "abcabc");
    EXPECT_EQ(newBase64Decode(text, 2), "a");
}

TEST(Base64Test, RoundTripsEveryByteValue) {
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    const QByteArray text = encode(all);
    EXPECT_EQ(text.count("\r\n"), 5);
    EXPECT_EQ(newBase64Decode(text.constData(), static_cast<std::size_t>(text.size())), all);
    EXPECT_EQ(QByteArray(text).replace("\r\n", ""), all.toBase64());
}

TEST(DataAdditionsTest, Base64DigestsAndRandomData) {
    EXPECT_EQ(base64EncodedString(QByteArray(49, 'a')), QStringLiteral("YWFh").repeated(16) + "\r\nYQ==");
    EXPECT_EQ(dataFromBase64String(QStringLiteral("YW€Jé\nj")), "abc");
    EXPECT_EQ(dataFromBase64String(QString()), "");

    EXPECT_EQ(md5HexDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Digest("abc"), QByteArray::fromHex("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(md5HexDigest("abc"), "900150983cd24fb0d6963f7d28e17f72");
    const char* sha256abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(sha256HexDigest("abc"), sha256abc);
    EXPECT_EQ(sha256Digest("abc"), QByteArray::fromHex(sha256abc));
    EXPECT_EQ(sha256HexDigest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    EXPECT_EQ(randomDataWithBytes(1000).size(), 1000);
    EXPECT_TRUE(randomDataWithBytes(0).isEmpty());
    EXPECT_TRUE(randomDataWithBytes(-3).isEmpty());
    EXPECT_NE(randomDataWithBytes(32), randomDataWithBytes(32));
}

} // namespace
} // namespace qm::platform
