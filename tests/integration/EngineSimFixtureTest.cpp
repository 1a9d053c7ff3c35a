// The engine fixture: copies seeded in the state they are asked for.
#include <gtest/gtest.h>

#include "EngineSimFixture.h"
#include "ProviderTarget.h"

namespace {

using zqtest::EngineSimFixture;

class EngineSimFixtureTest : public ::testing::Test {
protected:
    void SetUp() override { ZQ_NEEDS_SIMULATOR(); }
    EngineSimFixture fx;
};

// The shared clock and the records' way to the array are used by every
// engine test; the seeding below is what those tests take for granted.
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
