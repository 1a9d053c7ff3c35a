#include <gtest/gtest.h>

#include <cmath>
#include <locale>

#include "SMJSONxx.h"

using jsonxx::Array;
using jsonxx::Object;
using jsonxx::Value;

namespace {

TEST(JsonWriter, KeysAreSortedAndLastSeparatorBecomesBlank) {
    Object unmap;
    unmap.import("unmapCount", 2);
    EXPECT_EQ(unmap.json(), "{\n\t\"unmapCount\": 2 \n} \n");

    Object map;
    map.import("mapCount", 3);
    map.import("availCount", 1);
    EXPECT_EQ(map.json(), "{\n\t\"availCount\": 1,\n\t\"mapCount\": 3 \n} \n");

    EXPECT_EQ(Object().json(), "{\n} \n");
}

TEST(JsonWriter, EmptyAndNestedContainers) {
    Object request;
    request.import("localisSCSI", false);
    request.import("localinitiatorIds", Array());
    request.import("isSCSI", false);
    request.import("initiatorIds", Array());
    EXPECT_EQ(request.json(),
              "{\n\t\"initiatorIds\": [\n\t],\n\t\"isSCSI\": false,\n"
              "\t\"localinitiatorIds\": [\n\t],\n\t\"localisSCSI\": false \n} \n");

    Object inner;
    inner.import("n", Value());
    Array list;
    list << 1 << "x" << inner;
    Object outer;
    outer.import("a", list);
    outer.import("b", true);
    EXPECT_EQ(outer.json(),
              "{\n\t\"a\": [\n\t\t1,\n\t\t\"x\",\n\t\t{\n\t\t\t\"n\": null \n\t\t} \n\t],\n"
              "\t\"b\": true \n} \n");
}

TEST(JsonWriter, EscapesKeysAndStrings) {
    Object o;
    o.import("k\"/", std::string("q\"b\\s/\b\f\n\r\t\x01\x1f\x7f\xc3\xa9"));
    EXPECT_EQ(o.json(),
              "{\n\t\"k\\\"\\/\": \"q\\\"b\\\\s\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xc3\xa9\" \n} \n");
}

// A decimal comma and digit grouping everywhere else in the process.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(JsonWriter, NumbersUseNineteenDigitsInTheClassicLocale) {
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    Object o;
    o.import("a", 3);
    o.import("b", 1234567.5L);
    o.import("c", -7);
    o.import("d", 1e20L);
    o.import("e", 1.0L / 3);
    o.import("f", 123456789012LL);
    std::string text = o.json();
    std::locale::global(previous);
    EXPECT_EQ(text,
              "{\n\t\"a\": 3,\n\t\"b\": 1234567.5,\n\t\"c\": -7,\n\t\"d\": 1e+20,\n"
              "\t\"e\": 0.3333333333333333333,\n\t\"f\": 123456789012 \n} \n");
}

TEST(JsonWriter, NonFiniteNumbersAreWrittenAsNull) {
    Object o;
    o.import("inf", HUGE_VALL);
    o.import("nan", std::nanl(""));
    EXPECT_EQ(o.json(), "{\n\t\"inf\": null,\n\t\"nan\": null \n} \n");
}

TEST(JsonWriter, CopiesAreDeep) {
    Array list;
    list << 1;
    Object original;
    original.import("list", list);
    Object copy = original;
    list << 2;
    copy.import("list", list);
    copy.import("extra", "x");
    EXPECT_EQ(original.get<Array>("list").size(), 1u);
    EXPECT_FALSE(original.has<jsonxx::String>("extra"));

    // An object imported into itself is copied first.
    original.import("self", original);
    ASSERT_TRUE(original.has<Object>("self"));
    EXPECT_EQ(original.get<Object>("self").size(), 1u);
}

}  // namespace
