#include "JobTable.h"

#include "JobState.h"

namespace arraysim {

const char* JobState::name(uint16_t s) {
    switch (s) {
        case New: return "New";
        case Starting: return "Starting";
        case Running: return "Running";
        case Suspended: return "Suspended";
        case ShuttingDown: return "Shutting Down";
        case Completed: return "Completed";
        case Terminated: return "Terminated";
        case Killed: return "Killed";
        case Exception: return "Exception";
        case Service: return "Service";
        default: return "Unknown";
    }
}

JobScript JobScript::completing() {
    JobScript s;
    s.steps = {{JobState::New, 0}, {JobState::Running, 50}, {JobState::Completed, 100}};
    return s;
}

JobScript JobScript::endingIn(uint16_t endState, std::string description) {
    JobScript s;
    s.steps = {{JobState::New, 0}, {JobState::Running, 50}, {endState, 50}};
    s.errorDescription = std::move(description);
    return s;
}

JobScript JobScript::neverEnding() {
    JobScript s;
    s.steps = {{JobState::New, 0}, {JobState::Running, 10}};
    return s;
}

uint16_t Job::state() const { return script.steps.empty() ? JobState::Completed : script.steps[step].state; }

uint16_t Job::percent() const { return script.steps.empty() ? 100 : script.steps[step].percent; }

uint64_t JobTable::create(const std::string& method, JobScript script, std::function<std::string(int64_t atMs)> work,
                          int64_t nowMs) {
    if (script.steps.empty()) script = JobScript::completing();
    Job job;
    job.id = nextId_++;
    job.method = method;
    job.script = std::move(script);
    job.submittedMs = nowMs;
    job.work = std::move(work);
    uint64_t id = job.id;
    auto& stored = jobs_.emplace(id, std::move(job)).first->second;
    enterStep(stored, 0, nowMs);
    return id;
}

Job* JobTable::find(uint64_t id) {
    auto it = jobs_.find(id);
    return it == jobs_.end() ? nullptr : &it->second;
}

void JobTable::enterStep(Job& job, size_t step, int64_t atMs) {
    job.step = step;
    job.stepSinceMs = atMs;
    uint16_t s = job.state();
    if (!JobState::isFinal(s)) return;
    job.finishedMs = atMs;
    if (s == JobState::Completed) {
        if (job.work) {
            std::string error = job.work(atMs);
            job.work = nullptr;
            if (!error.empty()) {
                // Keep the script's shape: the last step becomes Exception.
                job.script.steps[step] = {JobState::Exception, job.script.steps[step].percent};
                job.errorDescription = error;
            }
        }
    } else {
        job.errorDescription = job.script.errorDescription;
        job.work = nullptr;
    }
}

void JobTable::polled(uint64_t id, int64_t nowMs) {
    Job* job = find(id);
    if (!job || job->script.advance != JobScript::Advance::PerPoll) return;
    if (JobState::isFinal(job->state()) || job->step + 1 >= job->script.steps.size()) return;
    enterStep(*job, job->step + 1, nowMs);
}

void JobTable::advance(int64_t nowMs, int64_t defaultStepMs, int64_t retentionMs) {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        Job& job = it->second;
        if (job.script.advance == JobScript::Advance::PerSecond) {
            int64_t stepMs = job.script.stepMs > 0 ? job.script.stepMs : defaultStepMs;
            if (stepMs <= 0) stepMs = 1;
            while (!JobState::isFinal(job.state()) && job.step + 1 < job.script.steps.size() &&
                   job.stepSinceMs + stepMs <= nowMs)
                enterStep(job, job.step + 1, job.stepSinceMs + stepMs);
        }
        if (job.finishedMs >= 0 && job.finishedMs + retentionMs < nowMs)
            it = jobs_.erase(it);
        else
            ++it;
    }
}

std::vector<uint64_t> JobTable::ids() const {
    std::vector<uint64_t> out;
    for (auto& [id, j] : jobs_) out.push_back(id);
    return out;
}

bool JobTable::erase(uint64_t id) { return jobs_.erase(id) > 0; }

}  // namespace arraysim
