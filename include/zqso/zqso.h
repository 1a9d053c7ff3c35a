// Exported entry points of the snapshot-engine plug-in.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"
#include "zqso/ZqsoTypes.h"

#define ZQSO_EXPORT __attribute__((visibility("default")))

namespace ZQSO {
// Mounted devices of the host: device key ("<vendor:8>|::|<product:16>") to device paths.
using MountedDeviceMap = std::map<std::string, std::vector<std::string>>;
}  // namespace ZQSO

extern "C" {

ZQSO_EXPORT void zqso_version(uint16_t* major, uint16_t* minor, uint16_t* patch);
ZQSO_EXPORT int zqso_isSupported(const char* deviceName, int flags, ZQSO::ZQOSUtil* os,
                                 void* reserved1, void* reserved2);
ZQSO_EXPORT int zqso_processVPDInfo(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_identifyDevices(ZQSO::SnapInfo** records, int16_t count,
                                     ZQSO::MountedDeviceMap* mounted, int mode, void* reserved,
                                     ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_prepareDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_unprepareDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_snapDevices(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_deleteSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_isMapped(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_mapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_unmapSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_revertSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_reconcileSnaps(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);
ZQSO_EXPORT int zqso_execSnapEngineOp(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os);

}  // extern "C"
