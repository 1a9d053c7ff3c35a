// One simulated IBM SVC cluster: its state, clock, jobs, faults and request
// log, behind one lock. The CIM server and the JSON side channel both work
// through this class; tests use it directly (the control API below).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ArrayMethods.h"
#include "CimView.h"
#include "ClusterState.h"
#include "CopyServices.h"
#include "FaultPlan.h"
#include "HostDisks.h"
#include "JobTable.h"
#include "RequestLog.h"
#include "ZqClock.h"

namespace arraysim {

// Everything that the lock guards.
struct Model {
    explicit Model(ClusterState initial) : state(std::move(initial)), copies(state) {}
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    ClusterState state;
    CopyServices copies;
    JobTable jobs;

    CimView view(int64_t nowMs) { return CimView(state, copies, jobs, nowMs); }
};

struct Credentials {
    std::string user = "admin";
    std::string password = "admin";
};

class ArraySimulator {
public:
    // A cluster with two I/O groups of two nodes, two pools and no volumes.
    static ClusterState defaultCluster();

    // The simulator reads `clock`, or the process clock (zq::platform::clock())
    // when none is given, so that a VirtualClock shared with the engine drives
    // both.
    explicit ArraySimulator(ClusterState initial = defaultCluster(),
                            std::shared_ptr<zq::platform::Clock> clock = nullptr);

    int64_t nowMs() const;
    FaultPlan& faults() { return faults_; }
    RequestLog& requestLog() { return log_; }
    Credentials credentials() const;
    void setCredentials(Credentials c);

    // Runs fn(Model&, nowMs) under the lock, after the clock's events up to now.
    template <typename F>
    auto withModel(F&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        int64_t now = nowMs();
        advanceLocked(now);
        return fn(model_, now);
    }

    // --- CIM operations in model terms (CimError for CIM errors)
    MethodResult invoke(const SimPath& target, const std::string& method, const std::vector<SimParam>& params);
    // ModifyInstance: the properties to change (a PropertyList already applied).
    void modifyInstance(const SimPath& target, const std::vector<SimProperty>& props);
    void deleteInstance(const SimPath& target);

    // --- control API for tests and the side channel. Objects are named by
    // name; volumes also by UID. std::invalid_argument for unknown names.
    RcResult addVolume(const std::string& name, const std::string& pool, uint64_t sizeBytes,
                       bool spaceEfficient = false, uint32_t ioGroup = kNoId);
    RcResult addHost(const std::string& name, const std::vector<std::string>& ports);
    uint32_t mapToHost(const std::string& host, const std::string& volume, uint32_t lun = kNoId);
    // The host wrote `percent` of the volume; returns its new data generation.
    uint64_t hostWrite(const std::string& volume, double percent = 10);
    uint64_t generation(const std::string& volume);
    // Removes an object as another administrator would (kind: volume, host,
    // mapping, group, job), with what depends on it. False when absent.
    bool vanish(const std::string& kind, const std::string& name);
    void setPoolOnline(const std::string& pool, bool online);
    void setStuckStopping(const std::string& mapping, bool stuck);
    // Every prepare of the mapping fails until cleared: it ends stopped, and
    // so does the rest of its group.
    void setPrepareFails(const std::string& mapping, bool fails);
    // A copying or stopping mapping is suspended (source and target offline,
    // nothing moves) until released; std::invalid_argument in other states.
    void setSuspended(const std::string& mapping, bool suspended);
    void setVolumeStatus(const std::string& volume, int operationalStatus);  // -1 clears
    std::vector<HostDisk> hostDisks(const std::vector<std::string>& initiators);

private:
    void advanceLocked(int64_t now);
    uint32_t volumeIdLocked(const std::string& nameOrUid);

    std::shared_ptr<zq::platform::Clock> clock_;
    mutable std::mutex mutex_;
    Model model_;
    FaultPlan faults_;
    RequestLog log_;
    Credentials credentials_;
};

}  // namespace arraysim
