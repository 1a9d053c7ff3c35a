#include "SimTestUtil.h"

#include <stdexcept>

namespace simtest {

SimParam refParam(const std::string& name, SimPath p) { return {name, "reference", SimValue::ref(std::move(p))}; }

SimParam uintParam(const std::string& name, uint64_t v, const std::string& type) {
    SimType t = SimType::Uint16;
    parseSimTypeName(type, t);
    return {name, type, SimValue::uint(t, v)};
}

SimParam boolParam(const std::string& name, bool v) { return {name, "boolean", SimValue::boolean(v)}; }
SimParam strParam(const std::string& name, const std::string& v) { return {name, "string", SimValue::str(v)}; }

SimPath SimBench::path(const ObjRef& ref) {
    return sim.withModel([&](Model& m, int64_t now) { return m.view(now).pathOf(ref); });
}

SimPath SimBench::configService() { return path({ObjKind::ConfigService, 0, 0}); }

uint32_t volumeIdIn(const Model& m, const std::string& name) {
    auto v = m.state.volumeByName(name);
    if (!v) throw std::invalid_argument("no volume " + name);
    return v->id;
}

uint32_t SimBench::volumeId(const std::string& name) {
    return sim.withModel([&](Model& m, int64_t) { return volumeIdIn(m, name); });
}

std::string SimBench::uid(const std::string& name) {
    return sim.withModel([&](Model& m, int64_t) { return m.state.volume(volumeIdIn(m, name))->uid; });
}

SimPath SimBench::volumePath(const std::string& name) { return path({ObjKind::Volume, volumeId(name), 0}); }

SimPath SimBench::mappingPath(const std::string& source, const std::string& target) {
    SimPath p;
    p.className = "IBMTSSVC_LocalStorageSynchronized";
    p.addRef("SystemElement", volumePath(source)).addRef("SyncedElement", volumePath(target));
    return p;
}

MethodResult SimBench::call(const SimPath& target, const std::string& method, std::vector<SimParam> params) {
    return sim.invoke(target, method, params);
}

uint32_t SimBench::attach(const std::string& source, const std::string& target, uint16_t copyRate, bool incremental,
                          uint16_t copyType) {
    return call(configService(), "AttachReplica",
                {refParam("SourceElement", volumePath(source)), refParam("TargetElement", volumePath(target)),
                 uintParam("CopyType", copyType), uintParam("BackgroundCopyRate", copyRate),
                 uintParam("CleanRate", 0, "sint32"), boolParam("Incremental", incremental)})
        .returnValue;
}

uint32_t SimBench::sync(const std::string& source, const std::string& target, uint16_t op, bool force, bool restore) {
    return call(configService(), "ModifySynchronization",
                {uintParam("Operation", op), refParam("Synchronization", mappingPath(source, target)),
                 boolParam("Force", force), boolParam("Restore", restore)})
        .returnValue;
}

SimPath SimBench::createGroup(const std::string& name) {
    MethodResult r = call(configService(), "CreateSynchronizedSet", {strParam("ElementName", name), uintParam("CopyType", 4)});
    if (r.returnValue != 0 || r.out.empty()) throw std::runtime_error("CreateSynchronizedSet answered " + std::to_string(r.returnValue));
    return r.out.front().value.refs.front();
}

uint32_t SimBench::modifyGroup(const SimPath& set, uint16_t op, const std::string& source, const std::string& target) {
    std::vector<SimParam> params{refParam("SynchronizedSet", set), uintParam("Operation", op)};
    if (!source.empty()) params.push_back(refParam("Synchronization", mappingPath(source, target)));
    return call(configService(), "ModifySynchronizedSet", params).returnValue;
}

uint16_t SimBench::syncState(const std::string& source, const std::string& target) {
    return sim.withModel([&](Model& m, int64_t) -> uint16_t {
        auto mp = m.state.mappingByPair(volumeIdIn(m, source), volumeIdIn(m, target));
        if (!mp) throw std::invalid_argument("no mapping " + source + " -> " + target);
        return m.copies.syncState(*mp);
    });
}

uint16_t SimBench::volumeStatus(const std::string& volume) {
    return sim.withModel([&](Model& m, int64_t) { return m.state.volumeStatus(*m.state.volume(volumeIdIn(m, volume))); });
}

std::string SimBench::state(const std::string& source, const std::string& target) {
    return sim.withModel([&](Model& m, int64_t) -> std::string {
        auto mp = m.state.mappingByPair(volumeIdIn(m, source), volumeIdIn(m, target));
        return mp ? fcStateName(mp->state) : "none";
    });
}

double SimBench::progress(const std::string& source, const std::string& target) {
    return sim.withModel([&](Model& m, int64_t now) {
        auto mp = m.state.mappingByPair(volumeIdIn(m, source), volumeIdIn(m, target));
        return mp ? m.copies.progressAt(*mp, now) : -1.0;
    });
}

}  // namespace simtest
