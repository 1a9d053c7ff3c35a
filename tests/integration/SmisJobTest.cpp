// Watching jobs that the simulator scripts: done at the first check, running
// for every try, vanished, in an unknown state, failing at the last try.
#include "JobState.h"
#include "SmisSimTest.h"
#include "ZqSmisJob.h"

using namespace Pegasus;
using arraysim::Fault;
using arraysim::JobScript;
using arraysim::JobStep;

namespace {

class SmisJobs : public smistest::SmisSimTest {
protected:
    void SetUp() override {
        for (const char* v : {"src", "tgt"}) ASSERT_TRUE(fx.sim().addVolume(v, "Pool0", smistest::GiB).ok());
        Connect();
        watcher.SetLogger(&record);
    }
    // Starts AttachReplica as a job with this script; the job's path.
    CIMObjectPath StartJob(JobScript script) {
        fx.sim().faults().add(Fault::asJob("AttachReplica", std::move(script), 1));
        Array<CIMParamValue> out;
        EXPECT_EQ(Attach("src", "tgt", &out), 4096u);
        CIMObjectPath job = watcher.GetJobHandle(out);
        EXPECT_FALSE(job.getClassName().isNull());
        return job;
    }
    static JobScript PerPoll(std::initializer_list<Uint16> states) {
        JobScript s;
        s.advance = JobScript::Advance::PerPoll;
        for (Uint16 st : states) s.steps.push_back(JobStep{st, Uint16(st == 7 ? 100 : 50)});
        return s;
    }
    int64_t Slept() const { return fx.clock().nowMs() - start; }

    ZqSmisJob watcher;
    int64_t start = fx.clock().nowMs();
};

TEST_F(SmisJobs, DoneAtTheFirstCheckNeedsNoSleep) {
    CIMObjectPath job = StartJob(PerPoll({7}));
    EXPECT_EQ(watcher.WatchJob(job, conn, 60, 10), 7);
    EXPECT_EQ(Slept(), 0);
    EXPECT_FALSE(record.hasLine("Try 0"));
    EXPECT_TRUE(record.hasLine("Job-State 7: Completed, 100 %   ", 0)) << record.dump();
    EXPECT_TRUE(record.hasLine("ret 7"));
}

TEST_F(SmisJobs, RunningForEveryTryCountsAsCompletedAfterTheLastSleep) {
    CIMObjectPath job = StartJob(JobScript::neverEnding());
    EXPECT_EQ(watcher.WatchJob(job, conn, 3, 10), 7);
    EXPECT_EQ(Slept(), 30000);
    EXPECT_TRUE(record.hasLine("Try 2"));
    EXPECT_FALSE(record.hasLine("Try 3"));
    EXPECT_TRUE(record.hasLine("Max tries exceeded if its Running assuming, it will complete")) << record.dump();

    record.setState({});
    start = fx.clock().nowMs();
    EXPECT_EQ(watcher.WatchJob(job, conn, 0, 10), 7);
    EXPECT_EQ(Slept(), 0);
    EXPECT_TRUE(record.hasLine("Max tries exceeded"));
}

TEST_F(SmisJobs, AVanishedJobCountsAsDone) {
    CIMObjectPath job = StartJob(JobScript::neverEnding());
    std::string id = watcher.GetPropByObjPath(job, "InstanceID");
    ASSERT_TRUE(fx.sim().vanish("job", id.substr(id.rfind(':') + 1)));
    int percent = -1;
    EXPECT_EQ(watcher.PrintJobSummary(job, conn, percent), 7);
    EXPECT_EQ(percent, -1);
    EXPECT_TRUE(watcher.IsJobDone(job, conn));
    EXPECT_EQ(watcher.WatchJob(job, conn, 60, 10), 7);
    EXPECT_EQ(Slept(), 0);
}

TEST_F(SmisJobs, UnknownStateIsShownWithItsStatusAndPollingGoesOn) {
    CIMObjectPath job = StartJob(PerPoll({12, 12, 7}));
    EXPECT_EQ(watcher.WatchJob(job, conn, 60, 5), 7);
    EXPECT_EQ(Slept(), 5000);
    EXPECT_TRUE(record.hasLine("Job-State 12: 12: Unknown state, 50 %", 0)) << record.dump();
    EXPECT_TRUE(record.hasLine("\tStatus = ", 2));
}

TEST_F(SmisJobs, AJobThatFailsAtTheLastTryAnswersItsState) {
    CIMObjectPath job = StartJob(PerPoll({4, 4, 8}));
    EXPECT_EQ(watcher.WatchJob(job, conn, 1, 10), 8);
    EXPECT_TRUE(record.hasLine("ret 8"));
    EXPECT_FALSE(record.hasLine("Max tries exceeded"));
    EXPECT_TRUE(record.hasLine("Job-State 8: Terminated", 0)) << record.dump();
}

TEST_F(SmisJobs, TerminatedJobShowsTheProvidersDescription) {
    CIMObjectPath job = StartJob(JobScript::endingIn(10, "pool went offline"));
    EXPECT_EQ(watcher.WatchJob(job, conn, 60, 1), 10);
    EXPECT_TRUE(record.hasLine("pool went offline")) << record.dump();
    EXPECT_GT(Slept(), 0);
    // The mapping was not made.
    EXPECT_THROW(conn.GetInstance(fx.mappingPath("src", "tgt")), CIMException);
}

TEST_F(SmisJobs, ReadErrorsOtherThanNotFoundReachTheCaller) {
    CIMObjectPath job = StartJob(JobScript::neverEnding());
    fx.sim().faults().add(Fault::http("GetInstance", 500, 1));
    EXPECT_THROW(watcher.WatchJob(job, conn, 60, 10), Exception);
    EXPECT_TRUE(record.hasLine("SMIS::GetJobInstance: ")) << record.dump();
    EXPECT_TRUE(record.hasLine("Caught Exception: HTTP Error (500"));
}

}  // namespace
