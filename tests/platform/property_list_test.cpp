#include "platform/property_list.h"

#include <QDateTime>
#include <QSize>
#include <QStringList>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <limits>

using namespace qm::platform;

namespace {

QVariant roundTrip(const QVariant& value) {
    const QByteArray xml = plist::toXml(value);
    EXPECT_FALSE(xml.isEmpty());
    QString error;
    const auto parsed = plist::parse(xml, &error);
    EXPECT_TRUE(parsed.has_value()) << error.toStdString() << "\n" << xml.toStdString();
    return parsed.value_or(QVariant());
}

QByteArray wrap(const char* body) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">") + body + "</plist>\n";
}

} // namespace

TEST(PropertyListTypes, ScalarsComeBackAsTheirPlistKinds) {
    const QVariantMap in{{"s", QStringLiteral("Grüße <&>")}, {"t", true},           {"f", false},
                         {"i", 42},                          {"u", 7u},             {"r", 2.5},
                         {"d", QByteArray("\x00\x01\xff", 3)}, {"empty", QString("")}};
    const QVariantMap out = roundTrip(in).toMap();
    EXPECT_EQ(out.value("s").toString(), QStringLiteral("Grüße <&>"));
    EXPECT_EQ(out.value("t").typeId(), QMetaType::Bool);
    EXPECT_TRUE(out.value("t").toBool());
    EXPECT_FALSE(out.value("f").toBool());
    EXPECT_EQ(out.value("i").typeId(), QMetaType::LongLong);
    EXPECT_EQ(out.value("i").toLongLong(), 42);
    EXPECT_EQ(out.value("u").toLongLong(), 7);
    EXPECT_EQ(out.value("r").typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(out.value("r").toDouble(), 2.5);
    EXPECT_EQ(out.value("d").typeId(), QMetaType::QByteArray);
    EXPECT_EQ(out.value("d").toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(out.value("empty").typeId(), QMetaType::QString);
    EXPECT_TRUE(out.value("empty").toString().isEmpty());
}

TEST(PropertyListTypes, NegativeAndLargeIntegersSurviveBothWays) {
    const qint64 values[] = {-1, -42, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
                             qint64(1) << 40};
    for (qint64 v : values) {
        const QByteArray xml = plist::toXml(QVariant(v));
        EXPECT_TRUE(xml.contains(QByteArray::number(v))) << xml.toStdString();
        EXPECT_EQ(roundTrip(QVariant(v)).toLongLong(), v);
    }
    EXPECT_EQ(plist::parse(wrap("<integer>-1</integer>"))->toLongLong(), -1);
    EXPECT_EQ(plist::parse(wrap("<integer>0x10</integer>"))->toLongLong(), 16);
}

TEST(PropertyListTypes, DatesAreUtcWithWholeSeconds) {
    const QDateTime when(QDate(2024, 2, 29), QTime(13, 14, 15), Qt::UTC);
    const QVariant back = roundTrip(when);
    ASSERT_EQ(back.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(back.toDateTime(), when);
    EXPECT_EQ(back.toDateTime().timeSpec(), Qt::UTC);

    const QDateTime old(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(roundTrip(old).toDateTime(), old);
    EXPECT_EQ(plist::parse(wrap("<date>2001-01-01T00:00:00Z</date>"))->toDateTime().toSecsSinceEpoch(), 978307200);
    // libplist 2.2 keeps dates in an int32 of seconds since 2001.
    EXPECT_TRUE(plist::toXml(QDateTime(QDate(2200, 1, 1), QTime(0, 0), Qt::UTC)).isEmpty());
}

TEST(PropertyListTypes, NestedContainersAndStringLists) {
    const QVariantMap in{{"list", QStringList{"a", "b"}},
                         {"nested", QVariantMap{{"inner", QVariantList{1, QVariantMap{{"deep", -3}}}}}},
                         {"hash", QVariantHash{{"h", "v"}}},
                         {"none", QVariantList{}}};
    const QVariantMap out = roundTrip(in).toMap();
    EXPECT_EQ(out.value("list").toList(), (QVariantList{"a", "b"}));
    const QVariantList inner = out.value("nested").toMap().value("inner").toList();
    ASSERT_EQ(inner.size(), 2);
    EXPECT_EQ(inner[0].toLongLong(), 1);
    EXPECT_EQ(inner[1].toMap().value("deep").toLongLong(), -3);
    EXPECT_EQ(out.value("hash").toMap().value("h").toString(), "v");
    EXPECT_EQ(out.value("none").typeId(), QMetaType::QVariantList);
}

TEST(PropertyListTypes, ValuesWithoutPlistFormGiveNoXml) {
    EXPECT_TRUE(plist::toXml(QVariant()).isEmpty());
    EXPECT_TRUE(plist::toXml(QVariantMap{{"ok", 1}, {"bad", QVariant::fromValue(QSize(1, 2))}}).isEmpty());
}

TEST(PropertyListParse, ReadsBinaryPropertyLists) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "n", plist_new_uint(static_cast<uint64_t>(-5)));
    plist_dict_set_item(dict, "s", plist_new_string("bin"));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bytes, &length);
    const QByteArray binary(bytes, length);
    plist_to_bin_free(bytes);
    plist_free(dict);

    const auto parsed = plist::parse(binary);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->toMap().value("n").toLongLong(), -5);
    EXPECT_EQ(parsed->toMap().value("s").toString(), "bin");

    QString error;
    EXPECT_FALSE(plist::parse(binary.left(binary.size() - 10), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(PropertyListParse, DamagedInputIsReportedNotGuessed) {
    const QByteArray good = plist::toXml(QVariantMap{{"a", 1}, {"b", QVariantList{"x", "y"}}});
    const QByteArray damaged[] = {
        good.left(good.size() / 2),                   // truncated: libplist returns null
        "<plist><dict><key>a</key></dict>",           // libplist returns an empty dict
        wrap("<dict><key>a</key></dict>"),             // key without value, complete document
        wrap("<dict><key>a</key><key>b</key></dict>"),
        wrap("<integer>abc</integer>"),               // libplist reads 0
        wrap("<dict><string>x</string></dict>"),
        wrap("<string>a</string><string>b</string>"),
        good + "trailing",
        "bplist00\x01\x02garbage",
        QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
        "",
    };
    for (const QByteArray& bytes : damaged) {
        QString error;
        EXPECT_FALSE(plist::parse(bytes, &error).has_value()) << bytes.toStdString();
        EXPECT_FALSE(error.isEmpty()) << bytes.toStdString();
    }
    QString error;
    plist::parse(wrap("<dict><key>a</key></dict>"), &error);
    EXPECT_TRUE(error.contains("line")) << error.toStdString();
}

TEST(PropertyListParse, ReadFileReportsMissingFiles) {
    QString error;
    EXPECT_FALSE(plist::readFile("/nonexistent/quillmoor.plist", &error));
    EXPECT_FALSE(error.isEmpty());
}
