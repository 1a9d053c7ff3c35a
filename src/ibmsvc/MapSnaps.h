// Map: the copies of a batch are mapped to the host's initiators on the
// array and found among the host's disks after rescans. In virtual-machine
// mode a copy is mapped to the hypervisor and to the local host as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostDiscovery.h"

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// What the array step of a map or unmap needs (requests 5 and 6) and what it
// answers (responses 5 and 6).
struct LocalDataMap {
    std::vector<std::string> initiatorIds;  // the host that is to see the copies
    bool isSCSI = false;
    std::vector<std::string> localinitiatorIds;  // virtual-machine mode: the local host
    bool localisSCSI = false;
    int32_t mapCount = 0;    // records mapped to the host (already or now)
    int32_t availCount = 0;  // records the host already lists as a disk (12)
    int32_t unmapCount = 0;  // records unmapped
};

// The request data of map and unmap: the initiators of the host facts.
LocalDataMap mapDataFromFacts(const HostFacts& facts);

// The array step, here or on a proxy. Records at 0 or 11 (copy not found,
// mapped state unknown) and records mapped to another host fail the whole
// call before anything is mapped. 0 done (counts written), 1 failed.
int processMapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, LocalDataMap& data);

// zqso_mapSnaps: 0 every copy found as a host disk (12, its path stored as
// the record's device path), 2 some, 1 none or failure.
int mapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
