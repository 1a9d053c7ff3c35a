#include "CopyServices.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>
#include <vector>

#include "SvcReturnCode.h"

namespace arraysim {

double CopyServices::bytesPerSecond(uint16_t rate) {
    if (rate == 0) return 0;
    // 1-10: 128 KiB/s, doubling every ten steps.
    return 128.0 * 1024.0 * std::pow(2.0, double((rate - 1) / 10));
}

uint16_t CopyServices::maxRate() const {
    int major = std::atoi(s_.cluster.firmware.c_str());
    return major >= 8 ? 150 : 100;
}

uint32_t CopyServices::checkCreate(const MappingSpec& spec) const {
    auto src = s_.volume(spec.sourceId);
    auto tgt = s_.volume(spec.targetId);
    if (!src || !tgt || spec.sourceId == spec.targetId) return Rc::InvalidParameter;
    if (s_.mappingOfTarget(spec.targetId)) return Rc::MappingExists;
    if (src->sizeBytes() != tgt->sizeBytes()) return Rc::SizeMismatch;
    if (spec.copyRate > maxRate() || spec.cleanRate > maxRate()) return Rc::RateOutOfRange;
    if (spec.grainSizeKiB != 64 && spec.grainSizeKiB != 256) return Rc::InvalidGrainSize;
    if (!spec.name.empty()) {
        if (!ClusterState::validObjectName(spec.name)) return Rc::InvalidObjectName;
        if (s_.mappingByName(spec.name)) return Rc::ObjectNameExists;
    }
    return checkLimits(spec.sourceId, spec.targetId);
}

uint32_t CopyServices::checkLimits(uint32_t sourceId, uint32_t targetId) const {
    const Limits& limits = s_.limits;
    if (s_.mappingsOfSource(sourceId).size() >= limits.maxTargetsPerSource) return Rc::FlashCopyLimit;
    if (limits.maxMappings && s_.fcMappings.size() >= limits.maxMappings) return Rc::FlashCopyLimit;
    if (limits.maxConnectedMappings && connectedMappings(sourceId, targetId) >= limits.maxConnectedMappings)
        return Rc::FlashCopyLimit;
    return Rc::Ok;
}

size_t CopyServices::connectedMappings(uint32_t volumeA, uint32_t volumeB) const {
    std::set<uint32_t> volumes;
    std::set<uint32_t> mappings;
    std::vector<uint32_t> todo{volumeA, volumeB};
    while (!todo.empty()) {  // bounded: every volume is visited once
        uint32_t v = todo.back();
        todo.pop_back();
        if (v == kNoId || !volumes.insert(v).second) continue;
        if (auto m = s_.mappingOfTarget(v))
            if (mappings.insert(m->id).second) todo.push_back(m->sourceId);
        for (uint32_t id : s_.mappingsOfSource(v))
            if (mappings.insert(id).second) todo.push_back(s_.mapping(id)->targetId);
    }
    return mappings.size();
}

RcResult CopyServices::createMapping(const MappingSpec& spec) {
    if (uint32_t rc = checkCreate(spec)) return {rc};
    FcMapping m;
    m.id = uint32_t(s_.fcMappings.empty() ? 0 : s_.fcMappings.rbegin()->first + 1);
    m.name = spec.name;
    m.sourceId = spec.sourceId;
    m.targetId = spec.targetId;
    m.copyRate = spec.copyRate;
    m.cleanRate = spec.cleanRate;
    m.incremental = spec.incremental;
    m.autoDelete = spec.autoDelete;
    m.grainSizeKiB = spec.grainSizeKiB;
    return {Rc::Ok, s_.insertMapping(std::move(m))};
}

uint32_t CopyServices::check(const FcMapping& m, FcCommand command, bool restore) const {
    const Leniency& lenient = s_.lenient;
    bool inGroup = m.groupId != kNoId;
    switch (command) {
        case FcCommand::Prepare:
        case FcCommand::Start: {
            if (inGroup) return Rc::MappingInGroup;
            auto t = fcTransition(m.state, command);
            if (!t.allowed) return t.refusal;
            bool checkRestore = command == FcCommand::Start || !lenient.prepareWithoutRestore;
            if (checkRestore && !restore && targetFeedsActiveCopy(m)) return Rc::RestoreRequired;
            return Rc::Ok;
        }
        case FcCommand::Stop:
        case FcCommand::StopForce: {
            if (inGroup && !lenient.stopGroupMember) return Rc::MappingInGroup;
            if (m.state == FcState::Preparing && lenient.stopPreparing) return Rc::Ok;
            auto t = fcTransition(m.state, command);
            return t.allowed ? Rc::Ok : t.refusal;
        }
        case FcCommand::Delete:
        case FcCommand::DeleteForce: {
            bool force = command == FcCommand::DeleteForce;
            if (lenient.deleteAnyState) {
                auto t = fcLenientDelete(m.state, force);
                if (!t.allowed) return t.refusal;
                return m.state == FcState::Copying && hasDependents(m) ? Rc::SourceNeededByOtherMaps : Rc::Ok;
            }
            auto t = fcTransition(m.state, command);
            if (t.allowed) return Rc::Ok;
            return isActive(m.state) && hasDependents(m) ? Rc::SourceNeededByOtherMaps : t.refusal;
        }
        default: return Rc::Failed;
    }
}

uint32_t CopyServices::prepare(uint32_t mappingId, int64_t nowMs, bool restore) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (uint32_t rc = check(*m, FcCommand::Prepare, restore)) return rc;
    m->state = FcState::Preparing;
    m->eventAtMs = nowMs + s_.timing.prepareMs;
    return Rc::Ok;
}

