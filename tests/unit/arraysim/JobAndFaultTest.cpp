#include <gtest/gtest.h>

#include "JobState.h"
#include "SimTestUtil.h"
#include "SvcReturnCode.h"
#include "SyncOperation.h"

using namespace simtest;

namespace {
constexpr uint64_t GiB = uint64_t(1) << 30;

class Jobs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(b.sim.addVolume("src", "Pool0", GiB).ok());
        ASSERT_TRUE(b.sim.addVolume("tgt", "Pool0", GiB).ok());
        ASSERT_EQ(b.attach("src", "tgt", 0), 0u);
    }
    // JobState, or 0 when the job no longer exists.
    uint16_t jobState(const SimPath& job) {
        return b.sim.withModel([&](Model& m, int64_t now) -> uint16_t {
            ObjRef r;
            if (!m.view(now).resolve(job, r)) return 0;
            return m.jobs.find(r.a)->state();
        });
    }
    std::string jobError(const SimPath& job) {
        return b.sim.withModel([&](Model& m, int64_t now) {
            ObjRef r;
            m.view(now).resolve(job, r);
            std::vector<SimProperty> props;
            m.view(now).render(r, PropertyFilter::only({"ErrorDescription"}), props);
            return props.empty() ? std::string() : props[0].value.items[0];
        });
    }
    SimPath jobOf(const MethodResult& r) {
        for (auto& p : r.out)
            if (p.name == "Job") return p.value.refs.at(0);
        ADD_FAILURE() << "no Job out-parameter";
        return {};
    }
    MethodResult prepare() {
        return b.call(b.configService(), "ModifySynchronization",
                      {uintParam("Operation", SyncOperation::Prepare), refParam("Synchronization", b.mappingPath("src", "tgt"))});
    }
    SimBench b;
};
}  // namespace

TEST_F(Jobs, AMethodRunAsAJobChangesTheClusterWhenTheJobCompletes) {
    b.sim.faults().add(Fault::asJob("modifysynchronization", JobScript::completing(), 1));
    MethodResult r = prepare();
    ASSERT_EQ(r.returnValue, Rc::JobStarted);
    SimPath job = jobOf(r);
    EXPECT_EQ(jobState(job), JobState::New);
    EXPECT_EQ(b.state("src", "tgt"), "idle_or_copied");
    b.advanceSeconds(1);
    EXPECT_EQ(jobState(job), JobState::Running);
    EXPECT_EQ(b.state("src", "tgt"), "idle_or_copied");
    b.advanceSeconds(1);
    EXPECT_EQ(jobState(job), JobState::Completed);
    EXPECT_EQ(b.state("src", "tgt"), "preparing");
    b.advanceSeconds(1);
    EXPECT_EQ(b.state("src", "tgt"), "prepared");

    // The finished job stays readable for a while, then goes.
    b.advanceSeconds(299);
    EXPECT_EQ(jobState(job), JobState::Completed);
    b.advanceSeconds(2);
    EXPECT_EQ(jobState(job), 0);

    // The fault was one-shot: the next call answers at once.
    EXPECT_EQ(b.sync("src", "tgt", SyncOperation::Start), 0u);
}

TEST_F(Jobs, AFailingJobLeavesTheClusterUnchanged) {
    b.sim.faults().add(Fault::asJob("CreateOrModifyElementFromStoragePool",
                                    JobScript::endingIn(JobState::Exception, "mdisk group went offline")));
    MethodResult r = b.call(b.configService(), "CreateOrModifyElementFromStoragePool",
                            {strParam("ElementName", "newvol"), uintParam("Size", GiB, "uint64"),
                             refParam("InPool", b.path({ObjKind::Pool, 0, 0})),
                             refParam("Goal", b.path({ObjKind::VolumeSetting, 0, 0}))});
    ASSERT_EQ(r.returnValue, Rc::JobStarted);
    SimPath job = jobOf(r);
    const SimPath* element = nullptr;
    for (auto& p : r.out)
        if (p.name == "TheElement") element = &p.value.refs.at(0);
    ASSERT_NE(element, nullptr) << "TheElement is answered with the job";
    b.advanceSeconds(5);
    EXPECT_EQ(jobState(job), JobState::Exception);
    EXPECT_EQ(jobError(job), "mdisk group went offline");
    EXPECT_THROW(b.sim.generation("newvol"), std::invalid_argument);
}

