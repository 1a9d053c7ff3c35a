#include "ZQMMSnapAPI.h"

#include <exception>

#include "EvDebug.h"
#include "ZqPlatformRegistry.h"

int ZQMMSnapAPI::getVolumeSnaps(SMVolSnapInfo& query) {
    query.clearMetaData();
    try {
        return zq::platform::registry().snapCatalogue.get()->getVolumeSnaps(apiVersion_, query);
    } catch (const std::exception& e) {
        EvDebug().DebugLvl("ZQMMSnapAPI::getVolumeSnaps", 2, "catalogue query failed: %s", e.what());
    }
    return 1;
}