uint32_t CopyServices::start(uint32_t mappingId, bool restore, int64_t nowMs) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (uint32_t rc = check(*m, FcCommand::Start, restore)) return rc;
    beginCopy(*m, nowMs);
    return Rc::Ok;
}

bool CopyServices::targetFeedsActiveCopy(const FcMapping& m) const {
    for (uint32_t id : s_.mappingsOfSource(m.targetId)) {
        auto other = s_.mapping(id);
        if (other && isActive(other->state)) return true;
    }
    return false;
}

void CopyServices::beginCopy(FcMapping& m, int64_t nowMs) {
    auto src = s_.volume(m.sourceId);
    auto tgt = s_.volume(m.targetId);
    double toCopy = 100;
    if (m.incremental && m.hasCompleteBase)
        toCopy = std::min(100.0, s_.changedSince(m.sourceId, m.completeBaseSeq) +
                                     s_.changedSince(m.targetId, m.startChangeSeq));
    // The target now shows the source's point in time; that replaces what it held.
    tgt->generation = src->generation;
    tgt->dataValid = true;
    tgt->writes.push_back({s_.nextChangeSeq(), toCopy});
    m.startChangeSeq = s_.changeSeq();
    m.startSeq = s_.nextStartSeq();
    m.progress = 100 - toCopy;
    m.progressAtMs = nowMs;
    m.copied = false;
    m.state = FcState::Copying;
}

bool CopyServices::olderCopiesReadFrom(const FcMapping& m) const {
    for (uint32_t id : s_.mappingsOfSource(m.sourceId)) {
        auto other = s_.mapping(id);
        if (!other || other->id == m.id) continue;
        if (isActive(other->state) && !other->copied && other->startSeq < m.startSeq) return true;
    }
    return false;
}

bool CopyServices::hasDependents(const FcMapping& m) const {
    return olderCopiesReadFrom(m) || targetFeedsActiveCopy(m);
}

double CopyServices::progressAt(const FcMapping& m, int64_t nowMs) const {
    if (m.state != FcState::Copying) return m.copied ? 100 : m.progress;
    auto src = s_.volume(m.sourceId);
    double bps = bytesPerSecond(m.copyRate);
    if (!src || bps <= 0 || src->sizeBytes() == 0) return m.progress;
    double elapsed = double(std::max<int64_t>(0, nowMs - m.progressAtMs)) / 1000.0;
    return std::min(100.0, m.progress + elapsed * bps * 100.0 / double(src->sizeBytes()));
}

uint16_t CopyServices::syncState(const FcMapping& m) const { return shownSyncState(m.state, m.copied); }

uint16_t CopyServices::shownSyncState(FcState state, bool copied) const {
    return state == FcState::Suspended ? s_.suspendedSyncState : syncStateOf(state, copied);
}

