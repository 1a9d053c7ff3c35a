// The simulated cluster: its objects, their indexes, and the array rules of
// volumes, hosts and host mappings. FlashCopy rules live in CopyServices.
// Not thread-safe: ArraySimulator serialises every access.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FlashCopyState.h"

namespace arraysim {

constexpr uint32_t kNoId = UINT32_MAX;

struct ClusterInfo {
    std::string id = "0000020060C14A2C";  // 16 hex digits
    std::string name = "svcsim";
    std::string firmware = "8.4.0.2";     // VersionString
    uint16_t build = 154;                 // BuildNumber
};

// Simulated durations and limits (all times in engine milliseconds).
struct Timing {
    int64_t prepareMs = 500;        // cache flush of a prepare
    int64_t stopMs = 500;           // stop without cleaning
    int64_t jobStepMs = 1000;       // default job: time per state
    int64_t jobRetentionMs = 300000;  // finished jobs stay readable this long
};

struct Limits {
    uint32_t maxMappingsPerGroup = 512;
    uint32_t maxTargetsPerSource = 256;
    uint32_t maxMappings = 4096;           // FlashCopy mappings of the cluster; 0: no cap
    uint32_t maxConnectedMappings = 256;   // mappings linked through shared volumes; 0: no cap
    uint32_t maxGroups = 500;
    bool standardGoal = true;  // IBMTSSVC_StorageVolumeSetting "<cluster>:Standard" exists
};

// Kinder FlashCopy rules of earlier simulator versions, each off by default
// (seed "lenient"). Tests that need the old answers switch one on.
struct Leniency {
    bool deleteAnyState = false;   // Force deletes in any state but stopping; stopped needs no Force
    bool stopGroupMember = false;  // a member of a consistency group may be stopped on its own
    bool stopPreparing = false;    // a stop of a preparing mapping stops it at once
    bool prepareWithoutRestore = false;  // a restore needs "Restore" at start only, not at prepare
    bool completeBeforeDependents = false;  // a copy at 100% goes idle_or_copied though older copies read from it
};

struct IoGroup {
    uint32_t id = 0;
    std::string name;
};

struct Node {
    uint32_t id = 0;
    std::string name;
    uint32_t ioGroupId = 0;
};

struct Pool {
    uint32_t id = 0;
    std::string name;
    uint64_t capacityBytes = 0;
    bool online = true;
};

// One host write (or a FlashCopy overwrite) of a volume: the share of the
// volume it changed, and the cluster's change counter when it happened.
struct WriteRecord {
    uint64_t seq = 0;
    double percent = 0;
};

struct Volume {
    uint32_t id = 0;
    std::string name;
    std::string uid;  // 32 upper-case hex digits, the volume's "Name"
    uint32_t poolId = 0;
    uint32_t ioGroupId = 0;
    uint32_t preferredNodeId = 0;
    uint32_t blockSize = 512;
    uint64_t blockCount = 0;
    bool spaceEfficient = false;
    bool autoexpand = false;
    uint16_t realSizePercent = 100;  // space-efficient: real capacity share
    uint32_t grainSizeKiB = 256;     // space-efficient: grain size
    uint64_t generation = 0;         // identity of the data the volume holds
    bool dataValid = true;           // false: holds no consistent image (a copy that did not finish)
    int statusOverride = -1;         // OperationalStatus forced by a test, -1 none
    std::vector<WriteRecord> writes;

    uint64_t sizeBytes() const { return uint64_t(blockSize) * blockCount; }
    // Capacity the volume takes from its pool.
    uint64_t allocatedBytes() const;
};

struct Host {
    uint32_t id = 0;
    std::string name;
};

// A host's initiator port (IBMTSSVC_StorageHardwareID).
struct HostPort {
    uint32_t id = 0;
    uint32_t hostId = 0;
    std::string name;  // WWPN: 16 upper-case hex digits; or an iSCSI name
    bool iscsi = false;
};

struct HostMapping {
    uint32_t hostId = 0;
    uint32_t volumeId = 0;
    uint32_t scsiId = 0;
};

struct FcMapping {
    uint32_t id = 0;
    std::string name;
    uint32_t sourceId = 0;
    uint32_t targetId = 0;
    FcState state = FcState::IdleOrCopied;
    uint16_t copyRate = 50;
    uint16_t cleanRate = 50;
    bool incremental = false;
    bool autoDelete = false;
    uint32_t grainSizeKiB = 256;
    uint32_t groupId = kNoId;

