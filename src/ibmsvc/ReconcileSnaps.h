// Reconcile: the host's catalogue brought in line with the array. A copy
// whose volume was deleted outside the engine gets status 24; nothing on the
// array changes.
#pragma once

#include <cstdint>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// 0 no record failed, 2 some did, 1 all did. A record fails when its copy
// cannot be asked about; it then keeps its status.
int reconcileSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

// zqso_reconcileSnaps: reconcileSnaps here or on the proxy.
int reconcile(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
