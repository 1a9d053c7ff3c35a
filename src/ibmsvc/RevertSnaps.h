// Revert: each source volume is restored from its snapshot or clone by a
// reverse FlashCopy (the copy becomes the source, the source the target).
// Only copies known to be mapped to no host are reverted; the first copy
// that cannot be restored ends the call.
#pragma once

#include <cstdint>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// The array step, here or on a proxy: records end at 22 (restored) or 23.
// `revertCount` grows by one per record restored. Always 0.
int processRevert(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os, int32_t& revertCount);

// zqso_revertSnaps: 0 every record restored, 2 some, 1 none or failure.
int revertSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // namespace ZQSOIBMSVCAPI
