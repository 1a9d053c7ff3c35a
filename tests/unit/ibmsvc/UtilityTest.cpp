#include <gtest/gtest.h>

#include "EngineEnvironment.h"
#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

using namespace ZQSOIBMSVCAPI;
using zqtest::TestSnapInfo;

TEST(ArrayIds, FromHexStringAndText) {
    EXPECT_EQ(GetArrayIdFromHexString("30:31:32"), "0000012");
    EXPECT_EQ(GetArrayIdFromHexString("616263"), "0000ABC");  // bytes are upper-cased
    // At most 12 bytes; a zero byte, a bad digit or an odd tail ends it.
    EXPECT_EQ(GetArrayIdFromHexString("41424344454647484950515253545556"), "0000ABCDEFGHIPQR");
    EXPECT_EQ(GetArrayIdFromHexString("41004243"), "0000A");
    EXPECT_EQ(GetArrayIdFromHexString("41zz42"), "0000A");
    EXPECT_EQ(GetArrayIdFromHexString("414"), "0000A");
    EXPECT_EQ(GetArrayIdFromHexString(""), "0000");

    EXPECT_EQ(removeSpecialChar("60:05:07:68:ab", ':', true), "6005076" "8AB");
    EXPECT_EQ(removeSpecialChar("a:b", ':', false), "ab");
    EXPECT_EQ(trimSpaces(nullptr, 4), "");
    EXPECT_EQ(trimSpaces("IBM     ", 0), "");
    EXPECT_EQ(trimSpaces("IBM     ", 8), "IBM");
    EXPECT_EQ(trimSpaces("A*B* \t\n", 7), "A B");
    EXPECT_EQ(trimSpaces("AB\0CD", 5), "AB");
}

class InfoTextParsing : public ::testing::Test {
protected:
    zqtest::EngineEnvironment env;
    TestSnapInfo record;
    std::string value = "untouched";
};

TEST_F(InfoTextParsing, FindsItemsUpToTheNextCommaOrTheClosingBrace) {
    const std::string text = "{hostName:10.0.0.1,hostUserName:admin}";
    ASSERT_EQ(parseJsonString(&record, text, "hostUserName", value), 1);
    EXPECT_EQ(value, "admin");
    ASSERT_EQ(parseJsonString(&record, text, "hostName", value), 1);
    EXPECT_EQ(value, "10.0.0.1");
    EXPECT_TRUE(record.hasLine("Item Name:Item Value [hostName:10.0.0.1]", 0));
    ASSERT_EQ(parseJsonString(&record, "{a:\"q\",b:}", "b", value), 1);  // taken as it stands
    EXPECT_EQ(value, "");
    ASSERT_EQ(parseJsonString(&record, "{a:\"q\"}", "a", value), 1);
    EXPECT_EQ(value, "\"q\"");
    ASSERT_EQ(parseJsonString(&record, "{x:" + std::string(3000, 'v') + "}", "x", value), 1);
    EXPECT_EQ(value.size(), 1023u);
}

TEST_F(InfoTextParsing, RefusesMalformedTextsWithTheirLines) {
    struct Case {
        std::string text, item, line;
    } cases[] = {
        {"", "hostName", "Either the parse string or the item to search is empty."},
        {"{a:1}", "", "Either the parse string or the item to search is empty."},
        {"{hostName:1}", "engineId", "The item being requested [engineId] is not in Json string"},
        {"{hostName}", "hostName", "Name-value separator character is not present."},
        {"{hostName,other:1}", "hostName", "No value present for item hostName"},
        {"{hostName:abc", "hostName", "Item separator character is not present"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseJsonString(&record, c.text, c.item, value), 0) << c.text;
        EXPECT_TRUE(record.hasLine(c.line, 0)) << c.line << "\n" << record.dump();
    }
    EXPECT_EQ(value, "untouched");
    // Without a record the lines go to the process log.
    EXPECT_EQ(parseJsonString(nullptr, "{a:1}", "b", value), 0);
    EXPECT_TRUE(env.debugLog().contains("The item being requested [b]"));
}