TEST_F(Jobs, WorkThatTheClusterRefusesAtCompletionEndsInException) {
    b.sim.faults().add(Fault::asJob("ModifySynchronization", JobScript::completing(), 1));
    SimPath job = jobOf(prepare());
    ASSERT_TRUE(b.sim.vanish("mapping", "fcmap0"));
    b.advanceSeconds(3);
    EXPECT_EQ(jobState(job), JobState::Exception);
    EXPECT_NE(jobError(job).find("return value"), std::string::npos);
}

TEST_F(Jobs, NeverEndingAndPerPollJobs) {
    b.sim.faults().add(Fault::asJob("ModifySynchronization", JobScript::neverEnding(), 2));
    SimPath endless = jobOf(prepare());
    b.advanceSeconds(3600);
    EXPECT_EQ(jobState(endless), JobState::Running);
    EXPECT_EQ(b.state("src", "tgt"), "idle_or_copied");

    JobScript polled;
    polled.advance = JobScript::Advance::PerPoll;
    polled.steps = {{JobState::New, 0}, {JobState::Running, 40}, {JobState::Killed, 40}};
    polled.errorDescription = "killed by operator";
    b.sim.faults().clear();
    b.sim.faults().add(Fault::asJob("ModifySynchronization", polled, 1));
    SimPath job = jobOf(prepare());
    b.advanceSeconds(60);
    EXPECT_EQ(jobState(job), JobState::New) << "per-poll jobs ignore the clock";
    auto poll = [&] {
        b.sim.withModel([&](Model& m, int64_t now) {
            ObjRef r;
            m.view(now).resolve(job, r);
            m.jobs.polled(r.a, now);
            return 0;
        });
    };
    poll();
    EXPECT_EQ(jobState(job), JobState::Running);
    poll();
    EXPECT_EQ(jobState(job), JobState::Killed);
    EXPECT_EQ(jobError(job), "killed by operator");
    poll();
    EXPECT_EQ(jobState(job), JobState::Killed);
}

TEST(Faults, ReturnValuesAndTransportFaultsAreCountedPerKey) {
    SimBench b;
    ASSERT_TRUE(b.sim.addVolume("a", "Pool0", GiB).ok());
    ASSERT_TRUE(b.sim.addVolume("c", "Pool0", GiB).ok());
    b.sim.faults().add(Fault::returns("AttachReplica", Rc::MappingExists, 1));
    EXPECT_EQ(b.attach("a", "c", 0), Rc::MappingExists);
    EXPECT_EQ(b.state("a", "c"), "none") << "an injected answer changes nothing";
    EXPECT_EQ(b.attach("a", "c", 0), 0u);

    FaultPlan plan;
    plan.add(Fault::latency("*", 20));
    plan.add(Fault::http("GetInstance", 500, 1));
    plan.add(Fault::drop("ModifySynchronization", 0));  // count 0: nothing
    auto first = plan.takeTransport("getinstance");
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].kind, Fault::Kind::HttpStatus);
    EXPECT_EQ(plan.takeTransport("GetInstance").size(), 1u) << "the one-shot 500 is spent";
    EXPECT_EQ(plan.takeTransport("ModifySynchronization").size(), 1u);
    EXPECT_FALSE(plan.takeReturnValue("GetInstance").has_value());

    // skip: the third matching request is the one hit, of its own kind only
    FaultPlan nth;
    nth.add(Fault::http("GetInstance", 500, 1).after(2));
    nth.add(Fault::returns("AttachReplica", 4, 1).after(1));
    nth.takeTransport("EnumerateInstances");
    EXPECT_TRUE(nth.takeTransport("GetInstance").empty());
    EXPECT_TRUE(nth.takeTransport("GetInstance").empty());
    EXPECT_EQ(nth.takeTransport("GetInstance").size(), 1u);
    EXPECT_TRUE(nth.takeTransport("GetInstance").empty());
    EXPECT_FALSE(nth.takeReturnValue("AttachReplica").has_value());
    EXPECT_EQ(nth.takeReturnValue("AttachReplica"), std::optional<uint32_t>(4));
    EXPECT_TRUE(nth.list().empty());
}
