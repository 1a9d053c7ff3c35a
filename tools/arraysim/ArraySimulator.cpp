#include "ArraySimulator.h"

#include <stdexcept>

#include "ClassCatalog.h"
#include "JobState.h"
#include "SvcReturnCode.h"
#include "TextUtil.h"

namespace arraysim {

namespace {
[[noreturn]] void unknown(const std::string& what, const std::string& name) {
    throw std::invalid_argument("no " + what + " named '" + name + "'");
}

// CIM error for a return value of a rule that an intrinsic operation broke.
[[noreturn]] void refuseIntrinsic(uint32_t rc, const std::string& what) {
    if (rc == Rc::ObjectNameExists || rc == Rc::VolumeNameExists || rc == Rc::GroupExists)
        throw CimError(CimStatus::AlreadyExists, what + ": the name is already in use (" + std::to_string(rc) + ")");
    if (rc == Rc::InvalidObjectName || rc == Rc::RateOutOfRange || rc == Rc::InvalidParameter)
        throw CimError(CimStatus::InvalidParameter, what + ": invalid value (" + std::to_string(rc) + ")");
    throw CimError(CimStatus::Failed, what + ": refused by the cluster (" + std::to_string(rc) + ")");
}
}  // namespace

ClusterState ArraySimulator::defaultCluster() {
    ClusterState s;
    s.addIoGroup({0, "io_grp0"});
    s.addIoGroup({1, "io_grp1"});
    s.addNode({1, "node1", 0});
    s.addNode({2, "node2", 0});
    s.addNode({3, "node3", 1});
    s.addNode({4, "node4", 1});
    s.addPool({0, "Pool0", uint64_t(10) << 40, true});
    s.addPool({1, "Pool1", uint64_t(10) << 40, true});
    return s;
}

ArraySimulator::ArraySimulator(ClusterState initial, std::shared_ptr<zq::platform::Clock> clock)
    : clock_(std::move(clock)), model_(std::move(initial)) {}

int64_t ArraySimulator::nowMs() const { return clock_ ? clock_->nowMs() : zq::platform::clock().nowMs(); }

Credentials ArraySimulator::credentials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return credentials_;
}

void ArraySimulator::setCredentials(Credentials c) {
    std::lock_guard<std::mutex> lock(mutex_);
    credentials_ = std::move(c);
}

void ArraySimulator::advanceLocked(int64_t now) {
    model_.copies.advance(now);
    model_.jobs.advance(now, model_.state.timing.jobStepMs, model_.state.timing.jobRetentionMs);
    model_.copies.advance(now);  // work done by jobs may have started copies
}

// ---------------------------------------------------------------- CIM

MethodResult ArraySimulator::invoke(const SimPath& target, const std::string& method,
                                    const std::vector<SimParam>& params) {
    auto& catalog = ClassCatalog::instance();
    if (!catalog.find(target.className)) throw CimError(CimStatus::InvalidClass, "no class " + target.className);
    const MethodDecl* decl = catalog.method(target.className, method);
    if (!decl) throw CimError(CimStatus::MethodNotFound, "class " + target.className + " has no method " + method);
    return withModel([&](Model& m, int64_t now) {
        CimView view = m.view(now);
        ObjRef ref;
        if (!view.resolve(target, ref)) throw CimError(CimStatus::NotFound, "no instance " + target.toString());
        ArrayMethods methods(m.state, m.copies, m.jobs, faults_, now);
        return methods.invoke(ref, *decl, params);
    });
}