TEST_F(InfoTextParsing, ThePasswordNeverReachesALine) {
    const std::string text = "{arrayId:0000AB,hostName:h,hostUserName:u,hostPassword:s3,cr}et!,engineId:20}";
    ASSERT_EQ(parseJsonString(&record, text, "hostPassword", value), 1);
    EXPECT_EQ(value, "s3");
    EXPECT_EQ(parseJsonString(&record, text, "missingItem", value), 0);
    EXPECT_EQ(parseJsonString(&record, "", "hostPassword", value), 0);
    for (const auto& line : record.lines()) {
        EXPECT_EQ(line.text.find("s3"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("cr}et"), std::string::npos) << line.text;
    }
    EXPECT_TRUE(record.hasLine("hostPassword:****,engineId:20}"));
    EXPECT_EQ(maskPassword("no secret here"), "no secret here");
}

TEST_F(InfoTextParsing, MaskHidesAWholePasswordWhateverItHolds) {
    for (const std::string password : {"Sx9,q:7Lm!pw", "p}", "{a:b}", "x,y", "\"quoted\" pass", "a, b: c", "'}'", ",:,",
                                       "tail,engine:1", "sp ace ,x:"}) {
        // the password last, then in the middle
        const std::string last = "{arrayId:0000AB,hostName:h,hostUserName:u,hostPassword:" + password + "}";
        EXPECT_EQ(maskPassword(last), "{arrayId:0000AB,hostName:h,hostUserName:u,hostPassword:****") << password;
        const std::string middle = "{hostName:h,hostPassword:" + password + ",engineId:20}";
        EXPECT_EQ(maskPassword(middle), "{hostName:h,hostPassword:****,engineId:20}") << password;
    }
    // each of several items, and item names written with quotes and blanks
    EXPECT_EQ(maskPassword("hostPassword:a,b, \"hostUserName\" :u,hostPassword:c:d"),
              "hostPassword:****, \"hostUserName\" :u,hostPassword:****");
}

TEST_F(InfoTextParsing, UniqueIdentifiers) {
    UniqueId f;
    ASSERT_EQ(parseUniqueId(&record, "0000ABCDEF012345*4*svc*/dev/sdb*path*x*UID7*/dev/sdx", f), 1);
    EXPECT_EQ(f.arrayId, "0000ABCDEF012345");
    EXPECT_EQ(f.snapOp, "4");
    EXPECT_EQ(f.snapDev, "UID7");
    EXPECT_EQ(f.snapDevPath, "/dev/sdx");
    EXPECT_EQ(f.targetSelMode, "0");
    ASSERT_EQ(parseUniqueId(&record, "a*5*c*d*e*f*g*h*2*extra", f), 1);
    EXPECT_EQ(f.targetSelMode, "2*extra");
    ASSERT_EQ(parseUniqueId(&record, "*******", f), 1);
    EXPECT_EQ(f.snapDevPath, "");

    EXPECT_EQ(parseUniqueId(&record, "a*b*c*d*e*f*g", f), 0);
    EXPECT_TRUE(record.hasLine("Invalid unique identifier a*b*c*d*e*f*g", 2));
    EXPECT_EQ(parseUniqueId(&record, "", f), 0);

    EXPECT_EQ(getSnapDeviceUUID(&record), "");  // no metadata 1
    EXPECT_TRUE(record.hasLine("Failed to parse unique  identifier []", 2));
    record.setMeta(1, "0000AB*4*svc*src*p*x*UID9*tp*1");
    EXPECT_EQ(getSnapDeviceUUID(&record), "UID9");
    EXPECT_EQ(getStorageArrayId(&record), "0000AB");
}

TEST(SetError, TheFirstErrorWins) {
    zqtest::EngineEnvironment env;
    TestSnapInfo record;
    setError(&record, 62005, nullptr);
    setError(nullptr, 62005, "ignored");
    EXPECT_EQ(record.errorCode(), 0u);
    setError(&record, 62005, "Failed to get array info");
    setError(&record, 60322, "another array");
    EXPECT_EQ(record.errorCode(), 62005u);
    EXPECT_EQ(record.errorMessage(), "Failed to get array info");
    EXPECT_EQ(record.countLines("", 2), 1u);
    EXPECT_TRUE(record.hasLine("Failed to get array info", 2));
}

TEST(EngineConfiguration, RegistryIntegersAndEngineType) {
    zqtest::EngineEnvironment env;
    int value = 5;
    EXPECT_EQ(GetRegInt(nullptr, "IBMSVC_PREPARE_WAIT", &value), 0);
    EXPECT_EQ(value, 5);
    env.config().set("HostModule", "IBMSVC_PREPARE_WAIT", "30");
    EXPECT_NE(GetRegInt(nullptr, "IBMSVC_PREPARE_WAIT", &value), 0);
    EXPECT_EQ(value, 30);
    EXPECT_EQ(GetRegInt("Sub", "IBMSVC_PREPARE_WAIT", &value), 0);  // another path

    zqtest::TestOSUtil host;
    TestSnapInfo record(&host);
    EXPECT_EQ(getSnapEngineType(&record), 0);  // no array selected
    host.addArray("A", "IBM", "{arrayId:A,engineId:21}");
    host.addArray("B", "IBM", "{arrayId:B,engineId:2x}");
    ASSERT_EQ(record.selectArray("A"), 0);
    EXPECT_EQ(getSnapEngineType(&record), 21);
    ASSERT_EQ(record.selectArray("B"), 0);
    EXPECT_EQ(getSnapEngineType(&record), 0);
    EXPECT_FALSE(isConfiguredDevice("", "2145"));
    EXPECT_FALSE(isConfiguredDevice("IBM", ""));
    EXPECT_TRUE(isConfiguredDevice("IBM", "2145"));
}
