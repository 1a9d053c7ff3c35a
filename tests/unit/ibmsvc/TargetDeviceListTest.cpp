#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "EngineEnvironment.h"
#include "TargetDeviceList.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"
#include "ZQMMSnapAPI.h"

using namespace ZQSOIBMSVCAPI;
using namespace zq::platform;

namespace {

class ScriptedCatalogue : public SnapCatalogue {
public:
    int getVolumeSnaps(int, SMVolSnapInfo& query) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++queries;
        lastEngine = query.getSnapShotEngineId();
        if (fail) return 1;
        for (const auto& text : uniqueIds) query.addMetaData(SMMetaDataInfo(1, text));
        query.addMetaData(SMMetaDataInfo(102, "group*not*a*unique*id"));
        return 0;
    }
    std::mutex mutex;
    std::vector<std::string> uniqueIds;
    int queries = 0, lastEngine = -1;
    bool fail = false;
};

class TargetList : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue->uniqueIds = {"0000AA*4*svc*src*p*x*UID1*tp*0", "0000AA*5*svc*src*p*x*UID10*tp*0",
                                "0000BB*4*svc*src*p*x*UID2*tp*0", "broken"};
        host.addArray("0000AA", "IBM", "{arrayId:0000AA,engineId:20}");
        record.selectArray("0000AA");
    }
    zqtest::EngineEnvironment env;
    std::shared_ptr<ScriptedCatalogue> catalogue = std::make_shared<ScriptedCatalogue>();
    ScopedService<SnapCatalogue> slot{registry().snapCatalogue, catalogue};
    zqtest::TestOSUtil host;
    zqtest::TestSnapInfo record{&host};
    TargetDeviceList list;
};

}  // namespace

TEST_F(TargetList, StartsStaleAndHoldsTheTargetsOfTheArray) {
    EXPECT_TRUE(list.needsUpdate());
    ASSERT_EQ(list.GetExcludedVolList(&record, 1, "0000AA"), 1);
    EXPECT_EQ(list.text(), "UID1 UID10 ");
    EXPECT_EQ(catalogue->lastEngine, 20);
    EXPECT_TRUE(list.contains("UID1"));
    EXPECT_TRUE(list.contains("UID10"));
    EXPECT_FALSE(list.contains("UID"));
    EXPECT_FALSE(list.contains("UID2"));
    EXPECT_FALSE(list.contains(""));
    EXPECT_TRUE(record.hasLine("Failed to get Target device information from IBMSVC unique Identifier [broken]", 0));

    ASSERT_EQ(list.GetExcludedVolList(&record, 1, "0000AA"), 1);
    EXPECT_TRUE(record.hasLine("Using the same target device list", 0));
    // Asked for another array, the list is rebuilt for it.
    ASSERT_EQ(list.GetExcludedVolList(&record, 1, "0000BB"), 1);
    EXPECT_EQ(list.text(), "UID2 ");
}

TEST_F(TargetList, ChangedCopiesOrAFailedQueryNeverLeaveAStaleList) {
    ASSERT_EQ(list.GetExcludedVolList(&record, 1, "0000AA"), 1);
    catalogue->uniqueIds.push_back("0000AA*4*svc*src*p*x*UID3*tp*0");
    list.markChanged();
    ASSERT_EQ(list.GetExcludedVolList(&record, 1, "0000AA"), 1);
    EXPECT_TRUE(list.contains("UID3"));

    catalogue->fail = true;
    EXPECT_EQ(list.GetExcludedVolList(&record, 1, "0000AA"), 0);
    EXPECT_TRUE(record.hasLine("Unable to fetch snapshot information for engine [20] from database", 2));
    EXPECT_TRUE(list.needsUpdate());
}

TEST_F(TargetList, RebuildAndSearchDoNotOverlap) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            zqtest::TestSnapInfo mine(&host);
            mine.selectArray("0000AA");
            for (int i = 0; i < 50; ++i) {
                if (t % 2) {
                    list.markChanged();
                    EXPECT_EQ(list.GetExcludedVolList(&mine, 1, "0000AA"), 1);
                } else {
                    EXPECT_FALSE(list.contains("UID2"));
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(list.text(), "UID1 UID10 ");
}

TEST(TargetListFromTheHostCatalogue, HoldsTheCopiesOfThisEngineAndControlHostOnly) {
    zqtest::EngineEnvironment env;
    zqtest::TestOSUtil host;
    host.addArray("0000AA", "IBM", "{arrayId:0000AA,engineId:21}");
    zqtest::TestSnapInfo record(&host);
    record.selectArray("0000AA");
    record.setControlHostId(3);
    env.catalogue().addCopy(21, 3, "0000AA*5*svc*src*p*x*CLONE1*tp*1");
    env.catalogue().addCopy(20, 3, "0000AA*4*svc*src*p*x*SNAP1*tp*2");
    env.catalogue().addCopy(21, 4, "0000AA*5*svc*src*p*x*OTHERHOST*tp*1");
    TargetDeviceList list;
    ASSERT_EQ(list.GetExcludedVolList(&record, 1, "0000AA"), 1);
    EXPECT_EQ(list.text(), "CLONE1 ");
    auto asked = env.catalogue().queries();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].engineId, 21);
    EXPECT_EQ(asked[0].controlHosts, std::vector<int>{3});
    EXPECT_EQ(asked[0].retrieveFlags, 6144u);
}
