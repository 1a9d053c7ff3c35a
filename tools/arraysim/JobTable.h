// SMI-S jobs of the simulator (IBMTSSVC_ConcreteJob). A job walks through a
// script of states on the simulator's clock (per second) or per poll; when it
// reaches Completed the deferred work of its method runs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace arraysim {

struct JobStep {
    uint16_t state = 0;    // JobState.h
    uint16_t percent = 0;  // PercentComplete
};

struct JobScript {
    enum class Advance : uint8_t { PerSecond, PerPoll };
    std::vector<JobStep> steps;
    Advance advance = Advance::PerSecond;
    int64_t stepMs = 0;            // PerSecond: time per step; 0 = the cluster's default
    std::string errorDescription;  // shown when the job ends in 8, 9 or 10

    // New, Running, Completed.
    static JobScript completing();
    // New, Running, then `endState` (8 Terminated, 9 Killed, 10 Exception).
    static JobScript endingIn(uint16_t endState, std::string description);
    // New, then Running for ever.
    static JobScript neverEnding();
};

struct Job {
    uint64_t id = 0;
    std::string method;
    JobScript script;
    size_t step = 0;
    int64_t submittedMs = 0;
    int64_t stepSinceMs = 0;
    int64_t finishedMs = -1;
    std::string errorDescription;
    // Runs once, when the job reaches Completed; a non-empty answer is an
    // error text and turns the job into Exception.
    std::function<std::string(int64_t atMs)> work;

    uint16_t state() const;
    uint16_t percent() const;
};

class JobTable {
public:
    uint64_t create(const std::string& method, JobScript script, std::function<std::string(int64_t atMs)> work, int64_t nowMs);
    Job* find(uint64_t id);
    // A client read the job: per-poll jobs move one step on.
    void polled(uint64_t id, int64_t nowMs);
    // Per-second steps and removal of finished jobs older than retentionMs.
    void advance(int64_t nowMs, int64_t defaultStepMs, int64_t retentionMs);
    std::vector<uint64_t> ids() const;
    bool erase(uint64_t id);
    size_t size() const { return jobs_.size(); }

private:
    void enterStep(Job& job, size_t step, int64_t atMs);
    std::map<uint64_t, Job> jobs_;
    uint64_t nextId_ = 1;
};

}  // namespace arraysim
