#include "platform/system_log.h"
#include "support/test_support.h"
#include "json/json.h"
#include "json/parser.h"
#include "json/stream_writer.h"
#include "json/value.h"
#include "json/writer.h"

#include <gtest/gtest.h>

#include <limits>

namespace qm::json {
namespace {

// A type of the program that offers itself as a JSON object through a registered conversion.
struct Point {
    int x = 0;
};

QVariant parse(const QString& text, QString* error = nullptr) {
    Parser parser;
    const QVariant value = parser.objectWithString(text).valueOr(QVariant());
    if (error)
        *error = parser.error();
    return value;
}

QString write(const QVariant& value, bool sortKeys = false, bool humanReadable = false) {
    Writer writer;
    writer.setSortKeys(sortKeys);
    writer.setHumanReadable(humanReadable);
    const auto text = writer.stringWithObject(value);
    return text ? *text : QStringLiteral("error: ") + writer.error();
}

QString nested(int depth) {
    return QString(depth, QLatin1Char('[')) + QString(depth, QLatin1Char(']'));
}

QVariant first(const QVariant& array) {
    return array.toList().value(0);
}

TEST(JsonParserTest, TopLevelIsObjectOrArrayAndReadingStopsAfterIt) {
    QString error;
    EXPECT_FALSE(parse(QStringLiteral("42 "), &error).isValid());
    EXPECT_EQ(error, "Token 'number' not expected before outer-most array or object");
    EXPECT_FALSE(parse(QStringLiteral("42"), &error).isValid());
    EXPECT_EQ(error, "Didn't find full object before EOF");
    EXPECT_FALSE(parse(QStringLiteral("\"x\""), &error).isValid());
    EXPECT_EQ(error, "Token 'string' not expected before outer-most array or object");
    EXPECT_EQ(parse(QStringLiteral("[1] stray }}")), QVariantList({qint64(1)}));
    EXPECT_EQ(parse(QStringLiteral(" {}")), QVariant::fromValue(Object()));
}

TEST(JsonParserTest, ValuesMapToQtTypes) {
    const QVariant value = parse(QStringLiteral(R"({"b":[true,false,null,"s"],"a":{"x":-3}})"));
    const Object object = value.value<Object>();
    EXPECT_EQ(object.keys(), QStringList({"b", "a"}));
    const QVariantList array = object.value("b").toList();
    ASSERT_EQ(array.size(), 4);
    EXPECT_EQ(array[0], QVariant(true));
    EXPECT_EQ(array[1], QVariant(false));
    EXPECT_EQ(array[2].metaType().id(), QMetaType::Nullptr);
    EXPECT_EQ(array[3], QVariant(QStringLiteral("s")));
    EXPECT_EQ(value.toMap().value("a").toMap().value("x").toLongLong(), -3);
    // A repeated key keeps its first position and its last value.
    EXPECT_EQ(parse(QStringLiteral(R"({"a":1,"b":2,"a":3})")).value<Object>(), (Object{{"a", 3}, {"b", 2}}));
}

TEST(JsonParserTest, NumbersByTokenLength) {
    const struct {
        const char* text;
        int type;
    } cases[] = {
        {"1.25", QMetaType::Double},
        {"-1e5", QMetaType::Double},
        {"3.14159265", qMetaTypeId<Decimal>()},
        {"12345678901", QMetaType::LongLong},
        {"-1234567890", QMetaType::LongLong},
        {"123456789012", qMetaTypeId<Decimal>()},
        {"1.5e-300", qMetaTypeId<Decimal>()},
    };
    for (const auto& c : cases) {
        const QVariant number = first(parse(QStringLiteral("[%1]").arg(QLatin1String(c.text))));
        EXPECT_EQ(number.metaType().id(), c.type) << c.text;
        EXPECT_EQ(number.toDouble(), QByteArray(c.text).toDouble()) << c.text;
    }
    EXPECT_EQ(first(parse(QStringLiteral("[3.14159265]"))).value<Decimal>().text, "3.14159265");
    EXPECT_EQ(first(parse(QStringLiteral("[3.14159265]"))).toString(), "3.14159265");
    EXPECT_EQ(first(parse(QStringLiteral("[12345678901]"))).toLongLong(), 12345678901LL);
}

TEST(JsonParserTest, IntegerReadsOfLongNumbersAreExactWhereTheyFit) {
    // Millisecond dates and sizes over 100 GB are longer than 11 digits, so they arrive as decimals.
    const QVariantList numbers =
        parse(QStringLiteral("[1370000000000,-9223372036854775808,9223372036854775807,18446744073709551615,"
                             "9223372036854775808,123456789012345678901,1234567.5,2.5000000e10]"))
            .toList();
    ASSERT_EQ(numbers.size(), 8);
    bool ok = false;
    EXPECT_EQ(numbers[0].toLongLong(&ok), 1370000000000LL);
    EXPECT_TRUE(ok);
    EXPECT_EQ(numbers[0].toULongLong(), 1370000000000ULL);
    EXPECT_EQ(numbers[1].toLongLong(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(numbers[2].toLongLong(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(numbers[3].toULongLong(&ok), std::numeric_limits<quint64>::max());
    EXPECT_TRUE(ok);
    EXPECT_EQ(numbers[4].toLongLong(&ok), 0);
    EXPECT_FALSE(ok) << "past 64 bits an integer read fails instead of wrapping";
    EXPECT_EQ(numbers[4].toULongLong(), 9223372036854775808ULL);
    EXPECT_EQ(numbers[5].toLongLong(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(numbers[6].toLongLong(), QVariant(1234567.5).toLongLong()) << "as a double's integer read";
    EXPECT_EQ(numbers[7].toLongLong(), 25000000000LL);
}

TEST(JsonParserTest, StringEscapes) {
    EXPECT_EQ(first(parse(QStringLiteral(R"(["a\"\\\/\b\f\n\r\tz"])"))).toString(), "a\"\\/\b\f\n\r\tz");
    EXPECT_EQ(first(parse(QStringLiteral(R"(["\u00e9\u20AC\ud83d\ude00"])"))).toString(),
              QStringLiteral("\u00e9\u20ac\U0001F600"));
    EXPECT_EQ(first(parse(QStringLiteral("[\"\u00e9\U0001F600\"]"))).toString(),
              QStringLiteral("\u00e9\U0001F600"));
}

TEST(JsonParserTest, ErrorMessages) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"", "Didn't find full object before EOF"},
        {"[1, 2", "Didn't find full object before EOF"},
        {"{\"a\":[tr", "Didn't find full object before EOF"},
        {"{\"a\" 1}", "Token 'number' not expected after object key"},
        {"{1:2}", "Token 'number' not expected at beginning of object"},
        {"{\"a\":1,]", "Token 'end of array' not expected in place of object key"},
        {"{\"a\":}", "Token 'end of object' not expected as object value"},
        {"{\"a\":1 \"b\"}", "Token 'string' not expected after object value"},
        {"[:", "Token 'key-value separator' not expected at array start"},
        {"[1 2]", "Token 'number' not expected after array value"},
        {"[1,,", "Token 'value separator' not expected as array value"},
        {"[-]", "No digits after initial minus"},
        {"[012]", "Leading zero is illegal in number at offset 1"},
        {"[1.]", "No digits after decimal point at offset 3"},
        {"[1e+]", "No digits after exponent mark at offset 4"},
        {"[+1]", "Leading + is illegal in numbers at offset 1"},
        {"[\"a\tb\"]", "Unescaped control char 0x09"},
        {"[\"\\udc00\"]", "Invalid high character in surrogate pair"},
        {"[\"\\ud800\\u0041\"]", "Invalid low surrogate char"},
        {"[\"\\ud800x\"]", "Missing low character in surrogate pair"},
        {"[\"\\u12g4\"]", "Missing hex quad"},
        {"[\"ab\\x\"]", "Broken escape character at index 4 in token starting at offset 1"},
        {"[@]", "Unrecognised leading character at offset 1"},
        {"[trux]", "Expected 'true' but found 'trux'."},
        {"[fals]", "Expected 'false' but found 'fals]'."},
        {"[nul ]", "Expected 'null' but found 'nul '."},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(parse(QString::fromUtf8(c.text), &error).isValid()) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
    Parser parser;
    const auto parsed = parser.objectWithString(QString());
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error(), platform::Error("org.quillmoor.json", 0, "Input was 'nil'"));
}

TEST(JsonParserTest, DepthLimit) {
    EXPECT_EQ(Parser().maxDepth(), 512u);
    EXPECT_TRUE(parse(nested(512)).isValid());
    QString error;
    EXPECT_FALSE(parse(nested(513), &error).isValid());
    EXPECT_EQ(error, "Parser exceeded max depth of 512");
}

TEST(JsonWriterTest, ValuesAndKeyOrder) {
    const Object object{{"b", 1}, {"a", 2}};
    EXPECT_EQ(write(QVariant::fromValue(object)), R"({"b":1,"a":2})");
    EXPECT_EQ(write(QVariant::fromValue(object), true), R"({"a":2,"b":1})");
    EXPECT_EQ(write(QVariantMap{{"b", 1}, {"a", 2}}), R"({"a":2,"b":1})");
    EXPECT_EQ(write(QVariantHash{{"b", 1}, {"a", 2}}, true), R"({"a":2,"b":1})");
    EXPECT_EQ(write(QStringList{"x", "y"}), R"(["x","y"])");
    EXPECT_EQ(write(QVariantList{true, false, QVariant::fromValue(nullptr), QVariant(), -7, 7u,
                                 std::numeric_limits<qint64>::min(), std::numeric_limits<quint64>::max()}),
              "[true,false,null,null,-7,7,-9223372036854775808,18446744073709551615]");
    EXPECT_EQ(write(QVariantList{0.1234567, 1.5, 1e20, 2.0f, QVariant::fromValue(Decimal{"3.14159265"})}),
              "[0.123457,1.5,1e+20,2,3.14159265]");
}

TEST(JsonWriterTest, StringEscapes) {
    EXPECT_EQ(write(QStringList{QStringLiteral("a/b\tc\"\\\b\f\n\r\x01\x1f\u00e9\U0001F600")}),
              QStringLiteral("[\"a/b\\tc\\\"\\\\\\b\\f\\n\\r\\u0001\\u001f\u00e9\U0001F600\"]"));
}

TEST(JsonWriterTest, TypesConvertibleToObjectAreWrittenAsThatObject) {
    QMetaType::registerConverter<Point, Object>([](const Point& p) { return Object{{"x", p.x}}; });
    EXPECT_EQ(write(QVariant::fromValue(Point{3})), R"({"x":3})");
    EXPECT_EQ(write(QVariantList{QVariant::fromValue(Point{4})}), R"([{"x":4}])");
}

TEST(JsonWriterTest, HumanReadableLayout) {
    const Object object{{"a", QVariantList{1, QVariantList{}}},
                        {"b", QVariant::fromValue(Object{{"c", "d"}})}};
    EXPECT_EQ(write(QVariant::fromValue(object), false, true),
              "{\n  \"a\": [\n    1,\n    []\n  ],\n  \"b\": {\n    \"c\": \"d\"\n  }\n}");
}

TEST(JsonWriterTest, ErrorMessages) {
    const struct {
        QVariant value;
        const char* error;
    } cases[] = {
        {QStringLiteral("text"), "Not valid type for JSON"},
        {42, "Not valid type for JSON"},
        {QVariant(), "Not valid type for JSON"},
        {QVariantList{std::numeric_limits<double>::infinity()}, "+Infinity is not a valid number in JSON"},
        {QVariantList{-std::numeric_limits<double>::infinity()}, "-Infinity is not a valid number in JSON"},
        {QVariantList{std::numeric_limits<double>::quiet_NaN()}, "NaN is not a valid number in JSON"},
        {QVariantList{QVariant::fromValue(Decimal{"NaN"})}, "NaN is not a valid number in JSON"},
        {QVariantList{QByteArray("x")}, "JSON serialisation not supported for QByteArray"},
        {QVariant::fromValue(QMap<int, QString>{{1, "x"}}), "JSON object key must be string: 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(write(c.value), QStringLiteral("error: ") + c.error) << c.error;
    Writer writer;
    const auto written = writer.stringWithObject(42);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), platform::Error("org.quillmoor.json", 0, "Not valid type for JSON"));
}

TEST(JsonWriterTest, DepthLimitAndClosedStream) {
    EXPECT_EQ(Writer().maxDepth(), 512u);
    QVariant value = QVariantList{};
    for (int depth = 1; depth < 512; ++depth)
        value = QVariantList{value};
    EXPECT_EQ(write(value), nested(512));
    EXPECT_EQ(write(QVariantList{value}), "error: Nested too deep");

    StreamWriter stream(512, false);
    EXPECT_TRUE(stream.writeArrayOpen() && stream.writeArrayClose());
    EXPECT_FALSE(stream.writeArrayOpen());
    EXPECT_EQ(stream.error(), "Stream is closed");
}

TEST(JsonRoundTripTest, WriteThenReadGivesTheSameValue) {
    const char* documents[] = {
        R"({"name":"Ann \"A\"","tags":["x","y\n"],"n":12,"d":0.5,"big":123456789012,"none":null,"ok":true})",
        R"([[],{},[{}],"\u0001\u00e9\ud83d\ude00",-0.25,1e+20])",
    };
    for (const char* document : documents) {
        const QVariant value = parse(QString::fromUtf8(document));
        ASSERT_TRUE(value.isValid()) << document;
        EXPECT_EQ(parse(write(value)), value) << document;
    }
}

TEST(JsonConvenienceTest, LogsFailures) {
    QStringList log;
    const platform::SystemLog::Capture capture([&](const QString& message) { log.append(message); });
    EXPECT_EQ(jsonValue(QStringLiteral(R"({"a":[1]})")).toMap().value("a").toList().size(), 1);
    EXPECT_EQ(jsonRepresentation(QVariantMap{{"a", "b"}}), R"({"a":"b"})");
    EXPECT_TRUE(log.isEmpty());
    EXPECT_FALSE(jsonValue(QStringLiteral("[")).isValid());
    EXPECT_TRUE(jsonRepresentation(QStringLiteral("x")).isNull());
    EXPECT_EQ(log, QStringList({"-JSONValue failed. Error is: Didn't find full object before EOF",
                                "-JSONRepresentation failed. Error is: Not valid type for JSON"}));
}

} // namespace
} // namespace qm::json
