// Unmapping needs the host's initiators and devices, which this version does
// not read yet: every record stays mapped (15) and the call fails, so that a
// delete that must unmap first deletes nothing a host may still see.
#include "UnmapSnaps.h"

#include "EngineFrame.h"

namespace ZQSOIBMSVCAPI {

int unmapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil*) {
    const char* fn = "unmapSnaps";
    for (int i = 0; records && i < count; ++i) {
        if (!records[i]) continue;
        engineLog(records[i], 2, fn, "%s: Unmapping from the host is not available in this version", fn);
        records[i]->setStatus(ZQSO::SNAP_STATUS_UNMAP_NOT_DONE);
    }
    return 1;
}

}  // namespace ZQSOIBMSVCAPI
