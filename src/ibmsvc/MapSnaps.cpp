// Map, in the order of its steps: host facts, the host's disks before, the
// mapped-state query, the array step (here or on the proxy: every copy
// exposed side by side), then one rescan loop until every mapped copy shows
// as a disk or the time limit has passed.
//
// The array step refuses the batch before it maps anything when a copy is
// gone, its mapped state is unknown, or it is mapped to another host: a
// second host writing to the same copy would corrupt it.
#include "MapSnaps.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "HostCopySteps.h"
#include "HostDiscovery.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "IBMSVCRemoteMessages.h"
#include "MappedState.h"
#include "PhasePool.h"
#include "SnapshotSteps.h"
#include "ZqClock.h"
#include "ZqSmisSyncState.h"

namespace ZQSOIBMSVCAPI {

namespace {

constexpr uint32_t kSmartCloneFlag = 0x2000;
constexpr int kGroupSettleSeconds = 30;
constexpr int kClonePollSeconds = 30;
constexpr int kCloneStallSeconds = 3600;
constexpr int kDiscoveryPasses = 5;
constexpr int kFirstSleepSeconds = 10;
constexpr int kSleepStepSeconds = 10;
constexpr int kShortestMountLimit = 180;
constexpr int kDefaultMountLimit = 300;
constexpr int kStatusOk = 2;
constexpr int kStatusDegraded = 3;

// A copy this call mapped, to be unmapped again when a later record fails.
struct MappedCopy {
    int index;
    IBMSVCSnapshot snap;
    UniqueId fields;
    bool toHost = false;       // mapped to the host's initiators
    bool toLocalHost = false;  // virtual-machine mode: mapped to the local host too
};

struct MapStep {
    ZQSO::SnapInfo** records;
    int16_t count;
    ZQSO::ZQOSUtil* os;
    LocalDataMap& data;
    bool isVM;
    std::string initiators;       // initiator text of the host
    std::string localInitiators;  // virtual-machine mode: of the local host
    std::vector<MappedCopy> mapped;
};

// Statuses that forbid mapping; nothing is mapped when any record has one.
bool checkStatuses(const MapStep& step) {
    const char* fn = "processMapSnaps";
    bool ok = true;
    for (int i = 0; i < step.count; ++i) {
        ZQSO::SnapInfo* record = step.records[i];
        if (!record) continue;
        switch (record->getStatus()) {
            case ZQSO::SNAP_STATUS_NONE:
                setError(record, kErrorNoSnapDevice, engineLog(record, 2, fn, "%s: Failed, could not find snap device", fn));
                ok = false;
                break;
            case ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED:
                setError(record, kErrorNoSnapDevice,
                         engineLog(record, 2, fn, "%s: Failed, the mapped state of the snap device is not known", fn));
                ok = false;
                break;
            case ZQSO::SNAP_STATUS_MAPPED_OTHER_HOST:
                // In virtual-machine mode the other host may be the local
                // host; that is looked at with the copy.
                if (step.isVM) break;
                setError(record, kErrorStillMapped,
                         engineLog(record, 2, fn, "%s: Snap device of snap-[%s] is mapped to another host", fn,
                                   record->snapName().c_str()));
                ok = false;
                break;
            default:
                break;
        }
    }
    return ok;
}

// Virtual-machine mode, a copy mapped to another host: true when that host
// is the local host alone (the mapping this flow makes itself).
bool mappedToLocalHostOnly(IBMSVCSnapshot& snap, const UniqueId& fields, const std::string& localInitiators) {
    if (localInitiators.empty()) return false;
    IBMSVCSnapshot local = snap;
    local.SetLogger(nullptr);
    setCopyView(local, fields, localInitiators, true);
    return local.IsSnapMapped() == ZQSO::SNAP_STATUS_MAPPED_THIS_HOST && snap.CountTargetHostMappings() == 1;
}

// The copy's consistency group goes before the copy is mapped.
void removeGroup(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record) {
    const char* fn = "processMapSnaps";
    if (snap.GetSyncSetName() != 1) return;
    const std::string group = snap.m_SyncSetName;
    engineLog(record, 0, fn, "%s: Going to remove consistency group [%s], waiting 30 seconds to settle it down", fn,
              group.c_str());
    sleepSeconds(kGroupSettleSeconds);
    const int r = snap.DeleteSyncSet(group);
    if (r == 0)
        engineLog(record, 1, fn, "Successfully deleted Consistency Group [%s]", group.c_str());
    else if (r == 1)
        engineLog(record, 1, fn, "ConsistencyGroup [%s] not found/already deleted, returning success", group.c_str());
    else
        engineLog(record, 2, fn, "ConsistencyGroup [%s] deletion failed", group.c_str());
}

// A clone is mapped once its copy has completed, or once its mapping is gone
// (autodelete). False: the copy ended elsewhere or makes no progress (error
// set on the record).
bool waitForClone(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record) {
    const char* fn = "processMapSnaps";
    int stallLimit = kCloneStallSeconds;
    GetRegInt(nullptr, "IBMSVC_MAP_CLONE_STALL_SECS", &stallLimit);
    if (stallLimit < 1) stallLimit = kCloneStallSeconds;
    engineLog(record, 0, fn, "%s: Smart clone not enabled, monitoring the incremental copy after prepare", fn);
    int bestPercent = -1, stalled = 0;
    bool rateRead = false;
    for (;;) {
        const int lookup = snap.GetSyncPathFromTarget();
        if (lookup == 1) {
            engineLog(record, 0, fn, "%s: FlashCopy deleted as autodelete is enabled", fn);
            return true;
        }
        int state = -1, percent = -1;
        const bool read = lookup == 0 && snap.GetSyncState(state, percent) == 0;
        if (read && isCompleteCopy(state, percent)) {
            engineLog(record, 0, fn, "%s: Resync completed", fn);
            return true;
        }
        if (read && state != SYNC_STATE_RESYNC_IN_PROGRESS) {
            // Never started, only prepared, stopped: the target holds no
            // whole image, and a host must not read it as one.
            engineLog(record, 0, fn, "%s: Unknown state [%d]", fn, state);
            setError(record, kErrorNoSnapDevice,
                     engineLog(record, 2, fn,
                               "%s: Clone [%s] holds no complete image, its FlashCopy state is [%d:%s], not mapped",
                               fn, snap.m_TargetDev.c_str(), state, SyncStateName(state)));
            return false;
        }
        if (read && !rateRead) {
            rateRead = true;
            if (snap.GetSnapObjectProperty(snap.m_SyncPath, "CopyRate") == "0") {
                setError(record, kErrorNoSnapDevice,
                         engineLog(record, 2, fn, "%s: Clone [%s] copies at rate 0 and never completes, not mapped",
                                   fn, snap.m_TargetDev.c_str()));
                return false;
            }
        }
        if (read && percent > bestPercent) {
            bestPercent = percent;
            stalled = 0;
        }
        if (stalled >= stallLimit) {
            setError(record, kErrorNoSnapDevice,
                     engineLog(record, 2, fn, "%s: Clone [%s] made no progress for [%d] seconds, not mapped", fn,
                               snap.m_TargetDev.c_str(), stalled));
            return false;
        }
        engineLog(record, 0, fn, "%s: Resync still in progress, waiting 30 seconds", fn);
        sleepSeconds(kClonePollSeconds);
        stalled += kClonePollSeconds;
    }
}

// The target volume must be online (or degraded) to be mapped.
bool targetOnline(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const std::string& volumePath) {
    const char* fn = "processMapSnaps";
    const std::string text = snap.GetSnapObjectProperty(volumePath, "OperationalStatus");
    const int code = text.empty() ? kStatusOk : std::atoi(text.c_str());
    if (code == kStatusOk) return true;
    const std::string name = snap.GetSnapObjectProperty(volumePath, "ElementName");
    const std::string meaning = IBMSVCCimUtil::GetOperationalStatusMessage(code);
    if (code == kStatusDegraded) {
        engineLog(record, 1, fn, "%s: Vdisk [%s] status is [%d:%s], continuing with the map..", fn, name.c_str(), code,
                  meaning.c_str());
        return true;
    }
    setError(record, kErrorNoSnapDevice,
             engineLog(record, 2, fn, "%s: Vdisk [%s] status is not online, current status code [%d:%s]", fn,
                       name.c_str(), code, meaning.c_str()));
    return false;
}

// Virtual-machine mode: the copy is mapped to the local host too; a failure
// there is only logged. True when this call mapped it there.
bool mapToLocalHost(const MapStep& step, IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const UniqueId& fields) {
    const char* fn = "processMapSnaps";
    const std::string name = record->snapName();
    if (!step.localInitiators.empty()) {
        IBMSVCSnapshot local = snap;
        local.SetLogger(nullptr);
        setCopyView(local, fields, step.localInitiators, true);
        if (local.IsSnapMapped() == ZQSO::SNAP_STATUS_MAPPED_THIS_HOST) {
            engineLog(record, 0, fn, "%s: already mapped the device-[%s:%s] to local host, skipping mapping", fn,
                      name.c_str(), fields.snapDev.c_str());
            return false;
        }
        if (local.MapSnap() == 0) {
            engineLog(record, 0, fn, "%s: Successfully mapped the device-[%s:%s] to local host", fn, name.c_str(),
                      fields.snapDev.c_str());
            return true;
        }
    }
    engineLog(record, 2, fn, "%s: Failed to map the device-[%s:%s] to local host, ignoring the error", fn,
              name.c_str(), fields.snapDev.c_str());
    return false;
}

// A map that fails part-way takes back what it mapped; a copy it cannot
// unmap again says so in its record's error.
void unmapWhatThisCallMapped(MapStep& step, int failedAt) {
    const char* fn = "processMapSnaps";
    const std::string failedName = step.records[failedAt]->snapName();
    for (auto it = step.mapped.rbegin(); it != step.mapped.rend(); ++it) {
        ZQSO::SnapInfo* record = step.records[it->index];
        bool back = true;
        // Unbound from the record: what the array answers here must not
        // stand as the record's error instead of what stays mapped.
        IBMSVCSnapshot snap = it->snap;
        snap.SetLogger(nullptr);
        if (it->toLocalHost) {
            setCopyView(snap, it->fields, step.localInitiators, false);
            back = snap.UnmapSnap() == 0;
        }
        if (it->toHost) {
            setCopyView(snap, it->fields, step.initiators, false);
            back = snap.UnmapSnap() == 0 && back;
        }
        if (!back) {
            setError(record, kErrorNoSnapDevice,
                     engineLog(record, 2, fn,
                               "%s: Snap device [%s] of snap-[%s] stays mapped to the host: the map failed at "
                               "snap-[%s] and the device could not be unmapped again",
                               fn, it->fields.snapDev.c_str(), record->snapName().c_str(), failedName.c_str()));
            continue;
        }
        engineLog(record, 1, fn, "%s: Unmapped the device-[%s:%s] again, the map failed at snap-[%s]", fn,
                  record->snapName().c_str(), it->fields.snapDev.c_str(), failedName.c_str());
        if (it->toHost)
            record->setStatus(it->fields.snapOp == "5" ? ZQSO::SNAP_STATUS_CLONE_NOT_MAPPED
                                                       : ZQSO::SNAP_STATUS_NOT_MAPPED);
    }
    step.mapped.clear();
}

// One record's turn of the array step.
struct MapTurn : CopyTurn {
    ZQSO::SnapStatus status = ZQSO::SNAP_STATUS_NONE;  // as the mapped-state query left it
    bool hostMapped = false;  // 9 or 12 already
    bool going = false;       // has array work to do
    bool failed = false;
    bool toHost = false;       // this call mapped it to the host
    bool toLocalHost = false;  // and to the local host
};

// The record read in the calling thread: its counts when it is mapped
// already, else its copy and snapshot object. False fails the call.
bool setUpMapTurn(MapStep& step, MapTurn& t) {
    const char* fn = "processMapSnaps";
    ZQSO::SnapInfo* record = t.record;
    t.status = record->getStatus();
    t.hostMapped = t.status == ZQSO::SNAP_STATUS_MAPPED_THIS_HOST || t.status == ZQSO::SNAP_STATUS_MAPPED_VISIBLE;
    if (t.hostMapped) {
        ++step.data.mapCount;
        if (t.status == ZQSO::SNAP_STATUS_MAPPED_VISIBLE) ++step.data.availCount;
        if (!step.isVM) return true;
    }
    const std::string name = record->snapName();
    std::string text;
    if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text)) {
        engineLog(record, 2, fn, "%s: Failed to get metadata [id : %d] for snap-[%s]", fn, int(ZQSO::SM_MDT_UNIQUE_ID),
                  name.c_str());
        return false;
    }
    UniqueId& fields = t.fields;
    if (!parseUniqueId(record, text, fields)) {
        engineLog(record, 2, fn, "%s: Failed to parse unique identifier [%s] for snap-[%s]", fn, text.c_str(),
                  name.c_str());
        return false;
    }
    refreshArrayId(step.os, record, fields);
    engineLog(record, 0, fn, "%s: Snap name-[%s], snap device-[%s], source device-[%s]", fn, name.c_str(),
              fields.snapDev.c_str(), fields.srcDev.c_str());
    if (!initRecordSnapshot(t.snap, record, fields.arrayId, false)) {
        engineLog(record, 2, fn, "%s: Failed to initialize the array-[%s] parameters", fn, fields.arrayId.c_str());
        record->setStatus(ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED);
        return false;
    }
    engineLog(record, 0, fn, "Smart Clone Enabled: %d", (record->getFlags() & kSmartCloneFlag) != 0 ? 1 : 0);
    setSnapFromUniqueId(t.snap, record, fields);
    t.going = true;
    return true;
}

