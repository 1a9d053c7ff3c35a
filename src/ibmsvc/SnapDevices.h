// Snap: the moment of the copy. The mappings prepared by prepareDevices are
// started one by one or, when the batch shares a consistency group, together
// by starting the group once.
#pragma once

#include <cstdint>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// Records end at status 5 (started) or 6 (failed). 0 every record started,
// 2 some, 1 none.
int snapDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
