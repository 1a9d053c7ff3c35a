#include "HostCopySteps.h"

#include "ArrayParams.h"
#include "EngineFrame.h"
#include "SnapshotSteps.h"

namespace ZQSOIBMSVCAPI {

namespace {
// Device access of a host mapping: read-write.
constexpr uint16_t kMapReadWrite = 2;
}  // namespace

bool readCopyUniqueId(ZQSO::SnapInfo* record, const char* fn, UniqueId& fields) {
    std::string text;
    if (!readMetaData(record, ZQSO::SM_MDT_UNIQUE_ID, text))
        engineLog(record, 2, fn, "%s: Failed to get metadata [id : %d]", fn, int(ZQSO::SM_MDT_UNIQUE_ID));
    if (parseUniqueId(record, text, fields)) return true;
    engineLog(record, 2, fn, "%s: Failed to parse unique identifier [%s]", fn, text.c_str());
    return false;
}

void refreshArrayId(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, UniqueId& fields) {
    int fromDb = 0;
    GetRegInt(nullptr, "IBMSVC_GET_ARRAYID_FROM_DB", &fromDb);
    if (fromDb < 1) return;
    std::string current;
    CheckandGetArrayID(os, record, current, fields.snapDev);
    if (current.empty() || current == fields.arrayId) return;
    engineLog(record, 0, "refreshArrayId", "IBMSVC cluster IP changed from [%s] to [%s]", fields.arrayId.c_str(),
              current.c_str());
    fields.arrayId = current;
}

void refreshVolumePaths(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, UniqueId& fields) {
    int change = 0;
    if (GetRegInt(nullptr, "IBMSVC_VOLUME_OBJPATH_CHANGE", &change) == 0) return;
    engineLog(record, 0, "refreshVolumePaths", "Registry Key [IBMSVC_VOLUME_OBJPATH_CHANGE] Value [%d]", change);
    if (change == 0) return;
    std::string path;
    if (!fields.snapDev.empty() && snap.FindSVCVolObjectPathByUUID(fields.snapDev, path) == 1) {
        fields.snapDevPath = path;
        snap.m_TargetDevPath = path;
    }
    if (!fields.srcDev.empty() && snap.FindSVCVolObjectPathByUUID(fields.srcDev, path) == 1) {
        fields.srcDevPath = path;
        snap.m_SourceDevPath = path;
    }
}

bool snapshotOfCopy(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const UniqueId& fields, const char* fn) {
    if (!initRecordSnapshot(snap, record, fields.arrayId, false)) {
        engineLog(record, 2, fn, "%s: Failed to initialize the Array parameters", fn);
        return false;
    }
    setSnapFromUniqueId(snap, record, fields);
    return true;
}

void setCopyView(IBMSVCSnapshot& snap, const UniqueId& fields, const std::string& initiators, bool forMapping) {
    ZQ_SMIS_SNAP::ZqSnapViewParams view;
    view.TargetDev = fields.snapDev;
    view.TargetDevPath = fields.snapDevPath;
    view.InitiatorList = initiators;
    if (forMapping) view.MapParam = kMapReadWrite;
    snap.SetSnapViewInfo(view);
}

}  // namespace ZQSOIBMSVCAPI
