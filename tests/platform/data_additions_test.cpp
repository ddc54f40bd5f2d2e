#include "platform/base64.h"
#include "platform/data_additions.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

QByteArray encode(const QByteArray& bytes, bool separateLines = true) {
    return newBase64Encode(bytes.constData(), static_cast<std::size_t>(bytes.size()), separateLines);
}

QByteArray decode(const char* text) {
    return newBase64Decode(text);
}

TEST(Base64Test, EncodesWithPadding) {
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("a"), "YQ==");
    EXPECT_EQ(encode("ab"), "YWI=");
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("\xfb\xef\xff"), "++//");
    EXPECT_EQ(newBase64Encode(nullptr, 0, true), "");
    EXPECT_EQ(newBase64Encode("a\0b", 3, false), "YQBi");
}

TEST(Base64Test, SeparatesLinesEvery48InputBytes) {
    EXPECT_EQ(encode(QByteArray(48, 'a')), QByteArray("YWFh").repeated(16));
    EXPECT_EQ(encode(QByteArray(48, 'a')).size(), 64);
    EXPECT_EQ(encode(QByteArray(49, 'a')), QByteArray("YWFh").repeated(16) + "\r\nYQ==");
    const QByteArray ninetySix = encode(QByteArray(96, 'a'));
    EXPECT_EQ(ninetySix.size(), 64 + 2 + 64);
    EXPECT_EQ(ninetySix.indexOf("\r\n"), 64);
    EXPECT_FALSE(ninetySix.endsWith("\r\n"));
    const QByteArray ninetySeven = encode(QByteArray(97, 'a'));
    EXPECT_EQ(ninetySeven.count("\r\n"), 2);
    EXPECT_TRUE(ninetySeven.endsWith("\r\nYQ=="));
    EXPECT_EQ(encode(QByteArray(97, 'a'), false).size(), 132);
    EXPECT_FALSE(encode(QByteArray(97, 'a'), false).contains('\r'));
}

TEST(Base64Test, DecodeSkipsEverythingOutsideTheAlphabet) {
    EXPECT_EQ(decode("YWJj"), "abc");
    EXPECT_EQ(decode("YW Jj"), "abc");
    EXPECT_EQ(decode("Y!W@J#j\r\n"), "abc");
    EXPECT_EQ(decode("Y=W=J=j"), "abc");
    EXPECT_EQ(decode("YQ==YWJj"), QByteArray::fromHex("61061626"));
    EXPECT_EQ(decode("++//"), "\xfb\xef\xff");
    EXPECT_EQ(decode(""), "");
    EXPECT_EQ(newBase64Decode(nullptr), "");
}

TEST(Base64Test, DecodeFinalGroups) {
    EXPECT_EQ(decode("YWJjZGVm"), "abcdef");
    EXPECT_EQ(decode("YWJjZGU"), "abcde");
    EXPECT_EQ(decode("YWJjZA"), "abcd");
    EXPECT_EQ(decode("YWJjZ"), "abc");
    EXPECT_EQ(decode("YQ=="), "a");
    EXPECT_EQ(decode("YWI="), "ab");
    EXPECT_EQ(decode("Y"), "");
}

TEST(Base64Test, DecodeLengthOrUpToNul) {
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

TEST(DataAdditionsTest, Base64OfDataAndText) {
    EXPECT_EQ(base64EncodedString("abc"), QStringLiteral("YWJj"));
    EXPECT_EQ(base64EncodedString(QByteArray(49, 'a')),
              QStringLiteral("YWFh").repeated(16) + QStringLiteral("\r\nYQ=="));
    EXPECT_EQ(dataFromBase64String(QStringLiteral("YW Jj")), "abc");
    EXPECT_EQ(dataFromBase64String(QStringLiteral("YW€Jé\nj")), "abc");
    EXPECT_EQ(dataFromBase64String(QString()), "");
}

TEST(DataAdditionsTest, DigestKnownVectors) {
    EXPECT_EQ(md5HexDigest(""), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(md5HexDigest("abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(md5Digest("abc"), QByteArray::fromHex("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(md5Digest("").size(), 16);
    EXPECT_EQ(sha256HexDigest("abc"),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(sha256HexDigest(""),
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(sha256Digest("abc"),
              QByteArray::fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(sha256Digest("").size(), 32);
}

TEST(DataAdditionsTest, RandomDataHasTheRequestedLength) {
    EXPECT_EQ(randomDataWithBytes(4).size(), 4);
    EXPECT_TRUE(randomDataWithBytes(0).isEmpty());
    EXPECT_TRUE(randomDataWithBytes(-3).isEmpty());
    EXPECT_EQ(randomDataWithBytes(1000).size(), 1000);
    EXPECT_NE(randomDataWithBytes(32), randomDataWithBytes(32));
}

} // namespace
} // namespace qm::platform
