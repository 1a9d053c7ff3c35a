#include "ArrayMethods.h"

#include <map>
#include <memory>
#include <set>

#include "CopyType.h"
#include "SvcReturnCode.h"
#include "SyncOperation.h"
#include "TextUtil.h"

namespace arraysim {

namespace {
SimProperty outRef(const char* name, SimPath p) { return {name, SimValue::ref(std::move(p))}; }

int firmwareMajorMinor(const std::string& firmware) {
    auto parts = splitText(firmware, '.');
    int major = parts.size() > 0 ? std::atoi(parts[0].c_str()) : 0;
    int minor = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
    return major * 100 + minor;
}
}  // namespace

ArrayMethods::Plan ArrayMethods::refuse(uint32_t rc) {
    Plan p;
    p.rc = rc;
    return p;
}

bool ArrayMethods::find(const SimPath& path, ObjKind kind, ObjRef& out) const {
    return view_.resolve(path, out) && out.kind == kind;
}

ObjRef ArrayMethods::need(const MethodArgs& args, const std::string& name, ObjKind kind) {
    args.require(name);
    ObjRef out;
    const SimPath* p = args.ref(name);
    if (!find(*p, kind, out))
        throw CimError(CimStatus::NotFound, "parameter " + name + " names no " + CimView::className(kind) + ": " +
                                                p->toString());
    return out;
}

MethodResult ArrayMethods::invoke(const ObjRef& target, const MethodDecl& decl, const std::vector<SimParam>& params) {
    static const std::map<std::string, Handler> handlers = {
        {"createormodifyelementfromstoragepool", &ArrayMethods::createOrModifyElement},
        {"returntostoragepool", &ArrayMethods::returnToPool},
        {"attachreplica", &ArrayMethods::attachReplica},
        {"modifysynchronization", &ArrayMethods::modifySynchronization},
        {"createreplica", &ArrayMethods::createReplica},
        {"createsynchronizedset", &ArrayMethods::createSynchronizedSet},
        {"modifysynchronizedset", &ArrayMethods::modifySynchronizedSet},
        {"deletesynchronizedset", &ArrayMethods::deleteSynchronizedSet},
        {"exposepaths", &ArrayMethods::exposePaths},
        {"hidepaths", &ArrayMethods::hidePaths},
        {"setelementname", &ArrayMethods::setElementName},
    };
    auto h = handlers.find(toLower(decl.name));
    if (h == handlers.end()) throw CimError(CimStatus::MethodNotAvailable, decl.name + " is not available");

    MethodArgs args(decl, params);
    MethodResult result;
    if (auto rc = faults_.takeReturnValue(decl.name)) {
        result.returnValue = *rc;
        return result;
    }
    auto jobScript = faults_.takeJob(decl.name);
    Plan plan = (this->*(h->second))(target, args, jobScript.has_value());
    result.out = std::move(plan.out);
    if (plan.rc != Rc::Ok) {
        result.returnValue = plan.rc;
        return result;
    }
    if (!jobScript) {
        result.returnValue = plan.apply ? plan.apply(now_) : Rc::Ok;
        return result;
    }
    auto apply = std::move(plan.apply);
    uint64_t jobId = jobs_.create(decl.name, std::move(*jobScript),
                                  [apply](int64_t atMs) -> std::string {
                                      uint32_t rc = apply ? apply(atMs) : Rc::Ok;
                                      if (rc == Rc::Ok) return {};
                                      return "The operation failed with return value " + std::to_string(rc) + ".";
                                  },
                                  now_);
    result.returnValue = Rc::JobStarted;
    result.out.push_back(outRef("Job", view_.pathOf({ObjKind::Job, jobId, 0})));
    return result;
}

// ---------------------------------------------------------------- volumes

ArrayMethods::Plan ArrayMethods::createOrModifyElement(const ObjRef&, const MethodArgs& args, bool asJob) {
    if (args.present("TheElement")) return refuse(Rc::NotSupported);
    args.require("Size");
    args.require("InPool");
    VolumeSpec spec;
    spec.name = args.str("ElementName").value_or("");
    spec.sizeBytes = *args.uint("Size");
    uint64_t type = args.uint("ElementType").value_or(2);
    if (type != 2 && type != 5) return refuse(Rc::InvalidParameter);
    ObjRef pool;
    if (!find(*args.ref("InPool"), ObjKind::Pool, pool)) return refuse(Rc::InvalidPool);
    spec.poolId = uint32_t(pool.a);
    bool thinGoal = false;
    bool hasGoal = false;
    if (auto goal = args.ref("Goal")) {
        ObjRef setting;
        if (!find(*goal, ObjKind::VolumeSetting, setting)) return refuse(Rc::InvalidGoal);
        hasGoal = true;
        thinGoal = setting.a == 1;
    }
    spec.spaceEfficient = args.boolean("isSpaceEfficient").value_or(false) || type == 5 || thinGoal;
    if (!spec.spaceEfficient && !hasGoal && firmwareMajorMinor(s_.cluster.firmware) >= 707)
        return refuse(Rc::InvalidGoal);  // thick volumes need the Standard goal on 7.7 and later
    spec.autoexpand = args.boolean("Autoexpand").value_or(false);
    uint64_t real = args.uint("RealSizePercent").value_or(2);
    if (real > 100) return refuse(Rc::InvalidParameter);
    spec.realSizePercent = uint16_t(real);
    spec.grainSizeKiB = uint32_t(args.uint("Grainsize").value_or(256));
    if (auto io = args.ref("IOGroup")) {
        ObjRef g;
        if (!find(*io, ObjKind::IoGroup, g)) return refuse(Rc::InvalidIoGroup);
        spec.ioGroupId = uint32_t(g.a);
    }
    if (auto node = args.ref("PreferredNode")) {
        ObjRef n;
        if (!find(*node, ObjKind::Node, n)) return refuse(Rc::InvalidNode);
        spec.preferredNodeId = uint32_t(n.a);
        if (spec.ioGroupId == kNoId) spec.ioGroupId = s_.nodes.at(spec.preferredNodeId).ioGroupId;
    }
    if (spec.grainSizeKiB > 0xFFFF) return refuse(Rc::InvalidParameter);
    RcResult check = s_.createVolume(spec, true);
    if (!check.ok()) return refuse(check.rc);
    if (asJob) spec.id = s_.reserveVolumeId();

    Plan plan;
    ClusterState* s = &s_;
    plan.apply = [s, spec](int64_t) { return s->createVolume(spec).rc; };
    if (asJob) {
        plan.out.push_back(outRef("TheElement", view_.pathOf({ObjKind::Volume, spec.id, 0})));
        plan.out.push_back({"Size", SimValue::uint(SimType::Uint64, spec.sizeBytes)});
        return plan;
    }
    RcResult made = s_.createVolume(spec);
    if (!made.ok()) return refuse(made.rc);
    plan.apply = nullptr;
    plan.out.push_back(outRef("TheElement", view_.pathOf({ObjKind::Volume, made.id, 0})));
    plan.out.push_back({"Size", SimValue::uint(SimType::Uint64, spec.sizeBytes)});
    return plan;
}

ArrayMethods::Plan ArrayMethods::returnToPool(const ObjRef&, const MethodArgs& args, bool) {
    ObjRef vol = need(args, "TheElement", ObjKind::Volume);
    uint32_t id = uint32_t(vol.a);
    if (s_.mappingOfTarget(id) || !s_.mappingsOfSource(id).empty() || !s_.hostsOfVolume(id).empty())
        return refuse(Rc::VolumeInUse);
    Plan plan;
    ClusterState* s = &s_;
    plan.apply = [s, id](int64_t) { return s->volume(id) ? s->deleteVolume(id) : Rc::InvalidParameter; };
    return plan;
}

// ---------------------------------------------------------------- FlashCopy

ArrayMethods::Plan ArrayMethods::attachReplica(const ObjRef&, const MethodArgs& args, bool) {
    ObjRef src = need(args, "SourceElement", ObjKind::Volume);
    ObjRef tgt = need(args, "TargetElement", ObjKind::Volume);
    uint64_t copyType = args.uint("CopyType").value_or(CopyType::UnSyncAssoc);
    if (copyType != CopyType::UnSyncAssoc && copyType != CopyType::UnSyncUnAssoc)
        return refuse(Rc::CopyTypeNotSupported);
    MappingSpec spec;
    spec.sourceId = uint32_t(src.a);
    spec.targetId = uint32_t(tgt.a);
    spec.autoDelete = copyType == CopyType::UnSyncUnAssoc;
    uint64_t copyRate = args.uint("BackgroundCopyRate").value_or(50);
    uint64_t cleanRate = args.uint("CleanRate").value_or(50);
    if (copyRate > copies_.maxRate() || cleanRate > copies_.maxRate()) return refuse(Rc::RateOutOfRange);
    spec.copyRate = uint16_t(copyRate);
    spec.cleanRate = uint16_t(cleanRate);
    spec.incremental = args.boolean("Incremental").value_or(false);
    spec.name = args.str("ElementName").value_or("");
    spec.grainSizeKiB = uint32_t(args.uint("GrainSize").value_or(256));

    // Check every rule now, so that a job answer is only given for work the
    // array would accept.
    if (uint32_t rc = copies_.checkCreate(spec)) return refuse(rc);
    Plan plan;
    CopyServices* copies = &copies_;
    plan.apply = [copies, spec](int64_t) { return copies->createMapping(spec).rc; };
    return plan;
}

ArrayMethods::Plan ArrayMethods::modifySynchronization(const ObjRef&, const MethodArgs& args, bool asJob) {
    args.require("Operation");
    uint64_t op = *args.uint("Operation");
    ObjRef sync = need(args, "Synchronization", ObjKind::Mapping);
    uint32_t id = uint32_t(sync.a);
    bool force = args.boolean("Force").value_or(false);
    bool restore = args.boolean("Restore").value_or(false);
    CopyServices* copies = &copies_;
    std::function<uint32_t(int64_t)> apply;
    switch (op) {
        case SyncOperation::DeleteMapping: apply = [=](int64_t at) { return copies->remove(id, force, at); }; break;
        case SyncOperation::Start: apply = [=](int64_t at) { return copies->start(id, restore, at); }; break;
        case SyncOperation::Prepare: apply = [=](int64_t at) { return copies->prepare(id, at, restore); }; break;
        case SyncOperation::Stop: apply = [=](int64_t at) { return copies->stop(id, force, at); }; break;
        default: return refuse(Rc::NotSupported);
    }
    Plan plan;
    if (!asJob) {
        plan.apply = apply;
        return plan;
    }
    // As a job the change happens at completion; refuse now what the cluster refuses now.
    FcCommand cmd = op == SyncOperation::Start     ? FcCommand::Start
                    : op == SyncOperation::Prepare ? FcCommand::Prepare
                    : op == SyncOperation::Stop    ? (force ? FcCommand::StopForce : FcCommand::Stop)
                                                   : (force ? FcCommand::DeleteForce : FcCommand::Delete);
    if (uint32_t rc = copies_.check(*s_.mapping(id), cmd, restore)) return refuse(rc);
    plan.apply = [apply, copies](int64_t at) {
        copies->advance(at);
        return apply(at);
    };
    return plan;
}

ArrayMethods::Plan ArrayMethods::createReplica(const ObjRef&, const MethodArgs& args, bool asJob) {
    ObjRef src = need(args, "SourceElement", ObjKind::Volume);
    uint64_t copyType = args.uint("CopyType").value_or(CopyType::UnSyncAssoc);
    if (copyType != CopyType::UnSyncAssoc && copyType != CopyType::UnSyncUnAssoc)
        return refuse(Rc::CopyTypeNotSupported);
    const Volume& source = *s_.volume(uint32_t(src.a));
    bool snapshot = copyType == CopyType::UnSyncAssoc;
    VolumeSpec vs;
    vs.name = args.str("ElementName").value_or("");
    vs.poolId = source.poolId;
    if (auto pool = args.ref("TargetPool")) {
        ObjRef p;
        if (!find(*pool, ObjKind::Pool, p)) return refuse(Rc::InvalidPool);
        vs.poolId = uint32_t(p.a);
    }
    bool thin = snapshot || source.spaceEfficient;
    if (auto goal = args.ref("TargetSettingGoal")) {
        ObjRef setting;
        if (!find(*goal, ObjKind::VolumeSetting, setting)) return refuse(Rc::InvalidGoal);
        thin = thin || setting.a == 1;
    }
    vs.sizeBytes = source.sizeBytes();
    vs.spaceEfficient = thin;
    vs.autoexpand = thin;
    vs.realSizePercent = snapshot ? 0 : 2;
    vs.ioGroupId = source.ioGroupId;
    RcResult check = s_.createVolume(vs, true);
    if (!check.ok()) return refuse(check.rc);
    if (!vs.name.empty() && s_.mappingByName(vs.name)) return refuse(Rc::ObjectNameExists);
    if (uint32_t rc = copies_.checkLimits(source.id, kNoId)) return refuse(rc);
    vs.id = s_.reserveVolumeId();

    MappingSpec ms;
    ms.sourceId = source.id;
    ms.targetId = vs.id;
    ms.name = vs.name;
    ms.copyRate = snapshot ? 0 : 50;
    ms.cleanRate = snapshot ? 0 : 50;
    ms.autoDelete = !snapshot;
    ClusterState* s = &s_;
    CopyServices* copies = &copies_;
    Plan plan;
    plan.apply = [s, copies, vs, ms](int64_t at) {
        RcResult v = s->createVolume(vs);
        if (!v.ok()) return v.rc;
        RcResult m = copies->createMapping(ms);
        if (!m.ok()) {
            s->vanishVolume(v.id);
            return m.rc;
        }
        // Prepared and started in one go, as "startfcmap -prep" does.
        s->mapping(m.id)->state = FcState::Prepared;
        return copies->start(m.id, false, at);
    };
    plan.out.push_back(outRef("TargetElement", view_.pathOf({ObjKind::Volume, vs.id, 0})));
    if (!asJob) {
        uint32_t rc = plan.apply(now_);
        if (rc != Rc::Ok) return refuse(rc);
        plan.apply = nullptr;
    }
    return plan;
}

// ---------------------------------------------------------------- groups

ArrayMethods::Plan ArrayMethods::createSynchronizedSet(const ObjRef&, const MethodArgs& args, bool asJob) {
    uint64_t copyType = args.uint("CopyType").value_or(CopyType::UnSyncAssoc);
    if (copyType != CopyType::UnSyncAssoc && copyType != CopyType::UnSyncUnAssoc)
        return refuse(Rc::CopyTypeNotSupported);
    std::string name = args.str("ElementName").value_or("");
    RcResult check = s_.createGroup(name, kNoId, true);
    if (!check.ok()) return refuse(check.rc);
    uint32_t id = s_.reserveGroupId();
    Plan plan;
    ClusterState* s = &s_;
    plan.apply = [s, name, id](int64_t) { return s->createGroup(name, id).rc; };
    if (!asJob) {
        uint32_t rc = plan.apply(now_);
        if (rc != Rc::Ok) return refuse(rc);
        plan.apply = nullptr;
        plan.out.push_back(outRef("Set", view_.pathOf({ObjKind::Group, id, 0})));
    }
    return plan;
}

ArrayMethods::Plan ArrayMethods::modifySynchronizedSet(const ObjRef&, const MethodArgs& args, bool) {
    args.require("Operation");
    ObjRef set = need(args, "SynchronizedSet", ObjKind::Group);
    uint32_t groupId = uint32_t(set.a);
    uint64_t op = *args.uint("Operation");
    CopyServices* copies = &copies_;
    Plan plan;
    switch (op) {
        case SetOperation::AddMapping:
        case SetOperation::RemoveMapping: {
            if (!args.present("Synchronization")) return refuse(Rc::InvalidParameter);
            uint32_t mapId = uint32_t(need(args, "Synchronization", ObjKind::Mapping).a);
            if (op == SetOperation::AddMapping)
                plan.apply = [=](int64_t) { return copies->addToGroup(groupId, mapId); };
            else
                plan.apply = [=](int64_t) { return copies->removeFromGroup(groupId, mapId); };
            break;
        }
        case SetOperation::Start: plan.apply = [=](int64_t at) { return copies->startGroup(groupId, at); }; break;
        case SetOperation::Prepare:
            plan.apply = [=](int64_t at) { return copies->prepareGroup(groupId, at); };
            break;
        case SetOperation::Stop: plan.apply = [=](int64_t at) { return copies->stopGroup(groupId, false, at); }; break;
        default: return refuse(Rc::NotSupported);
    }
    return plan;
}

ArrayMethods::Plan ArrayMethods::deleteSynchronizedSet(const ObjRef&, const MethodArgs& args, bool) {
    args.require("Set");
    ObjRef set;
    if (!find(*args.ref("Set"), ObjKind::Group, set)) return refuse(Rc::GroupNotValid);
    uint32_t groupId = uint32_t(set.a);
    bool force = args.boolean("Force").value_or(false);
    if (!force && !s_.group(groupId)->members.empty()) return refuse(Rc::GroupNotEmpty);
    Plan plan;
    CopyServices* copies = &copies_;
    plan.apply = [=](int64_t) { return copies->deleteGroup(groupId, force); };
    return plan;
}

ArrayMethods::Plan ArrayMethods::setElementName(const ObjRef& target, const MethodArgs& args, bool) {
    args.require("elementName");
    std::string name = *args.str("elementName");
    if (target.kind != ObjKind::Mapping) return refuse(Rc::NotSupported);
    uint32_t id = uint32_t(target.a);
    if (!ClusterState::validObjectName(name)) return refuse(Rc::InvalidObjectName);
    auto other = s_.mappingByName(name);
    if (other && other->id != id) return refuse(Rc::ObjectNameExists);
    Plan plan;
    ClusterState* s = &s_;
    plan.apply = [=](int64_t) { return s->mapping(id) ? s->renameMapping(id, name) : Rc::InvalidParameter; };
    return plan;
}

// ---------------------------------------------------------------- host paths

uint32_t ArrayMethods::luVolumes(const MethodArgs& args, std::vector<uint32_t>& out) const {
    auto luNames = args.strings("LUNames");
    if (luNames.empty()) return Rc::InvalidParameter;
    for (auto& lu : luNames) {
        auto v = s_.volumeByUid(lu);
        if (!v) return Rc::InvalidLogicalUnit;
        out.push_back(v->id);
    }
    return Rc::Ok;
}

uint32_t ArrayMethods::controllerHosts(const MethodArgs& args, std::vector<uint32_t>& out) const {
    for (auto& path : args.refs("ProtocolControllers")) {
        ObjRef h;
        if (!find(path, ObjKind::Host, h)) return Rc::InvalidTarget;
        out.push_back(uint32_t(h.a));
    }
    return Rc::Ok;
}

ArrayMethods::Plan ArrayMethods::exposePaths(const ObjRef&, const MethodArgs& args, bool asJob) {
    std::vector<uint32_t> volumes;
    if (uint32_t rc = luVolumes(args, volumes)) return refuse(rc);
    std::vector<uint32_t> scsiIds(volumes.size(), kNoId);
    if (args.present("DeviceNumbers")) {
        auto numbers = args.strings("DeviceNumbers");
        if (numbers.size() != volumes.size()) return refuse(Rc::InvalidParameter);
        for (size_t i = 0; i < numbers.size(); ++i) {
            unsigned long long n = 0;
            if (!parseUint64(numbers[i], n) || n > 2047) return refuse(Rc::InvalidParameter);
            scsiIds[i] = uint32_t(n);
        }
    }
    if (args.present("DeviceAccesses")) {
        auto access = args.uints("DeviceAccesses");
        if (access.size() != volumes.size()) return refuse(Rc::InvalidParameter);
        for (auto a : access)
            if (a != DeviceAccess::ReadWrite) return refuse(Rc::NotSupported);
    }
    bool force = args.boolean("Force").value_or(false);

    std::vector<uint32_t> hosts;
    std::vector<std::string> newPorts;
    if (uint32_t rc = controllerHosts(args, hosts)) return refuse(rc);
    if (hosts.empty()) {
        auto initiators = args.strings("InitiatorPortIDs");
        if (initiators.empty()) return refuse(Rc::InvalidParameter);
        std::set<uint32_t> owners;
        bool unknown = false;
        for (auto& i : initiators) {
            if (auto port = s_.portByName(i))
                owners.insert(port->hostId);
            else
                unknown = true;
        }
        if (owners.size() > 1 || (unknown && !owners.empty())) return refuse(Rc::HostPortInUse);
        if (owners.empty()) {
            RcResult probe = s_.createHost("", initiators, true);
            if (!probe.ok()) return refuse(probe.rc);
            newPorts = initiators;
        } else {
            hosts.push_back(*owners.begin());
        }
    }
    // Every mapping must be possible before any is made.
    for (uint32_t host : hosts)
        for (size_t i = 0; i < volumes.size(); ++i) {
            if (s_.hostMappings.count({host, volumes[i]})) return refuse(Rc::AlreadyMappedToHost);
            if (!force && !s_.hostsOfVolume(volumes[i]).empty()) return refuse(Rc::MappedToOtherHost);
        }

    Plan plan;
    ClusterState* s = &s_;
    auto chosen = std::make_shared<std::vector<uint32_t>>(hosts);
    plan.apply = [s, chosen, newPorts, volumes, scsiIds, force](int64_t) -> uint32_t {
        if (!newPorts.empty()) {
            RcResult h = s->createHost("", newPorts);
            if (!h.ok()) return h.rc;
            chosen->push_back(h.id);
        }
        for (uint32_t host : *chosen)
            for (size_t i = 0; i < volumes.size(); ++i) {
                uint32_t rc = s->mapVolume(host, volumes[i], scsiIds[i], force);
                if (rc != Rc::Ok) return rc;
            }
        return Rc::Ok;
    };
    if (!asJob) {
        uint32_t rc = plan.apply(now_);
        if (rc != Rc::Ok) return refuse(rc);
        plan.apply = nullptr;
    }
    std::vector<SimPath> controllers;
    for (uint32_t host : *chosen) controllers.push_back(view_.pathOf({ObjKind::Host, host, 0}));
    plan.out.push_back({"ProtocolControllers", SimValue::refArray(std::move(controllers))});
    return plan;
}

ArrayMethods::Plan ArrayMethods::hidePaths(const ObjRef&, const MethodArgs& args, bool) {
    std::vector<uint32_t> volumes;
    if (uint32_t rc = luVolumes(args, volumes)) return refuse(rc);
    std::vector<uint32_t> given;
    if (uint32_t rc = controllerHosts(args, given)) return refuse(rc);
    std::set<uint32_t> hosts(given.begin(), given.end());
    if (hosts.empty()) {
        auto initiators = args.strings("InitiatorPortIDs");
        if (initiators.empty()) return refuse(Rc::InvalidParameter);
        for (auto& i : initiators)
            if (auto port = s_.portByName(i)) hosts.insert(port->hostId);
        if (hosts.empty()) return refuse(Rc::InvalidInitiator);
    }
    for (uint32_t host : hosts)
        for (uint32_t vol : volumes)
            if (!s_.hostMappings.count({host, vol})) return refuse(Rc::NotMappedToHost);
    Plan plan;
    ClusterState* s = &s_;
    plan.apply = [s, hosts, volumes](int64_t) -> uint32_t {
        for (uint32_t host : hosts)
            for (uint32_t vol : volumes) {
                uint32_t rc = s->unmapVolume(host, vol);
                if (rc != Rc::Ok) return rc;
            }
        return Rc::Ok;
    };
    return plan;
}

}  // namespace arraysim
