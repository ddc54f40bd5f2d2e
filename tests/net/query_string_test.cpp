#include "net/query_string.h"
#include "json/parser.h"
#include "json/value.h"

#include <gtest/gtest.h>

using namespace qm::net;

namespace {

QStringList encoded(const QList<QueryStringPair>& pairs) {
    QStringList out;
    for (const auto& pair : pairs)
        out.append(pair.urlEncodedStringValue());
    return out;
}

} // namespace

TEST(QueryString, NestedDictionaryFlattensInCaseInsensitiveKeyOrder) {
    const QVariantMap inner{{"y", 2}, {"x", QVariantList{3, 4}}};
    const QVariantMap params{{"b", 1}, {"A", inner}};
    const auto pairs = queryStringPairsFromDictionary(params);
    ASSERT_EQ(pairs.size(), 4);
    EXPECT_EQ(pairs[0].fieldText(), "A[x][]");
    EXPECT_EQ(pairs[0].valueText(), "3");
    EXPECT_EQ(pairs[1].fieldText(), "A[x][]");
    EXPECT_EQ(pairs[1].valueText(), "4");
    EXPECT_EQ(pairs[2].fieldText(), "A[y]");
    EXPECT_EQ(pairs[3].fieldText(), "b");
    EXPECT_EQ(queryStringFromParameters(params), "A[x][]=3&A[x][]=4&A[y]=2&b=1");
}

TEST(QueryString, CaseDoesNotInfluenceOrder) {
    const QVariantMap params{{"b", "2"}, {"A", "1"}, {"c", "3"}, {"B2", "4"}};
    EXPECT_EQ(queryStringFromParameters(params), "A=1&b=2&B2=4&c=3");
}

TEST(QueryString, NullValueGivesBareName) {
    EXPECT_EQ(queryStringFromParameters(QVariantMap{{"flag", QVariant::fromValue(nullptr)}, {"k", "v"}}),
              "flag&k=v");
    EXPECT_EQ(QueryStringPair("a b", QVariant()).urlEncodedStringValue(), "a%20b");
}

TEST(QueryString, ValueEscaping) {
    EXPECT_EQ(QueryStringPair("v", "a b&c").urlEncodedStringValue(), "v=a%20b%26c");
    EXPECT_EQ(percentEscapedQueryStringValueFromString("files[]"), "files%5B%5D");
    EXPECT_EQ(percentEscapedQueryStringValueFromString(":/?&=;+!@#$()',*"),
              "%3A%2F%3F%26%3D%3B%2B%21%40%23%24%28%29%27%2C%2A");
    EXPECT_EQ(percentEscapedQueryStringValueFromString("%\"<>\\^`{|}\n\t"),
              "%25%22%3C%3E%5C%5E%60%7B%7C%7D%0A%09");
    EXPECT_EQ(percentEscapedQueryStringValueFromString("Az09-_.~"), "Az09-_.~");
    EXPECT_EQ(percentEscapedQueryStringValueFromString(QString::fromUtf8("é€")), "%C3%A9%E2%82%AC");
}

TEST(QueryString, KeyEscapingKeepsBrackets) {
    EXPECT_EQ(percentEscapedQueryStringKeyFromString("files[]"), "files[]");
    EXPECT_EQ(percentEscapedQueryStringKeyFromString("a[b c].d"), "a[b%20c].d");
    EXPECT_EQ(percentEscapedQueryStringKeyFromString("k=&+"), "k%3D%26%2B");
    EXPECT_EQ(queryStringFromParameters(QVariantMap{{"files", QVariantList{"x[1]", "y z"}}}),
              "files[]=x%5B1%5D&files[]=y%20z");
}

TEST(QueryString, NumbersInDecimalAndSpaceNeverPlus) {
    EXPECT_EQ(queryStringFromParameters(QVariantMap{{"n", 42}, {"d", 1.5}, {"s", "a+b c"}, {"t", true}}),
              "d=1.5&n=42&s=a%2Bb%20c&t=1");
}

TEST(QueryString, EmptyContainersContributeNothing) {
    EXPECT_EQ(queryStringFromParameters(QVariantMap{}), "");
    const QVariantMap params{{"a", QVariantList{}}, {"b", QVariant::fromValue(ValueSet{})}, {"c", "1"}};
    EXPECT_EQ(queryStringFromParameters(params), "c=1");
}

TEST(QueryString, SetElementsKeepTheKeyUnchanged) {
    const QVariantMap params{{"tag", QVariant::fromValue(ValueSet{{"x", "y"}})}};
    EXPECT_EQ(queryStringFromParameters(params), "tag=x&tag=y");
}

TEST(QueryString, KeyAndValueWithOuterKey) {
    const auto pairs = queryStringPairsFromKeyAndValue("user", QVariantMap{{"name", "Jo"}, {"Age", 3}});
    EXPECT_EQ(encoded(pairs), (QStringList{"user[Age]=3", "user[name]=Jo"}));
    EXPECT_EQ(encoded(queryStringPairsFromKeyAndValue("k", "v")), QStringList{"k=v"});
}

TEST(QueryString, HashDictionaryAndStringListAreSupported) {
    const QVariantHash params{{"z", QStringList{"1", "2"}}, {"a", QVariantHash{{"B", "x"}, {"a", "y"}}}};
    EXPECT_EQ(queryStringFromParameters(params), "a[a]=y&a[B]=x&z[]=1&z[]=2");
}

TEST(QueryString, Latin1Encoding) {
    EXPECT_EQ(percentEscapedQueryStringValueFromString(QString::fromUtf8("é"), QStringConverter::Latin1),
              "%E9");
}

TEST(QueryString, ParsedJSONObjectsFlattenAsDictionaries) {
    const QVariant parsed =
        qm::json::Parser().objectWithData(R"({"b": 1, "A": {"y": "2", "x": [3, 4]}})").valueOr(QVariant());
    ASSERT_EQ(parsed.typeId(), qMetaTypeId<qm::json::Object>());
    EXPECT_EQ(queryStringFromParameters(parsed), "A[x][]=3&A[x][]=4&A[y]=2&b=1");
    EXPECT_EQ(queryStringFromParameters(
                  QVariantMap{{"item", QVariant::fromValue(qm::json::Object{{"name", "a b"}})}}),
              "item[name]=a%20b");
}
