// The engine fixture: one clock for engine and array, records that lead to
// the simulated array, and copies seeded in the state they are asked for.
#include <gtest/gtest.h>

#include <vector>

#include "EngineSimFixture.h"
#include "ProviderTarget.h"
#include "ZqClock.h"

namespace {

using zqtest::EngineSimFixture;

class EngineSimFixtureTest : public ::testing::Test {
protected:
    void SetUp() override { ZQ_NEEDS_SIMULATOR(); }
    EngineSimFixture fx;
};

TEST_F(EngineSimFixtureTest, EngineSleepsMoveTheArray) {
    fx.addSource("db01");
    fx.addClone("db01", "db01_c0");
    EXPECT_EQ(fx.syncState("fcmap_db01_c0"), 5);
    // 1 GiB at copy rate 50 (2 MiB/s) takes 512 s: one sleep of the process clock.
    const int64_t before = fx.sim().nowMs();
    zq::platform::clock().sleepMs(600 * 1000);
    EXPECT_EQ(fx.sim().nowMs() - before, 600 * 1000);
    EXPECT_EQ(fx.syncState("fcmap_db01_c0"), 6);
}

TEST_F(EngineSimFixtureTest, RecordsLeadToTheSimulatedArray) {
    auto batch = fx.makeBatch(2);
    for (zqtest::TestSnapInfo* r : {&fx.record(), &(*batch)[1]}) {
        std::vector<char> info(512);
        uint16_t length = uint16_t(info.size());
        ASSERT_EQ(r->getArrayInfo(info.data(), &length), 0);
        const std::string text(info.data(), length);
        EXPECT_NE(text.find("arrayId:" + fx.arrayId()), std::string::npos) << text;
        EXPECT_NE(text.find("hostName:127.0.0.1"), std::string::npos) << text;
        int port = 0;
        r->getConfigInt("SMCONFIG_NAME_SMIS_SERVER_PORT", &port);
        EXPECT_EQ(port, fx.simulator().httpPort());
    }
    EXPECT_EQ(fx.cimomParams().Port, fx.simulator().httpPort());
}

TEST_F(EngineSimFixtureTest, SeededCopiesAndGroups) {
    fx.addSource("db01");
    auto snap = fx.addSnapshot("db01", "db01_s0");
    auto prepared = fx.addClone("db01", "db01_c0", true, EngineSimFixture::CopyStage::Prepared);
    auto idle = fx.addClone("db01", "db01_c1", false, EngineSimFixture::CopyStage::Idle);
    fx.addGroup("cg0", {idle.mapping});

    const auto s = fx.mapping(snap.mapping);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->copyRate, 0);
    EXPECT_EQ(s->state, arraysim::FcState::Copying);
    EXPECT_EQ(fx.syncState(prepared.mapping), 4);
    EXPECT_TRUE(fx.mapping(prepared.mapping)->incremental);
    EXPECT_EQ(fx.groupMembers("cg0"), std::set<std::string>{idle.mapping});
    EXPECT_EQ(fx.mappingOfTarget("db01_s0")->name, snap.mapping);
    EXPECT_EQ(fx.volumeNames(), (std::set<std::string>{"db01", "db01_s0", "db01_c0", "db01_c1"}));
    EXPECT_THROW(fx.addSource("db01"), std::runtime_error);  // the name is taken
}

}  // namespace