// The copy's paths refreshed and, in virtual-machine mode, a copy mapped to
// another host refused unless that host is the local one. False fails the call.
bool lookAtCopy(const MapStep& step, MapTurn& t) {
    const char* fn = "processMapSnaps";
    refreshVolumePaths(t.snap, t.record, t.fields);
    if (step.isVM && t.status == ZQSO::SNAP_STATUS_MAPPED_OTHER_HOST &&
        !mappedToLocalHostOnly(t.snap, t.fields, step.localInitiators)) {
        setError(t.record, kErrorStillMapped,
                 engineLog(t.record, 2, fn, "%s: Snap device of snap-[%s] is mapped to another host", fn,
                           t.record->snapName().c_str()));
        return false;
    }
    return true;
}

// A clone waited for, the target checked online and exposed to the host
// (and the local host). False fails the call.
bool exposeCopy(const MapStep& step, MapTurn& t) {
    const char* fn = "processMapSnaps";
    ZQSO::SnapInfo* record = t.record;
    IBMSVCSnapshot& snap = t.snap;
    const UniqueId& fields = t.fields;
    const std::string name = record->snapName();
    const bool smartClone = (record->getFlags() & kSmartCloneFlag) != 0;
    if (!smartClone && fields.snapOp == "5" && !waitForClone(snap, record)) return false;

    setCopyView(snap, fields, step.initiators, true);
    if (!targetOnline(snap, record, fields.snapDevPath)) return false;
    if (!t.hostMapped) {
        if (snap.MapSnap() != 0) {
            setError(record, kErrorNoSnapDevice,
                     engineLog(record, 2, fn, "%s: Failed to map the device-[%s:%s]", fn, name.c_str(),
                               fields.snapDev.c_str()));
            return false;
        }
        engineLog(record, 0, fn, "%s: Successfully mapped the device-[%s:%s] to host", fn, name.c_str(),
                  fields.snapDev.c_str());
        record->setStatus(ZQSO::SNAP_STATUS_MAPPED_THIS_HOST);
        t.toHost = true;
    }
    if (step.isVM && mapToLocalHost(step, snap, record, fields)) t.toLocalHost = true;
    return true;
}

