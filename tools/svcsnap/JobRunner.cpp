#include "JobRunner.h"

#include "Arrays.h"
#include "HostRecord.h"
#include "KnownCopies.h"
#include "zqso/ZqsoTypes.h"

namespace svcsnap {

namespace {

// Statuses after which a record holds no copy any more.
bool copyGone(int status) {
    return status == ZQSO::SNAP_STATUS_UNPREPARED || status == ZQSO::SNAP_STATUS_DELETED ||
           status == ZQSO::SNAP_STATUS_DELETED_OUTSIDE;
}

}  // namespace

JobRunner::JobRunner(Catalogue& catalogue, const Plugin& plugin, std::shared_ptr<HostBackend> backend)
    : JobRunner(catalogue, plugin, HostContext{std::move(backend), nullptr, nullptr}) {}

JobRunner::JobRunner(Catalogue& catalogue, const Plugin& plugin, HostContext host)
    : catalogue_(catalogue), plugin_(plugin), host_(std::move(host)) {}

StepOutcome JobRunner::run(const JobEntry& job, const std::string& step, const std::string& entry,
                           const std::string& stateAfter, uint16_t operation) {
    BatchEntry call = plugin_.batch(entry);
    Jobs jobs(catalogue_);
    jobs.beginStep(job.id, step);
    StepOutcome outcome;
    try {
        HostOSUtil os(Arrays(catalogue_).list(), job.engineId, host_);
        os.setCurrentOperation(operation);
        auto settings = recordSettings(job);
        std::vector<std::unique_ptr<HostRecord>> records;
        std::vector<ZQSO::SnapInfo*> pointers;
        std::vector<HostRecord*> batch;
        for (auto& r : jobs.records(job.id)) {
            // An error belongs to the step that set it.
            r.errorCode = 0;
            r.errorText.clear();
            records.push_back(std::make_unique<HostRecord>(std::move(r), job, os, settings));
            pointers.push_back(records.back().get());
            batch.push_back(records.back().get());
        }
        os.setBatch(job, batch);
        outcome.result = call(pointers.data(), int16_t(pointers.size()), &os);
        for (const auto& r : records) outcome.records.push_back(r->entry());

        KnownCopies copies(catalogue_);
        const std::string& state = outcome.result == 1 ? job.state : stateAfter;
        jobs.finishStep(job.id, step, outcome.result, state, outcome.records, [&] {
            for (const auto& r : outcome.records) {
                auto uniqueId = r.metadata.find(ZQSO::SM_MDT_UNIQUE_ID);
                copies.forgetRecord(r.id);
                if (!copyGone(r.status) && uniqueId != r.metadata.end() && !uniqueId->second.empty())
                    copies.remember(job.engineId, job.controlHostId, uniqueId->second, r.id);
            }
        });
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