void ArraySimulator::modifyInstance(const SimPath& target, const std::vector<SimProperty>& props) {
    withModel([&](Model& m, int64_t now) {
        CimView view = m.view(now);
        ObjRef ref;
        if (!view.resolve(target, ref)) throw CimError(CimStatus::NotFound, "no instance " + target.toString());
        // Check every property before changing anything.
        auto& catalog = ClassCatalog::instance();
        for (auto& p : props) {
            if (!catalog.property(CimView::className(ref.kind), p.name))
                throw CimError(CimStatus::NoSuchProperty, "no property " + p.name);
            bool changeable = equalsNoCase(p.name, "ElementName") &&
                              (ref.kind == ObjKind::Volume || ref.kind == ObjKind::Mapping ||
                               ref.kind == ObjKind::Host);
            if (ref.kind == ObjKind::Mapping &&
                (equalsNoCase(p.name, "CopyRate") || equalsNoCase(p.name, "CleanRate") ||
                 equalsNoCase(p.name, "AutoDelete")))
                changeable = true;
            if (!changeable) throw CimError(CimStatus::NotSupported, "property " + p.name + " cannot be changed");
            if (p.value.isNull || p.value.items.empty())
                throw CimError(CimStatus::InvalidParameter, "property " + p.name + " needs a value");
            unsigned long long rate = 0;
            bool isRate = equalsNoCase(p.name, "CopyRate") || equalsNoCase(p.name, "CleanRate");
            if (isRate && (!parseUint64(p.value.items[0], rate) || rate > m.copies.maxRate()))
                throw CimError(CimStatus::InvalidParameter, "rate " + p.value.items[0] + " is out of range");
        }
        auto id = uint32_t(ref.a);
        const SimProperty* autoDelete = nullptr;  // last: it may delete the mapping
        for (auto& p : props) {
            const std::string& text = p.value.items[0];
            uint32_t rc = Rc::Ok;
            unsigned long long rate = 0;
            if (equalsNoCase(p.name, "ElementName")) {
                if (ref.kind == ObjKind::Volume) rc = m.state.renameVolume(id, text);
                if (ref.kind == ObjKind::Mapping) rc = m.state.renameMapping(id, text);
                if (ref.kind == ObjKind::Host) rc = m.state.renameHost(id, text);
            } else if (equalsNoCase(p.name, "AutoDelete")) {
                autoDelete = &p;
            } else if (parseUint64(text, rate) && equalsNoCase(p.name, "CopyRate")) {
                rc = m.copies.setCopyRate(id, uint16_t(rate), now);
            } else {
                rc = m.copies.setCleanRate(id, uint16_t(rate));
            }
            if (rc != Rc::Ok) refuseIntrinsic(rc, "ModifyInstance " + p.name);
        }
        if (autoDelete) m.copies.setAutoDelete(id, equalsNoCase(autoDelete->value.items[0], "true"));
        return 0;
    });
}

void ArraySimulator::deleteInstance(const SimPath& target) {
    withModel([&](Model& m, int64_t now) {
        CimView view = m.view(now);
        ObjRef ref;
        if (!view.resolve(target, ref)) throw CimError(CimStatus::NotFound, "no instance " + target.toString());
        uint32_t rc = Rc::Ok;
        switch (ref.kind) {
            case ObjKind::Volume: rc = m.state.deleteVolume(uint32_t(ref.a)); break;
            case ObjKind::Mapping: rc = m.copies.remove(uint32_t(ref.a), false, now); break;
            case ObjKind::HostMapping: rc = m.state.unmapVolume(uint32_t(ref.a), uint32_t(ref.b)); break;
            case ObjKind::Group: rc = m.copies.deleteGroup(uint32_t(ref.a), false); break;
            case ObjKind::Job: {
                Job* job = m.jobs.find(ref.a);
                if (!JobState::isFinal(job->state())) throw CimError(CimStatus::Failed, "the job is still running");
                m.jobs.erase(ref.a);
                break;
            }
            default:
                throw CimError(CimStatus::NotSupported,
                               std::string("instances of ") + CimView::className(ref.kind) + " cannot be deleted");
        }
        if (rc != Rc::Ok) refuseIntrinsic(rc, "DeleteInstance");
        return 0;
    });
}

// ---------------------------------------------------------------- control

uint32_t ArraySimulator::volumeIdLocked(const std::string& nameOrUid) {
    if (auto v = model_.state.volumeByName(nameOrUid)) return v->id;
    if (auto v = model_.state.volumeByUid(nameOrUid)) return v->id;
    unknown("volume", nameOrUid);
}

