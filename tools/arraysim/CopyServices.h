// FlashCopy on the simulated cluster: mappings and consistency groups, their
// state machine (FlashCopyState.h) and what the clock does to them
// (preparing, background copy, cleaning while stopping, autodelete).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ClusterState.h"

namespace arraysim {

struct MappingSpec {
    uint32_t sourceId = kNoId;
    uint32_t targetId = kNoId;
    std::string name;  // empty: the cluster names it
    uint16_t copyRate = 50;
    uint16_t cleanRate = 50;
    bool incremental = false;
    bool autoDelete = false;
    uint32_t grainSizeKiB = 256;
};

class CopyServices {
public:
    explicit CopyServices(ClusterState& state) : s_(state) {}

    RcResult createMapping(const MappingSpec& spec);
    // The answer createMapping would give, without creating anything.
    uint32_t checkCreate(const MappingSpec& spec) const;
    // The cluster's FlashCopy limits for one more mapping of `sourceId`
    // (`targetId` kNoId: a volume still to be made).
    uint32_t checkLimits(uint32_t sourceId, uint32_t targetId) const;
    // Commands on one mapping; each answers 0 or the array's refusal and
    // changes nothing when it refuses. `restore`: the "Restore" flag.
    uint32_t prepare(uint32_t mappingId, int64_t nowMs, bool restore = false);
    uint32_t start(uint32_t mappingId, bool restore, int64_t nowMs);
    uint32_t stop(uint32_t mappingId, bool force, int64_t nowMs);
    uint32_t remove(uint32_t mappingId, bool force, int64_t nowMs);
    // The answer `command` (Prepare, Start, Stop, StopForce, Delete,
    // DeleteForce) would get now, without running it.
    uint32_t check(const FcMapping& m, FcCommand command, bool restore) const;

    // Attribute changes (ModifyInstance). A new copy rate applies from nowMs
    // on; AutoDelete on a copied idle mapping deletes it at once.
    uint32_t setCopyRate(uint32_t mappingId, uint16_t rate, int64_t nowMs);
    uint32_t setCleanRate(uint32_t mappingId, uint16_t rate);
    uint32_t setAutoDelete(uint32_t mappingId, bool on);

    // Faults. A mapping whose prepare fails ends stopped (with the rest of
    // its group); a suspended mapping holds still, its source and target
    // offline, until released, then goes on copying or stopping.
    uint32_t setPrepareFails(uint32_t mappingId, bool fails);
    uint32_t setSuspended(uint32_t mappingId, bool suspended, int64_t nowMs);

    uint32_t addToGroup(uint32_t groupId, uint32_t mappingId);
    uint32_t removeFromGroup(uint32_t groupId, uint32_t mappingId);
    uint32_t prepareGroup(uint32_t groupId, int64_t nowMs);
    uint32_t startGroup(uint32_t groupId, int64_t nowMs);
    uint32_t stopGroup(uint32_t groupId, bool force, int64_t nowMs);
    uint32_t deleteGroup(uint32_t groupId, bool force);

    // Applies every clock event up to nowMs, in time order.
    void advance(int64_t nowMs);

    // Background copy progress in percent at `nowMs`.
    double progressAt(const FcMapping& m, int64_t nowMs) const;
    uint16_t syncState(const FcMapping& m) const;
    // SyncState shown for a mapping or group state (a suspended one shows
    // the cluster's suspendedSyncState).
    uint16_t shownSyncState(FcState state, bool copied) const;
    // True when older copies of the same source, or copies reading from this
    // mapping's target, still need data that only this target holds.
    bool hasDependents(const FcMapping& m) const;
    // The cascade part of that: older, unfinished, active copies of the same
    // source. A copy at 100% stays copying while there are any.
    bool olderCopiesReadFrom(const FcMapping& m) const;
    uint16_t maxRate() const;

    // Bytes per second of a copy or clean rate (0 for rate 0).
    static double bytesPerSecond(uint16_t rate);
    static constexpr uint16_t kDefaultRate = 50;

private:
    uint32_t stopMapping(FcMapping& m, bool force, int64_t nowMs);
    void beginCopy(FcMapping& m, int64_t nowMs);
    // A stop ends: stopped, or idle_or_copied when the copy had reached 100%
    // (deleted with AutoDelete).
    void finishStop(FcMapping& m);
    // idle_or_copied after a complete copy; with AutoDelete the mapping goes.
    void completeCopy(FcMapping& m);
    void prepareFailed(FcMapping& m);
    // Mappings linked to these volumes through shared volumes.
    size_t connectedMappings(uint32_t volumeA, uint32_t volumeB) const;
    // Active mappings that read from `m`: older unfinished copies of its
    // source, and copies of its target.
    std::vector<uint32_t> activeDependents(const FcMapping& m) const;
    void stopDependents(const FcMapping& m, int64_t nowMs);
    int64_t nextEventMs(const FcMapping& m) const;  // INT64_MAX when none
    bool holdsCompletion(const FcMapping& m) const;
    bool targetFeedsActiveCopy(const FcMapping& m) const;

    ClusterState& s_;
};

}  // namespace arraysim
