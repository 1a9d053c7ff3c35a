#include "ZqSmisJob.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "ZqClock.h"
#include "ZqSmisExceptionTrace.h"

using Pegasus::CIMInstance;
using Pegasus::CIMObjectPath;

namespace {

struct JobStateText {
    int state;
    const char* text;
};

const JobStateText kJobStates[] = {
    {JOB_STATE_NEW, "New"},
    {JOB_STATE_STARTING, "Starting"},
    {JOB_STATE_RUNNING, "Running"},
    {JOB_STATE_SUSPENDED, "Suspended"},
    {JOB_STATE_SHUTTING_DOWN, "Shutting Down"},
    {JOB_STATE_COMPLETED, "Completed"},
    {JOB_STATE_TERMINATED, "Terminated"},
    {JOB_STATE_KILLED, "Killed"},
    {JOB_STATE_EXCEPTION, "Exception"},
    {JOB_STATE_SERVICE, "Service"},
};

int ToInt(const std::string& text) { return std::atoi(text.c_str()); }

}  // namespace

CIMObjectPath ZqSmisJob::GetJobHandle(const Pegasus::Array<Pegasus::CIMParamValue>& outParams) {
    return FindReferenceParam(outParams, "Job");
}

CIMInstance ZqSmisJob::GetJobInstance(const CIMObjectPath& job, ZqCimConnection& conn) {
    static const char* const kLabel = "SMIS::GetJobInstance";
    try {
        Pegasus::Array<Pegasus::CIMName> names;
        for (const char* name :
             {"JobStatus", "JobState", "PercentComplete", "ErrorDescription", "StatusDescriptions", "Status"})
            names.append(name);
        return conn.GetClient().getInstance(conn.GetNameSpace(), job, false, false, false,
                                            Pegasus::CIMPropertyList(names));
    } catch (const Pegasus::CIMException& e) {
        if (e.getCode() == Pegasus::CIM_ERR_NOT_FOUND) return CIMInstance();
        DEBUG_TRACE(kLabel, "%s: %d: Caught CIMException: %s: %s\n", ZQ_SOURCE_FILE, __LINE__,
                    Pegasus::cimStatusCodeToString(e.getCode()).c_str(), e.getMessage().c_str());
        throw;
    } catch (const Pegasus::Exception& e) {
        DEBUG_TRACE(kLabel, "%s: %d: Caught Exception: %s\n", ZQ_SOURCE_FILE, __LINE__, e.getMessage().c_str());
        throw;
    }
}

std::string ZqSmisJob::GetjobStateString(int state) {
    for (const JobStateText& row : kJobStates)
        if (row.state == state) return row.text;
    return std::to_string(state) + ": Unknown state";
}

bool ZqSmisJob::IsJobDone(int state) { return state >= JOB_STATE_COMPLETED && state <= JOB_STATE_EXCEPTION; }

bool ZqSmisJob::IsJobDone(const CIMInstance& job) { return IsJobDone(ToInt(GetCIMProp(job, "JobState"))); }

bool ZqSmisJob::IsJobDone(const CIMObjectPath& job, ZqCimConnection& conn) {
    CIMInstance instance = GetJobInstance(job, conn);
    if (instance.isUninitialized()) return true;
    return IsJobDone(instance);
}

int ZqSmisJob::PrintJobSummary(const CIMObjectPath& job, ZqCimConnection& conn, int& percentComplete) {
    static const char* const kLabel = "SMIS::PrintJobSummary";
    CIMInstance instance = GetJobInstance(job, conn);
    if (instance.isUninitialized()) return JOB_STATE_COMPLETED;
    const int state = ToInt(GetCIMProp(instance, "JobState"));
    const std::string status = GetCIMProp(instance, "JobStatus");
    percentComplete = ToInt(GetCIMProp(instance, "PercentComplete"));
    const std::string stateText = GetjobStateString(state);
    DEBUG_TRACE_NORMAL(kLabel, "Job-State %d: %s, %d %%   %s\n", state, stateText.c_str(), percentComplete,
                       status.c_str());
    if (stateText == "Terminated" || stateText == "Exception" || stateText.find("Unknown") != std::string::npos)
        DEBUG_TRACE(kLabel, "\tStatus = %s, %s, %s\n", GetCIMProp(instance, "Status").c_str(),
                    GetCIMProp(instance, "StatusDescriptions").c_str(),
                    GetCIMProp(instance, "ErrorDescription").c_str());
    return state;
}

void ZqSmisJob::GotoSleep(int milliseconds) {
    if (milliseconds <= 0) return;
    const unsigned seconds = unsigned((int64_t(milliseconds) + 999) / 1000);
    zq::platform::clock().sleepSeconds(seconds);
}

int ZqSmisJob::WatchJob(const CIMObjectPath& job, ZqCimConnection& conn, int maxTries, int intervalSeconds) {
    static const char* const kLabel = "SMIS::WatchJob";
    if (job.getClassName().isNull()) {
        DEBUG_TRACE(kLabel, "No job reference to watch: the method's job is unknown");
        return JOB_STATE_EXCEPTION;
    }
    int tries = 0;
    int percent = 0;
    while (tries < maxTries && !IsJobDone(job, conn)) {
        DEBUG_TRACE(kLabel, "Try %u", unsigned(tries));
        ++tries;
        GotoSleep(intervalSeconds > 0 ? std::min(intervalSeconds, INT_MAX / 1000) * 1000 : 0);
        PrintJobSummary(job, conn, percent);
    }
    const int result = PrintJobSummary(job, conn, percent);
    DEBUG_TRACE(kLabel, "ret %u", unsigned(result));
    // A job that ended, even at the last try, answers its own state.
    if (tries < maxTries || IsJobDone(result)) return result;
    DEBUG_TRACE(kLabel, "Max tries exceeded if its Running assuming, it will complete");
    return JOB_STATE_COMPLETED;
}
