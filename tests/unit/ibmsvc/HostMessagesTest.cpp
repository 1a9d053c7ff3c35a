// Remote messages 4 to 8: requests and responses as the calling host writes
// them and the proxy reads them, and the input a proxy refuses.
#include <gtest/gtest.h>

#include <string>

#include "IBMSVCRemoteMessages.h"
#include "SMJSONxx.h"

using namespace ZQSOIBMSVCAPI;

namespace {

// The keys of a JSON object in the order the text holds them.
std::string keysOf(const std::string& text) {
    std::string keys;
    for (size_t at = text.find('"'); at != std::string::npos; at = text.find('"', at + 1)) {
        const size_t end = text.find('"', at + 1);
        const std::string word = text.substr(at + 1, end - at - 1);
        if (text.compare(end + 1, 1, ":") == 0) keys += word + " ";
        at = end;
    }
    return keys;
}

TEST(HostMessages, MapRequestsRoundTripWithTheirKeysInOrder) {
    LocalDataMap empty;
    std::string request;
    ASSERT_TRUE(fillRequestMap(empty, request));
    EXPECT_EQ(keysOf(request), "initiatorIds isSCSI localinitiatorIds localisSCSI ");
    jsonxx::Object body;
    ASSERT_TRUE(body.parse(request));
    EXPECT_TRUE(body.get<jsonxx::Array>("initiatorIds").empty());
    EXPECT_FALSE(body.get<jsonxx::Boolean>("localisSCSI"));

    LocalDataMap data;
    data.initiatorIds = {"iqn.1994-05.com.RedHat:Db01", "iqn.x:y"};
    data.isSCSI = true;
    data.localinitiatorIds = {"21:00:00:24:ff:4a:bc:de"};
    ASSERT_TRUE(fillRequestUnMap(data, request));
    LocalDataMap read;
    ASSERT_TRUE(getRequestUnMap(request, read));
    EXPECT_EQ(read.initiatorIds, data.initiatorIds);
    EXPECT_TRUE(read.isSCSI);
    EXPECT_EQ(read.localinitiatorIds, data.localinitiatorIds);
    EXPECT_FALSE(read.localisSCSI);

    LocalDataIsMapped facts;
    facts.hostDevPathList = {"/dev/sdb", "{idatype:vmware,a:b}"};
    facts.hostIdentifier = "db01";
    facts.initiatorIds = {"10000090FA123456"};
    facts.isVM = true;
    ASSERT_TRUE(fillRequestIsMapped(facts, request));
    EXPECT_EQ(keysOf(request), "hostDevPathList hostIdentifier initiatorIds isSCSI isVM ");
    LocalDataIsMapped back;
    ASSERT_TRUE(getRequestIsMapped(request, back));
    EXPECT_EQ(back.hostDevPathList, facts.hostDevPathList);
    EXPECT_EQ(back.hostIdentifier, "db01");
    EXPECT_EQ(back.initiatorIds, facts.initiatorIds);
    EXPECT_TRUE(back.isVM);
}

TEST(HostMessages, RequestsWithoutInitiatorsOrWithWrongElementsAreRefused) {
    LocalDataMap data;
    LocalDataIsMapped facts;
    for (const char* bad : {
             "not json",
             "{\"isSCSI\": false}",
             "{\"initiatorIds\": [\"21000024FF4ABCDE\"]}",
             "{\"initiatorIds\": [], \"isSCSI\": false}",
             "{\"initiatorIds\": [\"21000024FF4ABCDE\", 7], \"isSCSI\": false}",
             "{\"initiatorIds\": \"21000024FF4ABCDE\", \"isSCSI\": false}",
             "{\"initiatorIds\": [\"21000024FF4ABCDE\"], \"isSCSI\": \"false\"}",
         }) {
        EXPECT_FALSE(getRequestMap(bad, data)) << bad;
        EXPECT_FALSE(getRequestIsMapped(bad, facts)) << bad;
    }
    EXPECT_FALSE(getRequestMap("{\"initiatorIds\": [\"a\"], \"isSCSI\": true, \"localinitiatorIds\": [null]}", data));
    EXPECT_FALSE(getRequestIsMapped("{\"initiatorIds\": [\"a\"], \"isSCSI\": true, \"hostDevPathList\": [{}]}", facts));
    EXPECT_TRUE(data.initiatorIds.empty()) << "a refused request changes nothing";
    // Optional keys of another type are left alone.
    ASSERT_TRUE(getRequestMap("{\"initiatorIds\": [\"a\"], \"isSCSI\": true, \"localisSCSI\": 1}", data));
    EXPECT_EQ(data.initiatorIds, std::vector<std::string>{"a"});
    EXPECT_FALSE(data.localisSCSI);
}

TEST(HostMessages, ResponsesCarryTheCounts) {
    LocalDataMap data;
    data.mapCount = 3;
    data.availCount = 1;
    data.unmapCount = 2;
    std::string response;
    ASSERT_TRUE(fillResponseMap(data, response));
    EXPECT_EQ(keysOf(response), "availCount mapCount ");
    int32_t mapCount = -1, availCount = -1;
    ASSERT_TRUE(getResponseMap(response, mapCount, availCount));
    EXPECT_EQ(mapCount, 3);
    EXPECT_EQ(availCount, 1);
    ASSERT_TRUE(fillResponseUnMap(data, response));
    int32_t count = -1;
    ASSERT_TRUE(getResponseUnMap(response, count));
    EXPECT_EQ(count, 2);

    ASSERT_TRUE(getResponseRevert("{\"revertCount\": 2.9}", count));
    EXPECT_EQ(count, 2);
    count = -1;
    ASSERT_TRUE(getResponseRevert("{\"revertCount\": 1e12}", count));
    EXPECT_EQ(count, -1) << "a count beyond 32 bits leaves the target";
    ASSERT_TRUE(getResponseRevert("{}", count));
    EXPECT_EQ(count, -1);
    EXPECT_FALSE(getResponseRevert("", count));
    ASSERT_TRUE(fillResponseRevert(4, response));
    ASSERT_TRUE(getResponseRevert(response, count));
    EXPECT_EQ(count, 4);
}

}  // namespace