// Steps 2 to 17 over the batch: every record read in turn, every copy looked
// at on the pool, the group removed once (with the first record, or with
// each under "IBMSVC_CG_CHECK_ALL"), every copy exposed on the pool. A record
// that fails fails the call, and what the call mapped is taken back.
bool mapAll(MapStep& step) {
    std::vector<MapTurn> turns(static_cast<size_t>(step.count));
    for (size_t i = 0; i < turns.size(); ++i) {
        turns[i].record = step.records[i];
        if (turns[i].record && !setUpMapTurn(step, turns[i])) return false;
    }
    const PhasePool pool = PhasePool::configured(step.records[0]);
    auto phase = [&](const std::function<bool(MapTurn&)>& work) {
        std::vector<PhaseItem> items;
        for (size_t i = 0; i < turns.size(); ++i)
            if (turns[i].going) items.push_back({i, turns[i].snap.m_SystemName});
        pool.run(items, [&](size_t i) { turns[i].failed = !work(turns[i]); });
        for (size_t i = 0; i < turns.size(); ++i)
            if (turns[i].failed) return int(i);
        return -1;
    };
    if (phase([&](MapTurn& t) { return lookAtCopy(step, t); }) >= 0) return false;
    int checkAll = 0;
    GetRegInt(nullptr, "IBMSVC_CG_CHECK_ALL", &checkAll);
    for (size_t i = 0; i < turns.size(); ++i)
        if (turns[i].going && (i == 0 || checkAll >= 1)) removeGroup(turns[i].snap, turns[i].record);
    const int failedAt = phase([&](MapTurn& t) { return exposeCopy(step, t); });
    for (size_t i = 0; i < turns.size(); ++i) {
        const MapTurn& t = turns[i];
        if (t.toHost) ++step.data.mapCount;
        if (t.toHost || t.toLocalHost)
            step.mapped.push_back(MappedCopy{int(i), t.snap, t.fields, t.toHost, t.toLocalHost});
    }
    if (failedAt < 0) return true;
    unmapWhatThisCallMapped(step, failedAt);
    return false;
}

