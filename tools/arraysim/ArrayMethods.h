// The extrinsic methods of the simulated provider: each checks its
// in-parameters and the array's rules, then changes the cluster, at once or,
// when a test set the method to run as a job, when that job completes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CimView.h"
#include "ClassCatalog.h"
#include "ClusterState.h"
#include "CopyServices.h"
#include "FaultPlan.h"
#include "JobTable.h"
#include "MethodArgs.h"
#include "SimValue.h"

namespace arraysim {

struct MethodResult {
    uint32_t returnValue = 0;
    std::vector<SimProperty> out;  // output parameters, exact names
};

class ArrayMethods {
public:
    ArrayMethods(ClusterState& state, CopyServices& copies, JobTable& jobs, FaultPlan& faults, int64_t nowMs)
        : s_(state), copies_(copies), jobs_(jobs), faults_(faults), now_(nowMs), view_(state, copies, jobs, nowMs) {}

    // `target` is the object the method was invoked on. Throws CimError for
    // parameters that are missing, mistyped or name no object.
    MethodResult invoke(const ObjRef& target, const MethodDecl& decl, const std::vector<SimParam>& params);

private:
    struct Plan {
        uint32_t rc = 0;
        std::vector<SimProperty> out;
        std::function<uint32_t(int64_t nowMs)> apply;  // set when rc is 0
    };
    using Handler = Plan (ArrayMethods::*)(const ObjRef&, const MethodArgs&, bool asJob);

    Plan createOrModifyElement(const ObjRef&, const MethodArgs&, bool asJob);
    Plan returnToPool(const ObjRef&, const MethodArgs&, bool asJob);
    Plan attachReplica(const ObjRef&, const MethodArgs&, bool asJob);
    Plan modifySynchronization(const ObjRef&, const MethodArgs&, bool asJob);
    Plan createReplica(const ObjRef&, const MethodArgs&, bool asJob);
    Plan createSynchronizedSet(const ObjRef&, const MethodArgs&, bool asJob);
    Plan modifySynchronizedSet(const ObjRef&, const MethodArgs&, bool asJob);
    Plan deleteSynchronizedSet(const ObjRef&, const MethodArgs&, bool asJob);
    Plan exposePaths(const ObjRef&, const MethodArgs&, bool asJob);
    Plan hidePaths(const ObjRef&, const MethodArgs&, bool asJob);
    Plan setElementName(const ObjRef&, const MethodArgs&, bool asJob);

    static Plan refuse(uint32_t rc);
    // Volumes named by LUNames (UIDs) and hosts named by ProtocolControllers:
    // 0, or the return value that refuses the call.
    uint32_t luVolumes(const MethodArgs& args, std::vector<uint32_t>& out) const;
    uint32_t controllerHosts(const MethodArgs& args, std::vector<uint32_t>& out) const;
    // The object a reference parameter names, of the given kind; CimError
    // NOT_FOUND when it names nothing.
    ObjRef need(const MethodArgs& args, const std::string& name, ObjKind kind);
    // The object a path names, when it is of the given kind.
    bool find(const SimPath& path, ObjKind kind, ObjRef& out) const;

    ClusterState& s_;
    CopyServices& copies_;
    JobTable& jobs_;
    FaultPlan& faults_;
    int64_t now_;
    CimView view_;
};

}  // namespace arraysim
