// Unmap: the copies of a batch are hidden from this host again.
#pragma once

#include <cstdint>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// Records end at 14 (not mapped) or 15 (unmapping not done). 0 every record
// unmapped, 2 some, 1 none or failure. `records` may be a part of the batch
// the host is running.
int unmapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
