#include "JobRunner.h"

#include "Arrays.h"
#include "HostRecord.h"
#include "Journal.h"

namespace svcsnap {

JobRunner::JobRunner(Catalogue& catalogue, const Plugin& plugin, std::shared_ptr<HostBackend> backend)
    : JobRunner(catalogue, plugin, HostContext{std::move(backend), nullptr, nullptr}) {}

JobRunner::JobRunner(Catalogue& catalogue, const Plugin& plugin, HostContext host)
    : catalogue_(catalogue), plugin_(plugin), host_(std::move(host)) {}

StepOutcome JobRunner::run(const JobEntry& job, const std::string& step, const std::string& entry,
                           const std::string& stateAfter, uint16_t operation) {
    return run(
        job, step, entry,
        [&](int result, const std::vector<RecordEntry>&) { return result == 1 ? job.state : stateAfter; },
        operation);
}

StepOutcome JobRunner::run(const JobEntry& job, const std::string& step, const std::string& entry,
                           const StateAfter& stateAfter, uint16_t operation) {
    BatchEntry call = plugin_.batch(entry);
    JobLease lease(catalogue_, job.id, step);
    Jobs jobs(catalogue_);
    lease.setStep(step);
    jobs.beginStep(job.id, step);
    StepOutcome outcome;
    try {
        HostOSUtil os(Arrays(catalogue_).list(), job.engineId, host_);
        os.setCurrentOperation(operation);
        auto settings = recordSettings(job);
        RecordJournal journal(catalogue_, job);
        std::vector<std::unique_ptr<HostRecord>> records;
        std::vector<ZQSO::SnapInfo*> pointers;
        std::vector<HostRecord*> batch;
        for (auto& r : jobs.records(job.id)) {
            // An error belongs to the step that set it.
            r.errorCode = 0;
            r.errorText.clear();
            records.push_back(std::make_unique<HostRecord>(std::move(r), job, os, settings));
            records.back()->setJournal(&journal);
            pointers.push_back(records.back().get());
            batch.push_back(records.back().get());
        }
        os.setBatch(job, batch);
        outcome.result = call(pointers.data(), int16_t(pointers.size()), &os);
        std::vector<RecordEntry> kept;
        for (const auto& r : records) {
            outcome.records.push_back(r->entry());
            kept.push_back(forCatalogue(outcome.records.back(), r->storedStatus()));
        }

        const std::string state = stateAfter(outcome.result, outcome.records);
        jobs.finishStep(job.id, step, outcome.result, state, kept, [&] {
            for (const auto& r : kept) rememberCopyOf(catalogue_, job.engineId, job.controlHostId, r);
            jobs.pruneLog(job.id, logSteps_);
        });
        lease.setStep("");
    } catch (...) {
        try {
            jobs.failStep(job.id, step);
        } catch (...) {
            // The step stays marked as running; the original failure is reported.
        }
        throw;
    }
    return outcome;
}

}  // namespace svcsnap
