#include "EngineSimFixture.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace zqtest {

using arraysim::FcMapping;
using arraysim::Model;

namespace {

SimulatorFixture::Options simulatorOptions(EngineSimFixture::Options& options,
                                           std::shared_ptr<zq::platform::VirtualClock> clock) {
    SimulatorFixture::Options sim;
    sim.cluster = std::move(options.cluster);
    // The engine environment installed this clock as the process clock already.
    sim.installClock = false;
    sim.clock = std::move(clock);
    return sim;
}

void check(uint32_t rc, const std::string& what) {
    if (rc != 0) throw std::runtime_error(what + ": the array answered " + std::to_string(rc));
}

uint32_t volumeId(Model& m, const std::string& nameOrUid) {
    auto v = m.state.volumeByName(nameOrUid) ? m.state.volumeByName(nameOrUid) : m.state.volumeByUid(nameOrUid);
    if (!v) throw std::invalid_argument("no volume " + nameOrUid);
    return v->id;
}

}  // namespace

EngineSimFixture::EngineSimFixture() : EngineSimFixture(Options()) {}

EngineSimFixture::EngineSimFixture(Options options)
    : env_(std::make_unique<EngineEnvironment>()), https_(options.https) {
    // 20000 s at the clock's scale of 0.001 is 20 s of real time.
    env_->config().set("HostModule", "ZQ_SMIS_CLIENT_TIMEOUT_IN_SEC", "20000");
    const std::string hostName = options.hostName;
    sim_ = std::make_unique<SimulatorFixture>(simulatorOptions(options, env_->sharedClock()));
    arrayId_ = sim().withModel([](Model& m, int64_t) { return m.state.cluster.id; });
    host_ = std::make_unique<TestOSUtil>(hostName);
    zq::platform::HostDiskView::Options view;
    auto byHand = env_->diskSource();
    view.nameTaken = [byHand](const std::string& name) { return byHand->find(name, nullptr); };
    TestOSUtil* host = host_.get();
    hostDisks_ = std::make_shared<zq::platform::HostDiskView>(
        arrayFeed(), [host] { return host->initiatorNames(); }, view);
    env_->addDeviceSource(hostDisks_);
    host_->setDeviceSource(env_->devices());
    host_->setHostDiskView(hostDisks_);
    setEngineId(engineId_);
}

// Members go in reverse order: records and host before the simulator, the
// simulator before the clock it reads.
EngineSimFixture::~EngineSimFixture() = default;

TestSnapInfo& EngineSimFixture::record() {
    if (!record_) {
        record_ = std::make_unique<TestSnapInfo>(host_.get());
        bind(*record_);
    }
    return *record_;
}

void EngineSimFixture::bind(TestSnapInfo& r) {
    r.selectArrayForTest(arrayId_);
    r.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", https_ ? sim_->httpsPort() : sim_->httpPort());
    r.setConfig("SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", https_ ? 1 : 0);
}

std::unique_ptr<RecordBatch> EngineSimFixture::makeBatch(size_t count) {
    auto batch = std::make_unique<RecordBatch>(*host_, count);
    for (size_t i = 0; i < batch->size(); ++i) bind((*batch)[i]);
    return batch;
}

ZqCimomParams EngineSimFixture::cimomParams() const {
    ZqCimomParams p;
    p.Address = sim_->host();
    p.Port = uint16_t(https_ ? sim_->httpsPort() : sim_->httpPort());
    p.UseSSL = https_;
    p.NameSpace = SimulatorFixture::nameSpace();
    p.UserName = sim_->user();
    p.Password = sim_->password();
    p.TimeoutSecs = 20000;
    return p;
}

zq::platform::HostDiskView::Feed EngineSimFixture::arrayFeed() {
    arraysim::ArraySimulator* simulator = &sim();
    return [simulator](const std::vector<std::string>& initiators) {
        std::vector<zq::platform::HostLun> luns;
        for (auto& d : simulator->hostDisks(initiators)) {
            zq::platform::HostLun lun;
            lun.host = d.host;
            lun.lun = d.lun;
            lun.volumeName = d.volumeName;
            lun.uid = d.uid;
            lun.generation = d.generation;
            lun.disk.standardInquiry = std::move(d.standardInquiry);
            lun.disk.unitSerialPage = std::move(d.unitSerialPage);
            lun.disk.deviceIdPage = std::move(d.deviceIdPage);
            luns.push_back(std::move(lun));
        }
        return luns;
    };
}

