#include <gtest/gtest.h>

#include <algorithm>
#include <locale>
#include <string>
#include <vector>

#include "SMJSONxx.h"

using jsonxx::Array;
using jsonxx::Number;
using jsonxx::Object;
using jsonxx::String;

namespace {

Object parsed(const std::string& text) {
    Object o;
    EXPECT_TRUE(o.parse(text)) << text;
    return o;
}

TEST(JsonParser, AcceptsTrailingCommasCommentsAndSingleQuotes) {
    Object o = parsed(
        "{ // leading comment\n"
        "  'list': [1, 'two', ], // after a member\r"
        "  // a line of its own\n"
        "  \"n\": null,\n"
        "  \"t\": true, \"f\": false,\n"
        "}");
    ASSERT_TRUE(o.has<Array>("list"));
    const Array& list = o.get<Array>("list");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.get<Number>(0), 1);
    EXPECT_EQ(list.get<String>(1), "two");
    EXPECT_TRUE(o.has<jsonxx::Null>("n"));
    EXPECT_TRUE(o.get<bool>("t"));
    EXPECT_FALSE(o.get<bool>("f"));

    EXPECT_EQ(parsed("{}").size(), 0u);
    EXPECT_EQ(parsed("{ 'a': [] }").get<Array>("a").size(), 0u);
    Object o2;
    EXPECT_FALSE(o2.parse("{ unquoted: 1 }"));
    EXPECT_FALSE(o2.parse("{ \"a\": 1 \"b\": 2 }"));
    EXPECT_FALSE(o2.parse("{ , }"));
    EXPECT_FALSE(o2.parse("{ \"a\": [,] }"));
}

TEST(JsonParser, NumbersReadAsExtendedFloatingValues) {
    Object o = parsed("{\"a\": 2.9, \"b\": 1e2, \"c\": -0.5E-1, \"d\": +7, \"e\": .5, \"f\": 5.}");
    EXPECT_EQ(static_cast<int>(o.get<Number>("a")), 2);
    EXPECT_EQ(o.get<Number>("b"), 100);
    EXPECT_EQ(o.get<Number>("c"), -0.05L);
    EXPECT_EQ(o.get<Number>("d"), 7);
    EXPECT_EQ(o.get<Number>("e"), 0.5);
    EXPECT_EQ(o.get<Number>("f"), 5);

    Object bad;
    for (const char* text : {"{\"a\": -}", "{\"a\": .}", "{\"a\": 1e}", "{\"a\": 1.2.3}",
                             "{\"a\": 0x10}", "{\"a\": inf}", "{\"a\": NaN}", "{\"a\": tru}"})
        EXPECT_FALSE(bad.parse(text)) << text;
}

TEST(JsonParser, NumbersOutsideThirtyTwoBitsAreAbsent) {
    Object o = parsed(
        "{\"max\": 2147483647, \"min\": -2147483648, \"frac\": 2147483647.5,"
        " \"over\": 2147483648, \"under\": -2147483649, \"huge\": 1e400, \"huger\": -1e5000,"
        " \"tiny\": 1e-5000, \"dup\": 1, \"dup\": 1e10, \"list\": [1, 1e30, 2]}");
    EXPECT_EQ(o.get<Number>("max"), 2147483647);
    EXPECT_EQ(o.get<Number>("min"), -2147483648.0L);
    EXPECT_TRUE(o.has<Number>("frac"));
    EXPECT_EQ(o.get<Number>("tiny"), 0);
    for (const char* key : {"over", "under", "huge", "huger", "dup"})
        EXPECT_EQ(o.members().count(key), 0u) << key;
    const Array& list = o.get<Array>("list");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_FALSE(list.has<Number>(1));
    EXPECT_EQ(list.get<Number>(2), 2);
}

TEST(JsonParser, StringEscapes) {
    Object o = parsed(
        "{\"a\": \"x\\/y\\\\z\\b\\f\\n\\r\\t\", \"b\": \"\\u0041\\u01ff\\u00\", \"c\": 'it\\'s',"
        " \"d\": 'say \\\"hi\\\"', \"e\": \"\\q\\\"\", \"f\": \"raw\nline\"}");
    EXPECT_EQ(o.get<String>("a"), "x/y\\z\b\f\n\r\t");
    EXPECT_EQ(o.get<String>("b"), std::string("A\xff\\u00"));
    EXPECT_EQ(o.get<String>("c"), "it's");
    EXPECT_EQ(o.get<String>("d"), "say \\\"hi\\\"");
    EXPECT_EQ(o.get<String>("e"), "\\q\"");
    EXPECT_EQ(o.get<String>("f"), "raw\nline");
    EXPECT_EQ(parsed("{\"z\": \"\\u0000\"}").get<String>("z"), std::string(1, '\0'));
}

TEST(JsonParser, WriterOutputReadsBackEqual) {
    Object inner;
    inner.import("s", std::string("a/\"b\"\\\x01\x1f\xc3\xa9\n"));
    Array list;
    list << inner << -12 << 0.25 << false << jsonxx::Value();
    Object o;
    o.import("list", list);
    o.import("key with \"quotes\"/", "v");
    std::string text = o.json();
    EXPECT_EQ(parsed(text).json(), text);
}

TEST(JsonParser, NestingIsLimited) {
    auto nested = [](int levels) {
        return "{\"k\": " + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
    };
    Object o;
    EXPECT_TRUE(o.parse(nested(jsonxx::kMaxParseDepth)));
    EXPECT_FALSE(o.parse(nested(jsonxx::kMaxParseDepth + 1)));
    EXPECT_FALSE(o.parse("{\"k\": " + std::string(100000, '[')));
}

TEST(JsonParser, MalformedTextFailsAndLeavesTheObjectEmpty) {
    Object o = parsed("{\"keep\": 1}");
    const std::vector<std::string> texts = {"", "   ", "// only a comment", "[1, 2]", "\"text\"", "{", "{\"a\"", "{\"a\":",
          "{\"a\": 1", "{\"a\": \"open}", "{\"a\": [1, 2}", "{\"a\" 1}", "{'a': 'b\\'}",
          std::string("{\"a\": \0}", 8)};
    for (const std::string& text : texts) {
        o.import("keep", 1);
        EXPECT_FALSE(o.parse(text)) << text;
        EXPECT_TRUE(o.empty()) << text;
    }
    // Text after the closing brace is not looked at.
    EXPECT_TRUE(o.parse("{\"a\": 1} trailing"));
}

TEST(JsonParser, ClassicLocaleWhateverTheProcessUses) {
    struct CommaPunct : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    Object o;
    bool ok = o.parse("{\"a\": 2.5}");
    std::locale::global(previous);
    ASSERT_TRUE(ok);
    EXPECT_EQ(o.get<Number>("a"), 2.5);
}

TEST(JsonTypedAccess, WrongKeyKindOrIndexIsReportedAndYieldsEmpty) {
    Object o = parsed("{\"n\": 1, \"list\": [\"x\"]}");
    testing::internal::CaptureStderr();
    EXPECT_EQ(o.get<String>("n"), "");
    EXPECT_EQ(o.get<Number>("missing"), 0);
    EXPECT_EQ(o.get<Array>("list").get<String>(5), "");
    EXPECT_EQ(o.get<Array>("list").get<Number>(0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[JSONXX] expression '"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 4) << err;

    EXPECT_EQ(o.get<String>("missing", "fallback"), "fallback");
    EXPECT_EQ(o.get<Number>("n", 9), 1);
}

}  // namespace