uint32_t CopyServices::stop(uint32_t mappingId, bool force, int64_t nowMs) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (uint32_t rc = check(*m, force ? FcCommand::StopForce : FcCommand::Stop, false)) return rc;
    return stopMapping(*m, force, nowMs);
}

uint32_t CopyServices::stopMapping(FcMapping& m, bool force, int64_t nowMs) {
    FcState before = m.state;
    FcTransition t = fcTransition(before, force ? FcCommand::StopForce : FcCommand::Stop);
    if (before == FcState::Preparing && s_.lenient.stopPreparing) t = FcTransition{true, FcState::Stopped, false, 0};
    if (!t.allowed) return t.refusal;
    if (t.next == before) return Rc::Ok;
    if (before == FcState::Copying) {
        m.progress = progressAt(m, nowMs);
        m.progressAtMs = nowMs;
    }
    if (t.next == FcState::Stopping) {
        double clean = hasDependents(m) ? s_.changedSince(m.sourceId, m.startChangeSeq) : 0;
        double ms = 0;
        if (clean > 0) {
            auto src = s_.volume(m.sourceId);
            // A clean rate of 0 cleans at the default rate, so that the stop ends.
            double bps = bytesPerSecond(m.cleanRate == 0 ? kDefaultRate : m.cleanRate);
            ms = clean / 100.0 * double(src->sizeBytes()) / bps * 1000.0;
        }
        m.state = FcState::Stopping;
        m.eventAtMs = nowMs + s_.timing.stopMs + int64_t(std::ceil(ms));
        return Rc::Ok;
    }
    // A suspended mapping cannot clean: its stop takes the dependents along
    // as a forced stop does.
    if ((force || before == FcState::Suspended) && isActive(before)) stopDependents(m, nowMs);
    m.state = t.next;
    if (isActive(before)) finishStop(m);
    return Rc::Ok;
}

void CopyServices::finishStop(FcMapping& m) {
    if (m.copied) {
        completeCopy(m);
        return;
    }
    m.state = FcState::Stopped;
    if (auto tgt = s_.volume(m.targetId)) tgt->dataValid = false;
}

void CopyServices::completeCopy(FcMapping& m) {
    m.state = FcState::IdleOrCopied;
    if (m.autoDelete) s_.eraseMapping(m.id);
}

uint32_t CopyServices::setPrepareFails(uint32_t mappingId, bool fails) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    m->prepareFails = fails;
    return Rc::Ok;
}

uint32_t CopyServices::setSuspended(uint32_t mappingId, bool suspended, int64_t nowMs) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (!suspended) {
        if (m->state != FcState::Suspended) return Rc::Ok;
        m->state = m->suspendedFrom;
        if (m->state == FcState::Copying) m->progressAtMs = nowMs;
        if (m->state == FcState::Stopping) m->eventAtMs = nowMs + m->suspendedLeftMs;
        return Rc::Ok;
    }
    if (m->state == FcState::Suspended) return Rc::Ok;
    auto t = fcTransition(m->state, FcCommand::Suspend);
    if (!t.allowed) return t.refusal;
    if (m->state == FcState::Copying) {
        m->progress = progressAt(*m, nowMs);
        m->progressAtMs = nowMs;
    }
    m->suspendedLeftMs = std::max<int64_t>(0, m->eventAtMs - nowMs);
    m->suspendedFrom = m->state;
    m->state = t.next;
    return Rc::Ok;
}

void CopyServices::prepareFailed(FcMapping& m) {
    m.state = fcTransition(m.state, FcCommand::PrepareFailed).next;
    if (auto tgt = s_.volume(m.targetId)) tgt->dataValid = false;
    // A group is prepared as one: the others stop with it.
    if (auto g = s_.group(m.groupId))
        for (uint32_t id : g->members)
            if (auto other = s_.mapping(id))
                if (other->state == FcState::Preparing || other->state == FcState::Prepared)
                    other->state = FcState::Stopped;
}

uint32_t CopyServices::setCopyRate(uint32_t mappingId, uint16_t rate, int64_t nowMs) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (rate > maxRate()) return Rc::RateOutOfRange;
    if (m->state == FcState::Copying) {
        // What the old rate copied stays copied.
        m->progress = progressAt(*m, nowMs);
        m->progressAtMs = nowMs;
    }
    m->copyRate = rate;
    return Rc::Ok;
}