    bool copied = false;       // the last background copy reached 100%
    double progress = 0;       // percent copied at progressAtMs
    int64_t progressAtMs = 0;
    int64_t eventAtMs = 0;     // end of preparing or stopping
    bool stuckStopping = false;  // fault: a stop never finishes
    bool prepareFails = false;   // fault: every prepare ends stopped (the flush fails)
    FcState suspendedFrom = FcState::Copying;  // suspended: the state it returns to
    int64_t suspendedLeftMs = 0;               // suspended while stopping: time left

    uint64_t startSeq = 0;           // order of starts (cascade order)
    uint64_t startChangeSeq = 0;     // change counter at the last start
    bool hasCompleteBase = false;    // incremental: a copy has completed
    uint64_t completeBaseSeq = 0;    // change counter at the start of that copy
};

struct ConsistencyGroup {
    uint32_t id = 0;
    std::string name;
    std::set<uint32_t> members;
};

// Volume creation request, after the caller resolved names to ids.
struct VolumeSpec {
    std::string name;  // empty: the cluster names it
    uint32_t poolId = 0;
    uint64_t sizeBytes = 0;
    bool spaceEfficient = false;
    bool autoexpand = false;
    uint16_t realSizePercent = 100;
    uint32_t grainSizeKiB = 256;
    uint32_t ioGroupId = kNoId;        // kNoId: the cluster picks
    uint32_t preferredNodeId = kNoId;  // kNoId: the cluster picks
    std::string uid;                   // empty: the cluster makes one
    uint32_t id = kNoId;               // kNoId: the next id (see reserveVolumeId)
};

struct RcResult {
    uint32_t rc = 0;
    uint32_t id = kNoId;  // the object made, when rc is 0
    bool ok() const { return rc == 0; }
};

class ClusterState {
public:
    ClusterInfo cluster;
    Timing timing;
    Limits limits;
    Leniency lenient;
    uint16_t suspendedSyncState = 12;  // SyncState a suspended mapping shows (seed "flashCopy")

    std::map<uint32_t, IoGroup> ioGroups;
    std::map<uint32_t, Node> nodes;
    std::map<uint32_t, Pool> pools;
    std::map<uint32_t, Volume> volumes;
    std::map<uint32_t, Host> hosts;
    std::map<uint32_t, HostPort> ports;
    std::map<std::pair<uint32_t, uint32_t>, HostMapping> hostMappings;  // (host, volume)
    std::map<uint32_t, FcMapping> fcMappings;
    std::map<uint32_t, ConsistencyGroup> groups;

    // --- lookups (nullptr when absent)
    const Volume* volumeByUid(const std::string& uid) const;
    const Volume* volumeByName(const std::string& name) const;
    Volume* volume(uint32_t id);
    const Volume* volume(uint32_t id) const;
    const Pool* poolByName(const std::string& name) const;  // case-insensitive
    const Host* hostByName(const std::string& name) const;
    const HostPort* portByName(const std::string& name) const;
    FcMapping* mapping(uint32_t id);
    const FcMapping* mapping(uint32_t id) const;
    const FcMapping* mappingByName(const std::string& name) const;
    const FcMapping* mappingByPair(uint32_t sourceId, uint32_t targetId) const;
    const FcMapping* mappingOfTarget(uint32_t volumeId) const;
    std::vector<uint32_t> mappingsOfSource(uint32_t volumeId) const;
    ConsistencyGroup* group(uint32_t id);
    const ConsistencyGroup* groupByName(const std::string& name) const;
    std::vector<uint32_t> hostsOfVolume(uint32_t volumeId) const;
    std::vector<uint32_t> volumesOfHost(uint32_t hostId) const;
    std::vector<uint32_t> portsOfHost(uint32_t hostId) const;
    FcState groupState(const ConsistencyGroup& g) const;

