// Runs one step of a job through a plug-in entry point: takes the job's
// lease (unless this process holds it), marks the step as running, loads
// the records into host records that write what the engine hands them
// through to the catalogue, calls the engine, and writes the records, the
// copies known to the host and the step's end back in one transaction.
// Every flow command is a thin call of this.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "HostOSUtil.h"
#include "Jobs.h"
#include "PluginLoader.h"

namespace svcsnap {

struct StepOutcome {
    int result = 1;  // the entry point's result
    std::vector<RecordEntry> records;
};

// The job's state after a step, from the entry point's result and the records.
using StateAfter = std::function<std::string(int result, const std::vector<RecordEntry>& records)>;

class JobRunner {
public:
    JobRunner(Catalogue& catalogue, const Plugin& plugin, std::shared_ptr<HostBackend> backend);
    JobRunner(Catalogue& catalogue, const Plugin& plugin, HostContext host);

    // `entry` is a batch entry point ("zqso_prepareDevices", ...); the job's
    // state becomes `stateAfter` when the step ends with a result other than
    // 1. Each record's error is cleared before the step. A failure while
    // writing back leaves the records as the engine had written them through
    // and the step marked failed. A live process of another command holding
    // the job raises JobBusy.
    StepOutcome run(const JobEntry& job, const std::string& step, const std::string& entry,
                    const std::string& stateAfter, uint16_t operation = 0);
    StepOutcome run(const JobEntry& job, const std::string& step, const std::string& entry,
                    const StateAfter& stateAfter, uint16_t operation = 0);

    // The log lines of the job's last `steps` steps are kept, older ones
    // dropped when a step ends.
    void keepLogSteps(size_t steps) { logSteps_ = steps; }
    static constexpr size_t kDefaultLogSteps = 20;

private:
    Catalogue& catalogue_;
    const Plugin& plugin_;
    HostContext host_;
    size_t logSteps_ = kDefaultLogSteps;
};

}  // namespace svcsnap
