// Shared constants of the host interface: record statuses, metadata ids,
// flag bits and host value ids.
#pragma once

#include <cstdint>

namespace ZQSO {

// Per-record outcome written by the engine.
enum SnapStatus : int {
    SNAP_STATUS_NONE = 0,
    SNAP_STATUS_PREPARED = 1,
    SNAP_STATUS_PREPARE_FAILED = 2,
    SNAP_STATUS_UNPREPARED = 3,
    SNAP_STATUS_SNAP_STARTED = 5,
    SNAP_STATUS_SNAP_FAILED = 6,
    SNAP_STATUS_CLONE_NOT_MAPPED = 7,
    SNAP_STATUS_MAPPED_THIS_HOST = 9,
    SNAP_STATUS_MAPPED_OTHER_HOST = 10,
    SNAP_STATUS_MAP_NOT_DETERMINED = 11,
    SNAP_STATUS_MAPPED_VISIBLE = 12,
    SNAP_STATUS_NOT_MAPPED = 14,
    SNAP_STATUS_UNMAP_NOT_DONE = 15,
    SNAP_STATUS_DELETED = 20,
    SNAP_STATUS_DELETE_FAILED = 21,
    SNAP_STATUS_RESTORED = 22,
    SNAP_STATUS_NOT_RESTORED = 23,
    SNAP_STATUS_DELETED_OUTSIDE = 24,
};

// Kind of copy asked about by a support check.
enum SNAP_TYPE : int {
    SNAP_TYPE_CLONE = 1,
    SNAP_TYPE_SNAPSHOT = 2,
};

// Record metadata ids kept by the host between operations.
enum MetaDataId : int {
    SM_MDT_UNIQUE_ID = 1,            // unique identifier of the copy
    SM_MDT_REMOTE_EXEC_MSG = 60,     // return code of a remote run
    SM_MDT_REMOTE_MSG_ID = 61,       // message number of a remote run
    SM_MDT_REMOTE_REQUEST = 91,      // request / response JSON of a remote run
    SM_MDT_CONSISTENCY_GROUP = 102,  // consistency-group name
};

// Bits of the record's flags word.
constexpr uint32_t SNAP_FLAG_SMART_CLONE = 1u << 13;     // 8192
constexpr uint32_t SNAP_FLAG_DEVICE_BY_GUID = 1u << 29;  // device given by unique id
constexpr uint32_t SNAP_MARK_BEFORE_SNAP = 1u;           // mark value set before each snap

// Host value ids (SnapInfo::getHostValue).
constexpr int GET_VALUE_VOL_SOURCE_GUID = 20;

// Log levels of the record's log operations.
enum LogLevel : int {
    LOG_DETAIL = 0,
    LOG_INFO = 1,
    LOG_ERROR = 2,
};

// SCSI page codes for SnapInfo::getScsiPage.
constexpr int SCSI_PAGE_STANDARD_INQUIRY = 0;
constexpr int SCSI_PAGE_SERIAL = 0x80;
constexpr int SCSI_PAGE_DEVICE_ID = 0x83;
constexpr int SCSI_PAGE_SIZE = 255;

// Operation code (ZQOSUtil::getCurrentOperation) that makes delete unmap first.
constexpr uint16_t ZQSO_OP_DELETE_WITH_UNMAP = 132;

}  // namespace ZQSO
