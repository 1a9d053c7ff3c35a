// Unmap: the copies of a batch are hidden from the host again (in
// virtual-machine mode from the hypervisor and from the local host), and the
// host forgets their disks.
#pragma once

#include <cstdint>

#include "MapSnaps.h"
#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// The array step, here or on a proxy: records end at 14 (unmapped, or
// nothing to unmap) or 15 (unmapping not done). Writes data.unmapCount; always 0.
int processUnMapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, LocalDataMap& data);

// zqso_unmapSnaps: 0 every record unmapped (14), 2 some, 1 none or failure.
// `records` may be a part of the batch the host is running.
int unmapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
