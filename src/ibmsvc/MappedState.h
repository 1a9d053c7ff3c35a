// The mapped-state query: for each record, whether its copy is mapped to the
// host and whether the host already lists it as a disk. The answer is the
// record's status: 9 mapped to this host, 10 to another host, 12 mapped and
// seen as a disk, 14 not mapped, 7 a clone without mapping, 0 the copy is
// gone, 11 not determined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// The host facts the array step needs (the request of message 4).
struct LocalDataIsMapped {
    std::vector<std::string> hostDevPathList;
    std::string hostIdentifier;
    std::vector<std::string> initiatorIds;  // as detected, not normalised
    bool isSCSI = false;
    bool isVM = false;
};

// Collects the host facts on the calling host. 0 done, 1 failed (error 62002
// or 62003 on a record).
int isMappedLocalProcessing(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, LocalDataIsMapped& data);

// The array step, here or on a proxy: every record's status from the array.
// Always 0.
int processIsMapped(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, const LocalDataIsMapped& data);

enum class MappedStateResult {
    Answered,       // the array was asked (statuses as above)
    NoHostFacts,    // every record stays 11
    RemoteFailed,   // every record stays 11
};

// The whole query: every record starts at 11, the array step runs here or on
// the proxy, then records at 9 whose disk the host lists become 12 (with
// that disk as their device path).
MappedStateResult queryMappedState(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

// zqso_isMapped: 1 when the host facts could not be gathered, else 0.
int isMapped(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
