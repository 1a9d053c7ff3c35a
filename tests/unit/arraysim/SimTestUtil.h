// Helpers for driving the simulator's model without the CIM layer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ArraySimulator.h"
#include "ZqClock.h"

namespace simtest {

using namespace arraysim;

SimParam refParam(const std::string& name, SimPath p);
SimParam uintParam(const std::string& name, uint64_t v, const std::string& type = "uint16");
SimParam boolParam(const std::string& name, bool v);
SimParam strParam(const std::string& name, const std::string& v);

// The id of a volume, for use inside withModel().
uint32_t volumeIdIn(const Model& m, const std::string& name);

// A simulator on the default cluster with its own virtual clock.
struct SimBench {
    explicit SimBench(ClusterState cluster = ArraySimulator::defaultCluster()) : sim(std::move(cluster), clock) {}

    std::shared_ptr<zq::platform::VirtualClock> clock = std::make_shared<zq::platform::VirtualClock>();
    ArraySimulator sim;

    SimPath path(const ObjRef& ref);
    SimPath configService();
    SimPath volumePath(const std::string& name);
    SimPath mappingPath(const std::string& source, const std::string& target);
    uint32_t volumeId(const std::string& name);
    std::string uid(const std::string& name);
    MethodResult call(const SimPath& target, const std::string& method, std::vector<SimParam> params);
    // AttachReplica with explicit rates; returns the return value.
    uint32_t attach(const std::string& source, const std::string& target, uint16_t copyRate, bool incremental = false,
                    uint16_t copyType = 4);
    uint32_t sync(const std::string& source, const std::string& target, uint16_t op, bool force = false,
                  bool restore = false);
    // Consistency groups: CreateSynchronizedSet, and ModifySynchronizedSet
    // with an optional member.
    SimPath createGroup(const std::string& name);
    uint32_t modifyGroup(const SimPath& set, uint16_t op, const std::string& source = "",
                         const std::string& target = "");
    // State name and progress of the mapping between two volumes.
    std::string state(const std::string& source, const std::string& target);
    double progress(const std::string& source, const std::string& target);
    // SyncState the provider shows for the mapping, and a volume's OperationalStatus.
    uint16_t syncState(const std::string& source, const std::string& target);
    uint16_t volumeStatus(const std::string& volume);
    void advanceSeconds(double s) { clock->advanceMs(int64_t(s * 1000)); }
};

}  // namespace simtest