    // --- building blocks for seeds and the generator (no array rules)
    void addIoGroup(IoGroup g);
    void addNode(Node n);
    void addPool(Pool p);
    uint32_t insertVolume(Volume v);  // id 0 or taken: next free id
    uint32_t insertHost(const std::string& name);
    uint32_t insertPort(uint32_t hostId, const std::string& name, bool iscsi);
    void insertHostMapping(HostMapping m);
    uint32_t insertMapping(FcMapping m);
    uint32_t insertGroup(const std::string& name, uint32_t id = kNoId);

    // --- array rules (return values of SvcReturnCode.h)
    // dryRun: check the rules only.
    RcResult createVolume(const VolumeSpec& spec, bool dryRun = false);
    uint32_t reserveVolumeId() { return nextVolumeId_++; }
    uint32_t reserveGroupId() { return nextGroupId_++; }
    uint32_t deleteVolume(uint32_t volumeId);
    uint32_t renameVolume(uint32_t volumeId, const std::string& name);
    uint32_t renameMapping(uint32_t mappingId, const std::string& name);
    uint32_t renameHost(uint32_t hostId, const std::string& name);
    RcResult createGroup(const std::string& name, uint32_t id = kNoId, bool dryRun = false);
    RcResult createHost(const std::string& name, const std::vector<std::string>& portNames, bool dryRun = false);
    // scsiId kNoId: lowest free SCSI id of the host. force: allow a volume
    // that other hosts already see.
    uint32_t mapVolume(uint32_t hostId, uint32_t volumeId, uint32_t scsiId, bool force);
    uint32_t unmapVolume(uint32_t hostId, uint32_t volumeId);

    // --- data generations
    // A host wrote `percent` of the volume: new generation, change recorded.
    uint64_t writeVolume(uint32_t volumeId, double percent);
    // Share of the volume changed after change counter `sinceSeq` (capped at 100).
    double changedSince(uint32_t volumeId, uint64_t sinceSeq) const;
    uint64_t nextGeneration() { return ++generationCounter_; }
    uint64_t nextChangeSeq() { return ++changeCounter_; }
    uint64_t changeSeq() const { return changeCounter_; }
    uint64_t nextStartSeq() { return ++startCounter_; }

    // --- removal bypassing the rules (an object vanishes, as if another
    // administrator deleted it); dependent objects go with it.
    bool vanishVolume(uint32_t volumeId);
    bool vanishHost(uint32_t hostId);
    bool vanishMapping(uint32_t mappingId);
    bool vanishGroup(uint32_t groupId);

    // Removes a mapping and its group membership (rules checked by the caller).
    void eraseMapping(uint32_t mappingId);

    // OperationalStatus of a volume: 2 OK, 10 stopped (offline): a test's
    // override, an offline pool, or the state of its FlashCopy mappings.
    uint16_t volumeStatus(const Volume& v) const;
    uint64_t poolUsedBytes(uint32_t poolId) const;

    std::string makeUid();
    static bool validObjectName(const std::string& name);

private:
    std::string uniqueName(const std::string& prefix,
                           const std::unordered_map<std::string, uint32_t>& index) const;
    void indexMapping(const FcMapping& m);
    void unindexMapping(const FcMapping& m);

    std::unordered_map<std::string, uint32_t> volumeByUid_;
    std::unordered_map<std::string, uint32_t> volumeByName_;
    std::unordered_map<std::string, uint32_t> hostByName_;
    std::unordered_map<std::string, uint32_t> portByName_;
    std::unordered_map<std::string, uint32_t> mappingByName_;
    std::unordered_map<std::string, uint32_t> groupByName_;
    std::unordered_map<uint32_t, uint32_t> mappingByTarget_;
    std::multimap<uint32_t, uint32_t> mappingsBySource_;
    std::set<std::pair<uint32_t, uint32_t>> hostsByVolume_;  // (volume, host)
    std::unordered_map<uint32_t, uint64_t> poolUsed_;

    uint32_t nextVolumeId_ = 0;
    uint32_t nextHostId_ = 0;
    uint32_t nextPortId_ = 0;
    uint32_t nextMappingId_ = 0;
    uint32_t nextGroupId_ = 1;  // group 0 is the array's own
    uint64_t uidCounter_ = 0x100;
    uint64_t generationCounter_ = 0;
    uint64_t changeCounter_ = 0;
    uint64_t startCounter_ = 0;
};

}  // namespace arraysim
