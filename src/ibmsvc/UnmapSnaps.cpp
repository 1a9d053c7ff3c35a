// Unmap, in the order of its steps: host facts, the mapped-state query, the
// host's disks of each copy found (and written back) while still mapped, the
// array step (here or on the proxy: every copy's paths hidden side by side),
// then the disks of the unmapped copies removed from the host and its buses
// rescanned once.
//
// Unmapped records are counted once, here, from their final statuses; a
// proxy's count is only compared with them.
#include "UnmapSnaps.h"

#include <algorithm>

#include "EngineFrame.h"
#include "HostCopySteps.h"
#include "HostDiscovery.h"
#include "IBMSVCEngineRemoteHelper.h"
#include "IBMSVCRemoteMessages.h"
#include "MappedState.h"
#include "PhasePool.h"

namespace ZQSOIBMSVCAPI {

namespace {

// One record's turn of the array step.
struct Hide : CopyTurn {
    ZQSO::SnapStatus status = ZQSO::SNAP_STATUS_UNMAP_NOT_DONE;
};

// The record read in the calling thread. False when its status is final
// (in h.status) and no array work is left.
bool setUpHide(Hide& h, ZQSO::ZQOSUtil* os) {
    const char* fn = "processUnMapSnaps";
    ZQSO::SnapInfo* record = h.record;
    switch (record->getStatus()) {
        case ZQSO::SNAP_STATUS_NONE:
            engineLog(record, 2, fn, "%s: Could not find snap device, returning unmap as success", fn);
            h.status = ZQSO::SNAP_STATUS_NOT_MAPPED;
            return false;
        case ZQSO::SNAP_STATUS_UNMAP_NOT_DONE:
            // Refused on the calling host: its disk there is in use.
            engineLog(record, 0, fn, "%s: Not attempted, refused on the calling host", fn);
            return false;
        default:
            break;
    }
    record->setStatus(ZQSO::SNAP_STATUS_UNMAP_NOT_DONE);
    if (!readCopyUniqueId(record, fn, h.fields)) return false;
    refreshArrayId(os, record, h.fields);
    return true;
}

// The array work for one record: 14 unmapped, 15 not.
ZQSO::SnapStatus hidePaths(Hide& h, bool isVM, const std::string& initiators, const std::string& localInitiators) {
    const char* fn = "processUnMapSnaps";
    ZQSO::SnapInfo* record = h.record;
    UniqueId& fields = h.fields;
    IBMSVCSnapshot& snap = h.snap;
    engineLog(record, 0, fn, "%s: Snap Device[%s] Source Device [%s]", fn, fields.snapDev.c_str(),
              fields.srcDev.c_str());
    if (!snapshotOfCopy(snap, record, fields, fn)) return ZQSO::SNAP_STATUS_UNMAP_NOT_DONE;
    refreshVolumePaths(snap, record, fields);
    setCopyView(snap, fields, initiators, false);
    if (snap.UnmapSnap() != 0) {
        setError(record, kErrorStepFailed,
                 engineLog(record, 2, fn, "%s: Failed to unmap the device %s", fn, fields.snapDev.c_str()));
        return ZQSO::SNAP_STATUS_UNMAP_NOT_DONE;
    }
    // Only the array's answer afterwards tells that no mapping to this host
    // is left (the host's ports may sit in several host objects).
    const int after = snap.IsSnapMapped();
    if (after != ZQSO::SNAP_STATUS_NOT_MAPPED && after != ZQSO::SNAP_STATUS_MAPPED_OTHER_HOST) {
        setError(record, kErrorStepFailed,
                 engineLog(record, 2, fn, "%s: The device %s is still mapped to the host after unmapping [%d]", fn,
                           fields.snapDev.c_str(), after));
        return ZQSO::SNAP_STATUS_UNMAP_NOT_DONE;
    }
    engineLog(record, 0, fn, "%s: Successfully unmapped the device %s from the host", fn, fields.snapDev.c_str());
    if (!isVM) return ZQSO::SNAP_STATUS_NOT_MAPPED;

    // Virtual-machine mode: the local host's mapping goes too.
    IBMSVCSnapshot local = snap;
    setCopyView(local, fields, localInitiators, true);
    const int mapped = local.IsSnapMapped();
    if (mapped == ZQSO::SNAP_STATUS_NOT_MAPPED) return ZQSO::SNAP_STATUS_NOT_MAPPED;
    if (mapped != ZQSO::SNAP_STATUS_MAPPED_THIS_HOST) {
        engineLog(record, 2, fn, "%s: Failed to unmap the device %s from local host, its mapped state is [%d]", fn,
                  fields.snapDev.c_str(), mapped);
        return ZQSO::SNAP_STATUS_UNMAP_NOT_DONE;
    }
    if (local.UnmapSnap() != 0) {
        engineLog(record, 2, fn, "%s: Failed to unmap the device %s from local host", fn, fields.snapDev.c_str());
        return ZQSO::SNAP_STATUS_UNMAP_NOT_DONE;
    }
    engineLog(record, 0, fn, "%s: Successfully unmapped the device %s from the local host", fn,
              fields.snapDev.c_str());
    return ZQSO::SNAP_STATUS_NOT_MAPPED;
}

bool unmapped(ZQSO::SnapStatus status) {
    return status == ZQSO::SNAP_STATUS_NOT_MAPPED || status == ZQSO::SNAP_STATUS_CLONE_NOT_MAPPED;
}

}  // namespace

int processUnMapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, LocalDataMap& data) {
    const bool isVM = isVirtualMachineRecord(records[0]);
    const std::string initiators = convertHbaList(records[0], data.initiatorIds, data.isSCSI);
    const std::string localInitiators =
        isVM ? convertHbaList(records[0], data.localinitiatorIds, data.localisSCSI) : std::string();
    data.unmapCount = 0;
    // Each record read in turn here, every copy's paths hidden on the pool
    // (one copy named twice: the second time in a later pass).
    std::vector<Hide> hides(static_cast<size_t>(count));
    std::vector<std::string> copies(hides.size());
    std::vector<char> going(hides.size(), 0);
    for (size_t i = 0; i < hides.size(); ++i) {
        hides[i].record = records[i];
        if (!hides[i].record) continue;
        going[i] = setUpHide(hides[i], os) ? 1 : 0;
        if (going[i]) copies[i] = hides[i].fields.snapDev;
    }
    const PhasePool pool = PhasePool::configured(records[0]);
    for (const std::vector<size_t>& pass : passesByCopy(copies)) {
        std::vector<PhaseItem> items;
        for (size_t i : pass)
            if (going[i]) items.push_back({i, hides[i].fields.arrayId});
        pool.run(items, [&](size_t i) { hides[i].status = hidePaths(hides[i], isVM, initiators, localInitiators); });
    }
    for (const Hide& h : hides) {
        if (!h.record) continue;
        h.record->setStatus(h.status);
        if (h.status == ZQSO::SNAP_STATUS_NOT_MAPPED) ++data.unmapCount;
    }
    return 0;
}

int unmapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os) {
    const char* fn = "zqso_unmapSnaps";
    ZQSO::SnapInfo* first = records[0];
    engineLog(first, 0, fn, "Going to unmap [%d] snap/clone device(s) from the host", int(count));
    HostFacts facts;
    if (!gatherHostFacts(records, count, os, fn, facts)) return 1;
    if (queryMappedState(records, count, os) != MappedStateResult::Answered) return 1;

    // The host's disks of each copy are found while the array still maps
    // them: once unmapped, a disk answers no identity. A disk in use is not
    // pulled from under its user; the others' cached blocks are written
    // back while their paths still work.
    std::vector<std::vector<std::string>> disks(static_cast<size_t>(count));
    if (!facts.isVM) {
        std::vector<std::string> devices;
        if (queryDeviceList(first, os, facts.hostId, devices) < 0) {
            engineLog(first, 2, fn, "%s: getDeviceList failure", fn);
            return 1;
        }
        // Each listed disk is read once for the batch (its reads logged in
        // the first record), not once per record.
        DeviceLuns luns(os, first);
        for (int i = 0; i < count; ++i) {
            ZQSO::SnapInfo* record = records[i];
            if (!record || !getAllDevicePaths(record, luns, devices, disks[size_t(i)])) continue;
            for (const std::string& disk : disks[size_t(i)]) {
                std::string why;
                if (hostDiskHeld(disk, why) != HostDiskHeld::Yes) continue;
                setError(record, kErrorStillMapped,
                         engineLog(record, 2, fn, "%s: Snap device %s is in use on this host as [%s] (%s), not unmapped",
                                   fn, getSnapDeviceUUID(record).c_str(), disk.c_str(), why.c_str()));
                record->setStatus(ZQSO::SNAP_STATUS_UNMAP_NOT_DONE);
                disks[size_t(i)].clear();
                break;
            }
            for (const std::string& disk : disks[size_t(i)]) {
                std::string error;
                if (!flushHostDisk(disk, error))
                    engineLog(record, 1, fn, "%s: The cached blocks of [%s] could not be written back: %s", fn,
                              disk.c_str(), error.c_str());
            }
        }
    }

    LocalDataMap data = mapDataFromFacts(facts);
    std::string request, response;
    fillRequestUnMap(data, request);
    bool local = false;
    IBMSVCEngineRemoteHelper helper(records, count, os);
    const unsigned result = runBatchFrame(fn, helper, first, REMOTE_OP_UNMAP, request, response, [&] {
        local = true;
        return unsigned(processUnMapSnaps(records, count, os, data));
    });
    if (result != 0) return 1;
    int32_t arrayCount = data.unmapCount;
    if (!local) {
        arrayCount = -1;
        getResponseUnMap(response, arrayCount);
    }

    // The disks of the unmapped copies go from the host: a device-mapper
    // device first, then its paths (the host's removal does both).
    std::vector<std::string> removed;
    int unmapCount = 0;
    for (int i = 0; i < count; ++i) {
        ZQSO::SnapInfo* record = records[i];
        if (!record || !unmapped(record->getStatus())) continue;
        engineLog(record, 0, fn, "%s: Snapshot LUN %s, no mapping found on the Storage Array %s: Returning Success",
                  fn, getSnapDeviceUUID(record).c_str(), facts.arrayId.c_str());
        record->setStatus(ZQSO::SNAP_STATUS_NOT_MAPPED);
        ++unmapCount;
        for (const std::string& disk : disks[size_t(i)])
            if (std::find(removed.begin(), removed.end(), disk) == removed.end()) removed.push_back(disk);
    }
    if (arrayCount != unmapCount)
        engineLog(first, local ? 0 : 1, fn, "%s: [%d] device(s) unmapped, the array step counted [%d]", fn,
                  unmapCount, int(arrayCount));
    refreshSystemBus(first, os, facts.initiatorIds, removed, facts.hostId);
    if (unmapCount == 0) return 1;
    return unmapCount < count ? 2 : 0;
}

}  // namespace ZQSOIBMSVCAPI
