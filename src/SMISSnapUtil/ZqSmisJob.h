// Following SMI-S jobs: the job reference of a method's answer, the job's
// state, and polling until the job ends or the try limit runs out.
#pragma once

#include <string>

#include "ZqCimConnection.h"
#include "ZqCimUtil.h"
#include "ZqSmisJobState.h"

class ZqSmisJob : public virtual ZqCimUtil {
public:
    // The reference parameter named exactly "Job"; empty when none.
    Pegasus::CIMObjectPath GetJobHandle(const Pegasus::Array<Pegasus::CIMParamValue>& outParams);
    // The job with its state, status, progress and error properties; an
    // empty instance when the provider no longer knows it. Other errors are
    // traced and raised.
    Pegasus::CIMInstance GetJobInstance(const Pegasus::CIMObjectPath& job, ZqCimConnection& conn);
    // "Completed", ..., or "<n>: Unknown state".
    std::string GetjobStateString(int state);
    // Final states: 7 to 10.
    bool IsJobDone(int state);
    bool IsJobDone(const Pegasus::CIMInstance& job);
    // A job the provider no longer knows counts as done.
    bool IsJobDone(const Pegasus::CIMObjectPath& job, ZqCimConnection& conn);
    // Traces one summary line and returns the state (7 for a vanished job).
    int PrintJobSummary(const Pegasus::CIMObjectPath& job, ZqCimConnection& conn, int& percentComplete);
    // Whole seconds, rounded up, through the platform clock.
    void GotoSleep(int milliseconds);
    // Polls every `intervalSeconds` until the job is done, at most `maxTries`
    // times. Returns its final state; 7 for a vanished job and for one still
    // running after the last try; 10 ("Exception") for an empty job path,
    // since a job that cannot be watched did not succeed.
    // Errors reading the job other than "not found" are raised.
    int WatchJob(const Pegasus::CIMObjectPath& job, ZqCimConnection& conn, int maxTries, int intervalSeconds);
};