RcResult ArraySimulator::addVolume(const std::string& name, const std::string& pool, uint64_t sizeBytes,
                                   bool spaceEfficient, uint32_t ioGroup) {
    return withModel([&](Model& m, int64_t) {
        auto p = m.state.poolByName(pool);
        if (!p) unknown("pool", pool);
        VolumeSpec spec;
        spec.name = name;
        spec.poolId = p->id;
        spec.sizeBytes = sizeBytes;
        spec.spaceEfficient = spaceEfficient;
        spec.autoexpand = spaceEfficient;
        spec.realSizePercent = spaceEfficient ? 2 : 100;
        spec.ioGroupId = ioGroup;
        return m.state.createVolume(spec);
    });
}

RcResult ArraySimulator::addHost(const std::string& name, const std::vector<std::string>& ports) {
    return withModel([&](Model& m, int64_t) { return m.state.createHost(name, ports); });
}

uint32_t ArraySimulator::mapToHost(const std::string& host, const std::string& volume, uint32_t lun) {
    return withModel([&](Model& m, int64_t) {
        auto h = m.state.hostByName(host);
        if (!h) unknown("host", host);
        return m.state.mapVolume(h->id, volumeIdLocked(volume), lun, true);
    });
}

uint64_t ArraySimulator::hostWrite(const std::string& volume, double percent) {
    return withModel([&](Model& m, int64_t) { return m.state.writeVolume(volumeIdLocked(volume), percent); });
}

uint64_t ArraySimulator::generation(const std::string& volume) {
    return withModel([&](Model& m, int64_t) { return m.state.volume(volumeIdLocked(volume))->generation; });
}

bool ArraySimulator::vanish(const std::string& kind, const std::string& name) {
    return withModel([&](Model& m, int64_t) {
        auto& s = m.state;
        std::string k = toLower(kind);
        if (k == "volume") {
            auto v = s.volumeByName(name) ? s.volumeByName(name) : s.volumeByUid(name);
            return v && s.vanishVolume(v->id);
        }
        if (k == "host") {
            auto h = s.hostByName(name);
            return h && s.vanishHost(h->id);
        }
        if (k == "mapping") {
            auto mp = s.mappingByName(name);
            return mp && s.vanishMapping(mp->id);
        }
        if (k == "group") {
            auto g = s.groupByName(name);
            return g && s.vanishGroup(g->id);
        }
        if (k == "job") {
            unsigned long long id = 0;
            return parseUint64(name, id) && m.jobs.erase(id);
        }
        throw std::invalid_argument("objects of kind '" + kind + "' cannot vanish");
    });
}

void ArraySimulator::setPoolOnline(const std::string& pool, bool online) {
    withModel([&](Model& m, int64_t) {
        auto p = m.state.poolByName(pool);
        if (!p) unknown("pool", pool);
        m.state.pools.at(p->id).online = online;
        return 0;
    });
}

void ArraySimulator::setStuckStopping(const std::string& mapping, bool stuck) {
    withModel([&](Model& m, int64_t) {
        auto mp = m.state.mappingByName(mapping);
        if (!mp) unknown("mapping", mapping);
        m.state.mapping(mp->id)->stuckStopping = stuck;
        return 0;
    });
}

void ArraySimulator::setPrepareFails(const std::string& mapping, bool fails) {
    withModel([&](Model& m, int64_t) {
        auto mp = m.state.mappingByName(mapping);
        if (!mp) unknown("mapping", mapping);
        return m.copies.setPrepareFails(mp->id, fails);
    });
}

void ArraySimulator::setSuspended(const std::string& mapping, bool suspended) {
    withModel([&](Model& m, int64_t now) {
        auto mp = m.state.mappingByName(mapping);
        if (!mp) unknown("mapping", mapping);
        FcState state = mp->state;
        if (m.copies.setSuspended(mp->id, suspended, now) != Rc::Ok)
            throw std::invalid_argument("mapping '" + mapping + "' is " + fcStateName(state) +
                                        ": only a copying or stopping mapping is suspended");
        return 0;
    });
}

void ArraySimulator::setVolumeStatus(const std::string& volume, int operationalStatus) {
    withModel([&](Model& m, int64_t) {
        m.state.volume(volumeIdLocked(volume))->statusOverride = operationalStatus;
        return 0;
    });
}

std::vector<HostDisk> ArraySimulator::hostDisks(const std::vector<std::string>& initiators) {
    return withModel([&](Model& m, int64_t) { return hostDisksFor(m.state, initiators); });
}

}  // namespace arraysim
