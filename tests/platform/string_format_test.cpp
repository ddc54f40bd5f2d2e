#include "platform/string_format.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

TEST(StringFormatTest, FillsTheSpecifiersTranslationsUse) {
    EXPECT_EQ(formatString(QStringLiteral("%1.2f of %1.2f MByte"), {5.0, 8.0}),
              QStringLiteral("5.00 of 8.00 MByte"));
    EXPECT_EQ(formatString(QStringLiteral("Failed '%@' (%ld, %d%%)"), {QStringLiteral("a b.pdf"), 42, -1}),
              QStringLiteral("Failed 'a b.pdf' (42, -1%)"));
    EXPECT_EQ(formatString(QStringLiteral("%5s|%-4@|%c"), {QStringLiteral("ab"), QStringLiteral("x"), 65}),
              QStringLiteral("   ab|x   |A"));
}

TEST(StringFormatTest, PositionalArgumentsLetATranslationReorder) {
    EXPECT_EQ(formatString(QStringLiteral("mit %2$1.2f über %1$1.2f"), {5.0, 15.0}),
              QStringLiteral("mit 15.00 über 5.00"));
}

TEST(StringFormatTest, MalformedOrMissingArgumentsAreWrittenOutNotRead) {
    EXPECT_EQ(formatString(QStringLiteral("%@ and %@"), {QStringLiteral("one")}),
              QStringLiteral("one and %@"));
    EXPECT_EQ(formatString(QStringLiteral("%3$@"), {1}), QStringLiteral("%3$@"));
    EXPECT_EQ(formatString(QStringLiteral("odd %y and end %"), {1}), QStringLiteral("odd %y and end %"));
    EXPECT_EQ(formatString(QStringLiteral("%1.2"), {1}), QStringLiteral("%1.2"));
    // Fields no text needs, and positions past any number, are damage too.
    EXPECT_EQ(formatString(QStringLiteral("%14444444444.dd"), {1}), QStringLiteral("%14444444444.dd"));
    EXPECT_EQ(formatString(QStringLiteral("%1.99999f|%9999@"), {1.0, QStringLiteral("x")}),
              QStringLiteral("%1.99999f|%9999@"));
    EXPECT_EQ(formatString(QStringLiteral("%99999999999999999999$@"), {1}),
              QStringLiteral("%99999999999999999999$@"));
    EXPECT_EQ(formatString(QStringLiteral("[%999d]"), {7}).size(), 1001);
}

} // namespace
} // namespace qm::platform
