#include "TargetDeviceList.h"

#include <cstdlib>
#include <sstream>

#include "EngineFrame.h"
#include "IBMSVCUtility.h"
#include "ZQMMSnapAPI.h"

namespace ZQSOIBMSVCAPI {

namespace {
constexpr int kSnapApiVersion = 2;
constexpr uint32_t kRetrieveFlags = 6144;
}  // namespace

void TargetDeviceList::markChanged() {
    std::lock_guard<std::mutex> lock(lock_);
    updateMetaList = true;
}

bool TargetDeviceList::needsUpdate() const {
    std::lock_guard<std::mutex> lock(lock_);
    return updateMetaList;
}

std::string TargetDeviceList::text() const {
    std::lock_guard<std::mutex> lock(lock_);
    return targetDevList;
}

bool TargetDeviceList::listedLocked(const std::string& uid) const {
    std::istringstream entries(targetDevList);
    std::string entry;
    while (entries >> entry)
        if (entry == uid) return true;
    return false;
}

bool TargetDeviceList::contains(const std::string& uid) const {
    if (uid.empty()) return false;
    std::lock_guard<std::mutex> lock(lock_);
    return listedLocked(uid);
}

bool TargetDeviceList::claim(const std::string& uid) {
    if (uid.empty()) return false;
    std::lock_guard<std::mutex> lock(lock_);
    if (listedLocked(uid) || claimed_.count(uid) != 0) return false;
    claimed_.insert(uid);
    return true;
}

void TargetDeviceList::release(const std::string& uid) {
    std::lock_guard<std::mutex> lock(lock_);
    claimed_.erase(uid);
}

bool TargetDeviceList::claimed(const std::string& uid) const {
    std::lock_guard<std::mutex> lock(lock_);
    return claimed_.count(uid) != 0;
}

int TargetDeviceList::GetExcludedVolList(ZQSO::SnapInfo* record, int, const std::string& arrayId) {
    const char* fn = "GetExcludedVolList";
    int engineId = getSnapEngineType(record);
    SMVolSnapInfo query;
    SMControlHostInfo host;
    host.setControlHostId(record ? record->getControlHostId() : 0);
    query.addControlHost(host);
    query.setSnapShotEngineId(engineId);
    query.setRetrieveValidFlags(kRetrieveFlags);

    std::lock_guard<std::mutex> lock(lock_);
    if (!std::getenv("SNAPTEST_LOCAL_MODE")) {
        if (ZQMMSnapAPI(kSnapApiVersion).getVolumeSnaps(query) != 0) {
            engineLog(record, 2, fn, "Unable to fetch snapshot information for engine [%d] from database", engineId);
            updateMetaList = true;
            return 0;
        }
    }
    if (updateMetaList || arrayId != builtForArray_ || engineId != builtForEngine_) {
        engineLog(record, 0, fn, "Updating the target device list for devices that are currently being used");
        std::string list;
        for (const auto& entry : query.getMetaDataList()) {
            if (entry.getMetaDataType() != ZQSO::SM_MDT_UNIQUE_ID) continue;
            UniqueId fields;
            if (parseUniqueId(record, entry.getMetaData(), fields) == 0) {
                engineLog(record, 0, fn, "Failed to get Target device information from IBMSVC unique Identifier [%s]",
                          entry.getMetaData().c_str());
                continue;
            }
            if (fields.arrayId == arrayId) list += fields.snapDev + " ";
        }
        targetDevList = list;
        builtForArray_ = arrayId;
        builtForEngine_ = engineId;
        updateMetaList = false;
    } else {
        engineLog(record, 0, fn, "Using the same target device list");
    }
    return 1;
}

TargetDeviceList& targetDeviceList() {
    static TargetDeviceList list;
    return list;
}

int GetExcludedVolList(ZQSO::SnapInfo* record, int count, const std::string& arrayId) {
    return targetDeviceList().GetExcludedVolList(record, count, arrayId);
}

}  // namespace ZQSOIBMSVCAPI