uint32_t CopyServices::setCleanRate(uint32_t mappingId, uint16_t rate) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (rate > maxRate()) return Rc::RateOutOfRange;
    m->cleanRate = rate;
    return Rc::Ok;
}

uint32_t CopyServices::setAutoDelete(uint32_t mappingId, bool on) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    m->autoDelete = on;
    if (on && m->state == FcState::IdleOrCopied && m->copied) s_.eraseMapping(mappingId);
    return Rc::Ok;
}

std::vector<uint32_t> CopyServices::activeDependents(const FcMapping& m) const {
    std::vector<uint32_t> out;
    for (uint32_t id : s_.mappingsOfSource(m.sourceId)) {
        auto other = s_.mapping(id);
        if (other && other->id != m.id && isActive(other->state) && !other->copied && other->startSeq < m.startSeq)
            out.push_back(id);
    }
    for (uint32_t id : s_.mappingsOfSource(m.targetId)) {
        auto other = s_.mapping(id);
        if (other && isActive(other->state)) out.push_back(id);
    }
    return out;
}

void CopyServices::stopDependents(const FcMapping& m, int64_t nowMs) {
    // The dependents stop at once, and theirs in turn; each mapping once.
    std::set<uint32_t> seen{m.id};
    std::vector<uint32_t> todo;
    for (uint32_t id : activeDependents(m))
        if (seen.insert(id).second) todo.push_back(id);
    while (!todo.empty()) {
        auto other = s_.mapping(todo.back());
        todo.pop_back();
        if (!other) continue;
        for (uint32_t id : activeDependents(*other))
            if (seen.insert(id).second) todo.push_back(id);
        other->progress = progressAt(*other, nowMs);
        other->progressAtMs = nowMs;
        finishStop(*other);
    }
}

uint32_t CopyServices::remove(uint32_t mappingId, bool force, int64_t nowMs) {
    auto m = s_.mapping(mappingId);
    if (!m) return Rc::InvalidParameter;
    if (uint32_t rc = check(*m, force ? FcCommand::DeleteForce : FcCommand::Delete, false)) return rc;
    if (m->state == FcState::Copying && progressAt(*m, nowMs) < 100)
        if (auto tgt = s_.volume(m->targetId)) tgt->dataValid = false;
    s_.eraseMapping(mappingId);
    return Rc::Ok;
}

// ---------------------------------------------------------------- groups

uint32_t CopyServices::addToGroup(uint32_t groupId, uint32_t mappingId) {
    auto g = s_.group(groupId);
    auto m = s_.mapping(mappingId);
    if (!g || !m) return Rc::InvalidParameter;
    if (m->groupId == groupId) return Rc::AlreadyInSet;
    if (m->groupId != kNoId) return Rc::MappingInOtherGroup;
    if (g->members.size() >= s_.limits.maxMappingsPerGroup) return Rc::GroupFull;
    if (m->state != FcState::IdleOrCopied && m->state != FcState::Stopped) return Rc::GroupMemberWrongState;
    FcState gs = s_.groupState(*g);
    if (gs != FcState::Empty && gs != FcState::IdleOrCopied && gs != FcState::Stopped)
        return Rc::GroupMemberWrongState;
    g->members.insert(mappingId);
    m->groupId = groupId;
    return Rc::Ok;
}

uint32_t CopyServices::removeFromGroup(uint32_t groupId, uint32_t mappingId) {
    auto g = s_.group(groupId);
    auto m = s_.mapping(mappingId);
    if (!g || !m) return Rc::InvalidParameter;
    if (m->groupId != groupId) return Rc::NotInSet;
    if (m->state != FcState::IdleOrCopied && m->state != FcState::Stopped) return Rc::GroupMemberWrongState;
    g->members.erase(mappingId);
    m->groupId = kNoId;
    return Rc::Ok;
}

uint32_t CopyServices::prepareGroup(uint32_t groupId, int64_t nowMs) {
    auto g = s_.group(groupId);
    if (!g) return Rc::InvalidParameter;
    auto t = fcTransition(s_.groupState(*g), FcCommand::Prepare);
    if (!t.allowed) return t.refusal;
    for (uint32_t id : g->members) {
        auto m = s_.mapping(id);
        auto mt = fcTransition(m->state, FcCommand::Prepare);
        if (!mt.allowed) return mt.refusal;
        // The group methods carry no "Restore": a member that would restore refuses the group.
        if (!s_.lenient.prepareWithoutRestore && targetFeedsActiveCopy(*m)) return Rc::RestoreRequired;
    }
    for (uint32_t id : g->members) {
        auto m = s_.mapping(id);
        m->state = FcState::Preparing;
        m->eventAtMs = nowMs + s_.timing.prepareMs;
    }
    return Rc::Ok;
}