zq::platform::HostDiskView& EngineSimFixture::addVirtualHost(const std::string& name,
                                                            const TestOSUtil::Initiator& initiator) {
    zq::platform::HostDiskView::Options view;
    view.namePrefix = "/vmfs/" + name + "/disk-";
    view.dropsGoneDisks = true;
    std::string port = initiator.name;
    auto disks = std::make_shared<zq::platform::HostDiskView>(
        arrayFeed(), [port] { return std::vector<std::string>{port}; }, view);
    virtualHosts_.push_back(disks);
    host_->addVirtualHost(name, initiator, disks);
    return *disks;
}

EngineSimFixture::Volume EngineSimFixture::addSource(const std::string& name, uint64_t sizeBytes,
                                                     const std::string& pool) {
    check(sim().addVolume(name, pool, sizeBytes).rc, "volume " + name);
    return *volume(name);
}

EngineSimFixture::Copy EngineSimFixture::addSnapshot(const std::string& source, const std::string& target,
                                                     CopyStage stage) {
    return addCopy(source, target, true, false, stage);
}

EngineSimFixture::Copy EngineSimFixture::addClone(const std::string& source, const std::string& target,
                                                  bool incremental, CopyStage stage) {
    return addCopy(source, target, false, incremental, stage);
}

EngineSimFixture::Copy EngineSimFixture::addCopy(const std::string& source, const std::string& target, bool snapshot,
                                                 bool incremental, CopyStage stage) {
    const std::string mappingName = "fcmap_" + target;
    const int64_t prepareMs = sim().withModel([&](Model& m, int64_t) {
        const arraysim::Volume* src = m.state.volume(volumeId(m, source));
        if (!src) throw std::invalid_argument("no volume " + source);
        arraysim::VolumeSpec spec;
        spec.name = target;
        spec.poolId = src->poolId;
        spec.sizeBytes = src->sizeBytes();
        spec.spaceEfficient = snapshot;
        spec.autoexpand = snapshot;
        spec.realSizePercent = snapshot ? 2 : 100;
        spec.ioGroupId = src->ioGroupId;
        const uint32_t sourceId = src->id;
        arraysim::RcResult made = m.state.createVolume(spec);
        check(made.rc, "volume " + target);
        arraysim::MappingSpec mapping;
        mapping.sourceId = sourceId;
        mapping.targetId = made.id;
        mapping.name = mappingName;
        mapping.copyRate = snapshot ? 0 : 50;
        mapping.cleanRate = snapshot ? 0 : 50;
        mapping.incremental = incremental;
        check(m.copies.createMapping(mapping).rc, "mapping " + mappingName);
        return m.state.timing.prepareMs;
    });
    if (stage != CopyStage::Idle) {
        sim().withModel([&](Model& m, int64_t now) {
            check(m.copies.prepare(m.state.mappingByName(mappingName)->id, now), "prepare " + mappingName);
            return 0;
        });
        clock().advanceMs(prepareMs);
    }
    if (stage == CopyStage::Started) {
        sim().withModel([&](Model& m, int64_t now) {
            check(m.copies.start(m.state.mappingByName(mappingName)->id, false, now), "start " + mappingName);
            return 0;
        });
    }
    Copy copy;
    copy.source = *volume(source);
    copy.target = *volume(target);
    copy.mapping = mappingName;
    copy.mappingPath = sim_->mappingPath(source, target).toString().toStdString();
    return copy;
}

void EngineSimFixture::addGroup(const std::string& name, const std::vector<std::string>& mappings) {
    sim().withModel([&](Model& m, int64_t) {
        arraysim::RcResult group = m.state.createGroup(name);
        check(group.rc, "group " + name);
        for (const std::string& mapping : mappings) {
            const FcMapping* fc = m.state.mappingByName(mapping);
            if (!fc) throw std::invalid_argument("no mapping " + mapping);
            check(m.copies.addToGroup(group.id, fc->id), "add " + mapping + " to " + name);
        }
        return 0;
    });
}

std::string EngineSimFixture::addHostDisk(const std::string& volumeName, const std::string& device) {
    const auto found = sim().withModel([&](Model& m, int64_t) -> std::pair<uint32_t, std::string> {
        const arraysim::Volume* v = m.state.volume(volumeId(m, volumeName));
        return {v->id, v->uid};
    });
    char id[9];
    std::snprintf(id, sizeof(id), "%08X", found.first);
    const std::string serial = arrayId_.substr(4) + id;
    env_->disks().add(zq::platform::SimulatedDisk::volume(device, "IBM", "2145", serial, found.second));
    return device;
}

