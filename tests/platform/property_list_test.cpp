#include "platform/property_list.h"

#include <QDateTime>
#include <QSize>
#include <QStringList>
#include <gtest/gtest.h>
#include <limits>
#include <plist/plist.h>

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
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">") + body +
           "</plist>\n";
}

} // namespace

TEST(PropertyListTypes, ScalarsAndIntegersComeBackAsTheirPlistKinds) {
    const struct {
        QVariant in;
        QMetaType::Type type;
        QVariant out;
    } cases[] = {{QStringLiteral("Grüße <&>"), QMetaType::QString, QStringLiteral("Grüße <&>")},
                 {QString(""), QMetaType::QString, QString("")},
                 {true, QMetaType::Bool, true},
                 {false, QMetaType::Bool, false},
                 {42, QMetaType::LongLong, qint64(42)},
                 {7u, QMetaType::LongLong, qint64(7)},
                 {2.5, QMetaType::Double, 2.5},
                 {QByteArray("\x00\x01\xff", 3), QMetaType::QByteArray, QByteArray("\x00\x01\xff", 3)}};
    for (const auto& c : cases) {
        const QVariant back = roundTrip(QVariantMap{{"v", c.in}}).toMap().value("v");
        EXPECT_EQ(back.typeId(), c.type) << c.in.toString().toStdString();
        EXPECT_EQ(back, c.out) << c.in.toString().toStdString();
    }
    for (qint64 v : {qint64(-1), qint64(-42), std::numeric_limits<qint64>::min(),
                     std::numeric_limits<qint64>::max(), qint64(1) << 40}) {
        EXPECT_TRUE(plist::toXml(QVariant(v)).contains(QByteArray::number(v))) << v;
        EXPECT_EQ(roundTrip(QVariant(v)).toLongLong(), v);
    }
    EXPECT_EQ(plist::parse(wrap("<integer>0x10</integer>"))->toLongLong(), 16);
}

TEST(PropertyListTypes, DatesAreUtcWithWholeSeconds) {
    const QDateTime when(QDate(2024, 2, 29), QTime(13, 14, 15), Qt::UTC);
    const QVariant back = roundTrip(when);
    ASSERT_EQ(back.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(back.toDateTime(), when);
    EXPECT_EQ(back.toDateTime().timeSpec(), Qt::UTC);
    EXPECT_EQ(roundTrip(QDateTime::fromSecsSinceEpoch(0, Qt::UTC)).toDateTime().toSecsSinceEpoch(), 0);
    EXPECT_EQ(plist::parse(wrap("<date>2001-01-01T00:00:00Z</date>"))->toDateTime().toSecsSinceEpoch(),
              978307200);
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
    // Values without a plist form give no XML at all.
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
        good.left(good.size() / 2),         // truncated: libplist returns null
        "<plist><dict><key>a</key></dict>", // libplist returns an empty dict
        wrap("<dict><key>a</key></dict>"),  // key without value, complete document
        wrap("<dict><key>a</key><key>b</key></dict>"),
        wrap("<integer>abc</integer>"), // libplist reads 0
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
    error.clear();
    EXPECT_FALSE(plist::readFile("/nonexistent/quillmoor.plist", &error));
    EXPECT_FALSE(error.isEmpty());
}