void logDevices(ZQSO::SnapInfo* record, const std::vector<std::string>& devices) {
    for (size_t i = 0; i < devices.size(); ++i)
        engineLog(record, 0, "zqso_mapSnaps", " Volume [%d] DeviceName [%s]", int(i), devices[i].c_str());
}

// Records mapped to the host (9 or 12) and those it already sees (12).
void countMapped(ZQSO::SnapInfo** records, int16_t count, LocalDataMap& data) {
    data.mapCount = data.availCount = 0;
    for (int i = 0; i < count; ++i) {
        if (!records[i]) continue;
        const ZQSO::SnapStatus status = records[i]->getStatus();
        if (status == ZQSO::SNAP_STATUS_MAPPED_THIS_HOST || status == ZQSO::SNAP_STATUS_MAPPED_VISIBLE) ++data.mapCount;
        if (status == ZQSO::SNAP_STATUS_MAPPED_VISIBLE) ++data.availCount;
    }
}

// Rescans until every mapped copy shows as a disk or the time limit (and
// the first passes) are over. Sleeps grow by 10 s and never run past the
// limit once the first passes are done.
void discoverDisks(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, const HostFacts& facts,
                   const std::vector<std::string>& before, LocalDataMap& data) {
    const char* fn = "zqso_mapSnaps";
    ZQSO::SnapInfo* first = records[0];
    std::vector<bool> found(size_t(count), false);
    int limit = 0;
    GetRegInt(nullptr, "nMountRetrySeconds", &limit);
    if (limit <= kShortestMountLimit) limit = kDefaultMountLimit;
    auto& clock = zq::platform::clock();
    const int64_t deadline = clock.nowMs() + int64_t(limit) * 1000;
    const std::set<std::string> known(before.begin(), before.end());
    int passesLeft = kDiscoveryPasses;
    int64_t sleepMs = int64_t(kFirstSleepSeconds) * 1000;
    for (;;) {
        refreshSystemBus(first, os, facts.initiatorIds, {}, facts.hostId);
        std::vector<std::string> after, fresh;
        queryDeviceList(first, os, facts.hostId, after);
        logDevices(first, after);
        for (const std::string& device : after)
            if (known.count(device) == 0) fresh.push_back(device);
        const std::vector<std::string>& candidates = fresh.empty() || passesLeft == 1 ? after : fresh;
        DeviceLuns luns(os, first);
        for (int i = 0; i < count && data.availCount < count; ++i) {
            ZQSO::SnapInfo* record = records[i];
            if (!record || found[size_t(i)] || record->getStatus() != ZQSO::SNAP_STATUS_MAPPED_THIS_HOST) continue;
            const std::string path = luns.find(candidates, getSnapDeviceUUID(record));
            if (path.empty()) continue;
            // A node the host had before this mapping keeps the size and the
            // cached blocks of what it showed then: it is read again first.
            std::string error;
            if (known.count(path) && !rereadHostDisk(path, error)) {
                engineLog(record, 2, fn, "%s: Device [%s] was known before and could not be read again: %s", fn,
                          path.c_str(), error.c_str());
                continue;
            }
            record->setStatus(ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
            record->setSnapDevicePath(path.c_str());
            found[size_t(i)] = true;
            ++data.availCount;
            std::vector<char> stored(1024, '\0');
            uint16_t len = uint16_t(stored.size());
            record->getSnapDevicePath(stored.data(), &len);
            stored.back() = '\0';
            engineLog(record, 1, fn, "%s snapDevice Path: [%s]", fn, stored.data());
        }
        --passesLeft;
        if (data.mapCount <= data.availCount) return;
        int64_t wait = sleepMs;
        if (passesLeft <= 0) {
            const int64_t now = clock.nowMs();
            if (now >= deadline) return;
            wait = std::min(wait, deadline - now);
        }
        clock.sleepMs(wait);
        sleepMs += int64_t(kSleepStepSeconds) * 1000;
    }
}

}  // namespace

int processMapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, LocalDataMap& data) {
    // The counts are written only when every record is done.
    LocalDataMap counts = data;
    counts.mapCount = counts.availCount = 0;
    MapStep step{records, count, os, counts, isVirtualMachineRecord(records[0]), std::string(), std::string(), {}};
    if (!checkStatuses(step)) return 1;
    step.initiators = convertHbaList(records[0], data.initiatorIds, data.isSCSI);
    if (step.isVM) step.localInitiators = convertHbaList(records[0], data.localinitiatorIds, data.localisSCSI);
    if (!mapAll(step)) return 1;
    data.mapCount = counts.mapCount;
    data.availCount = counts.availCount;
    return 0;
}

LocalDataMap mapDataFromFacts(const HostFacts& facts) {
    LocalDataMap data;
    data.initiatorIds = facts.initiatorIds;
    data.isSCSI = facts.isSCSI;
    data.localinitiatorIds = facts.localinitiatorIds;
    data.localisSCSI = facts.localisSCSI;
    return data;
}

int mapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_mapSnaps";
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 0, fn, "Going to map [%d] snap/clone device(s) to the host", int(count));
    HostFacts facts;
    if (!gatherHostFacts(records, count, os, fn, facts)) return 1;
    std::vector<std::string> before;
    queryDeviceList(first, os, facts.hostId, before);
    logDevices(first, before);
    if (queryMappedState(records, count, os) != MappedStateResult::Answered) return 1;

    LocalDataMap data = mapDataFromFacts(facts);
    std::string request, response;
    fillRequestMap(data, request);
    bool local = false;
    IBMSVCEngineRemoteHelper helper(records, count, os);
    const unsigned result = runBatchFrame(fn, helper, first, REMOTE_OP_MAP, request, response, [&] {
        local = true;
        return unsigned(processMapSnaps(records, count, os, data));
    });
    if (result != 0) return 1;
    if (!local) {
        // What the records carried back counts; the proxy's own counts are
        // only compared with it.
        int32_t mapCount = -1, availCount = -1;
        countMapped(records, count, data);
        if (!getResponseMap(response, mapCount, availCount) || mapCount != data.mapCount ||
            availCount != data.availCount)
            engineLog(first, 1, fn, "%s: [%d] device(s) mapped, [%d] visible; the proxy answered [%s]", fn,
                      int(data.mapCount), int(data.availCount), response.c_str());
    }
    // A successful array step leaves every record mapped.
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record) continue;
        const ZQSO::SnapStatus status = record->getStatus();
        if (status != ZQSO::SNAP_STATUS_MAPPED_THIS_HOST && status != ZQSO::SNAP_STATUS_MAPPED_VISIBLE)
            setError(record, kErrorNoSnapDevice,
                     engineLog(record, 2, fn, "%s: Failed, the snap device was not mapped [status %d]", fn,
                               int(status)));
    }
    if (data.availCount == count) {
        engineLog(first, 0, fn, "Found all the device(s)[size-%d] mapped to the host.", int(count));
        return 0;
    }
    if (data.mapCount > data.availCount) discoverDisks(records, count, os, facts, before, data);

    for (int i = 0; i < count; ++i)
        if (records[i] && records[i]->getStatus() == ZQSO::SNAP_STATUS_MAPPED_THIS_HOST)
            setError(records[i], kErrorNoHostDisk, "Unable to find OS device(s) corresponding to snap(s)/clone(s)");
    if (data.availCount > 0) return data.availCount >= count ? 0 : 2;
    return 1;
}

}  // namespace ZQSOIBMSVCAPI