uint32_t CopyServices::startGroup(uint32_t groupId, int64_t nowMs) {
    auto g = s_.group(groupId);
    if (!g) return Rc::InvalidParameter;
    auto t = fcTransition(s_.groupState(*g), FcCommand::Start);
    if (!t.allowed) return t.refusal;
    for (uint32_t id : g->members) {
        auto mt = fcTransition(s_.mapping(id)->state, FcCommand::Start);
        if (!mt.allowed) return mt.refusal;
    }
    for (uint32_t id : g->members) beginCopy(*s_.mapping(id), nowMs);
    return Rc::Ok;
}

uint32_t CopyServices::stopGroup(uint32_t groupId, bool force, int64_t nowMs) {
    auto g = s_.group(groupId);
    if (!g) return Rc::InvalidParameter;
    auto t = fcTransition(s_.groupState(*g), force ? FcCommand::StopForce : FcCommand::Stop);
    if (!t.allowed) return t.refusal;
    std::vector<uint32_t> members(g->members.begin(), g->members.end());
    for (uint32_t id : members)
        if (auto m = s_.mapping(id)) stopMapping(*m, force, nowMs);
    return Rc::Ok;
}

uint32_t CopyServices::deleteGroup(uint32_t groupId, bool force) {
    auto g = s_.group(groupId);
    if (!g) return Rc::GroupNotValid;
    if (!g->members.empty() && !force) return Rc::GroupNotEmpty;
    s_.vanishGroup(groupId);  // the mappings stay, outside any group
    return Rc::Ok;
}

// ---------------------------------------------------------------- clock

bool CopyServices::holdsCompletion(const FcMapping& m) const {
    return !s_.lenient.completeBeforeDependents && olderCopiesReadFrom(m);
}

int64_t CopyServices::nextEventMs(const FcMapping& m) const {
    switch (m.state) {
        case FcState::Preparing: return m.eventAtMs;
        case FcState::Stopping: return m.stuckStopping ? INT64_MAX : m.eventAtMs;
        case FcState::Copying: {
            // A complete copy waits while older copies read from its target.
            if (m.copied) return holdsCompletion(m) ? INT64_MAX : m.progressAtMs;
            if (m.progress >= 100) return m.progressAtMs;
            auto src = s_.volume(m.sourceId);
            double bps = bytesPerSecond(m.copyRate);
            if (!src || bps <= 0) return INT64_MAX;
            double seconds = (100 - m.progress) / 100.0 * double(src->sizeBytes()) / bps;
            return m.progressAtMs + int64_t(std::ceil(seconds * 1000.0));
        }
        default: return INT64_MAX;
    }
}

void CopyServices::advance(int64_t nowMs) {
    // Bounded: every event moves one mapping one step forward.
    for (size_t guard = 0; guard < 4 * s_.fcMappings.size() + 16; ++guard) {
        FcMapping* next = nullptr;
        int64_t when = INT64_MAX;
        for (auto& [id, m] : s_.fcMappings) {
            int64_t t = nextEventMs(m);
            if (t < when) {
                when = t;
                next = &m;
            }
        }
        if (!next || when > nowMs) return;
        FcMapping& m = *next;
        switch (m.state) {
            case FcState::Preparing:
                if (m.prepareFails)
                    prepareFailed(m);
                else
                    m.state = fcTransition(m.state, FcCommand::PrepareDone).next;
                break;
            case FcState::Stopping: finishStop(m); break;
            case FcState::Copying: {
                if (!m.copied) {
                    m.progress = 100;
                    m.progressAtMs = when;
                    m.copied = true;
                    if (m.incremental) {
                        m.hasCompleteBase = true;
                        m.completeBaseSeq = m.startChangeSeq;
                    }
                }
                if (!holdsCompletion(m)) completeCopy(m);
                break;
            }
            default: return;
        }
    }
}

}  // namespace arraysim