void EngineSimFixture::setEngineId(int engineId) {
    engineId_ = engineId;
    host_->addArray(arrayId_, "IBM FlashSystem",
                    TestOSUtil::infoText(arrayId_, sim_->host(), sim_->user(), sim_->password(), engineId));
}

void EngineSimFixture::shareArrayWith(TestOSUtil& other) {
    other.addArray(arrayId_, "IBM FlashSystem",
                   TestOSUtil::infoText(arrayId_, sim_->host(), sim_->user(), sim_->password(), engineId_));
}

void EngineSimFixture::addHost(const std::string& name, const std::vector<std::string>& ports) {
    check(sim().addHost(name, ports).rc, "host " + name);
}

void EngineSimFixture::mapToHost(const std::string& host, const std::string& volumeName) {
    check(sim().mapToHost(host, volumeName), "map " + volumeName + " to " + host);
}

void EngineSimFixture::unmapFromHost(const std::string& host, const std::string& volumeName) {
    uint32_t rc = sim().withModel([&](Model& m, int64_t) {
        const arraysim::Host* h = m.state.hostByName(host);
        if (!h) throw std::invalid_argument("no host " + host);
        return m.state.unmapVolume(h->id, volumeId(m, volumeName));
    });
    check(rc, "unmap " + volumeName + " from " + host);
}

std::optional<EngineSimFixture::Volume> EngineSimFixture::volume(const std::string& nameOrUid) {
    auto found = sim().withModel([&](Model& m, int64_t) -> std::optional<Volume> {
        auto v = m.state.volumeByName(nameOrUid) ? m.state.volumeByName(nameOrUid) : m.state.volumeByUid(nameOrUid);
        if (!v) return std::nullopt;
        return Volume{v->name, v->uid, ""};
    });
    if (found) found->path = sim_->volumePath(found->uid).toString().toStdString();
    return found;
}

std::optional<FcMapping> EngineSimFixture::mapping(const std::string& name) {
    return sim().withModel([&](Model& m, int64_t) -> std::optional<FcMapping> {
        const FcMapping* fc = m.state.mappingByName(name);
        if (!fc) return std::nullopt;
        return *fc;
    });
}

std::optional<FcMapping> EngineSimFixture::mappingOfTarget(const std::string& volumeName) {
    return sim().withModel([&](Model& m, int64_t) -> std::optional<FcMapping> {
        auto v = m.state.volumeByName(volumeName);
        const FcMapping* fc = v ? m.state.mappingOfTarget(v->id) : nullptr;
        if (!fc) return std::nullopt;
        return *fc;
    });
}

int EngineSimFixture::syncState(const std::string& name) {
    return sim().withModel([&](Model& m, int64_t) {
        const FcMapping* fc = m.state.mappingByName(name);
        return fc ? int(m.copies.syncState(*fc)) : -1;
    });
}

std::optional<std::set<std::string>> EngineSimFixture::groupMembers(const std::string& group) {
    return sim().withModel([&](Model& m, int64_t) -> std::optional<std::set<std::string>> {
        const arraysim::ConsistencyGroup* g = m.state.groupByName(group);
        if (!g) return std::nullopt;
        std::set<std::string> names;
        for (uint32_t id : g->members) names.insert(m.state.mapping(id)->name);
        return names;
    });
}

std::set<std::string> EngineSimFixture::volumeNames() {
    return sim().withModel([](Model& m, int64_t) {
        std::set<std::string> names;
        for (const auto& entry : m.state.volumes) names.insert(entry.second.name);
        return names;
    });
}

std::set<std::string> EngineSimFixture::mappingNames() {
    return sim().withModel([](Model& m, int64_t) {
        std::set<std::string> names;
        for (const auto& entry : m.state.fcMappings) names.insert(entry.second.name);
        return names;
    });
}

std::set<std::string> EngineSimFixture::groupNames() {
    return sim().withModel([](Model& m, int64_t) {
        std::set<std::string> names;
        for (const auto& entry : m.state.groups) names.insert(entry.second.name);
        return names;
    });
}

std::set<std::string> EngineSimFixture::hostsOfVolume(const std::string& volumeName) {
    return sim().withModel([&](Model& m, int64_t) {
        std::set<std::string> names;
        for (uint32_t hostId : m.state.hostsOfVolume(volumeId(m, volumeName)))
            names.insert(m.state.hosts.at(hostId).name);
        return names;
    });
}

}  // namespace zqtest
