// Delete: the end of a snapshot or clone. The copy is either removed from
// the array (mapping and target) or kept for reuse by a later prepare under a
// name that carries the label; the batch's consistency group goes too.
#pragma once

#include <cstdint>
#include <vector>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// The array work of the batch. Records end at status 20 (deleted, kept for
// reuse, or nothing to delete) or 21 (not deleted). 0 every record at 20, 2
// some, 1 none.
int deleteSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

// On the calling host, before anything is deleted or forwarded: when the host
// runs operation 132, the copies of the batch are unmapped from this host.
// Records whose copy is still mapped afterwards (not at 14 or 7; every one
// when the unmap fails) end at 21 and are returned in `leftOut`; the others
// are returned in the order of the batch.
std::vector<ZQSO::SnapInfo*> unmapBeforeDelete(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os,
                                               std::vector<ZQSO::SnapInfo*>& leftOut);

}  // namespace ZQSOIBMSVCAPI
