// Steps the prepare, snap and delete flows share: a record's unique
// identifier (metadata 1) read and written, the snapshot object of a known
// copy, and the bounded waits on a FlashCopy mapping's state.
#pragma once

#include <string>
#include <vector>

#include "IBMSVCSnapshot.h"
#include "IBMSVCUtility.h"
#include "PhasePool.h"
#include "zqso/SnapInfo.h"

namespace ZQSOIBMSVCAPI {

// Metadata 1 of the record. Returns false after logging "Failed to get
// metadata" or "Failed to parse unique  identifier" (level 2, function
// `fn`); an absent or empty identifier gives true with `empty` set.
bool readRecordUniqueId(ZQSO::SnapInfo* record, const char* fn, UniqueId& fields, bool& empty);

// The unique identifier of the copy a snapshot object describes.
UniqueId uniqueIdOf(const std::string& arrayId, const IBMSVCSnapshot& snap, const std::string& targetSelMode);
// The nine fields joined by "*".
std::string uniqueIdText(const UniqueId& fields);
// Writes metadata 1; false after logging "Failed to set metadata [id : 1]".
bool writeUniqueId(ZQSO::SnapInfo* record, const char* fn, const UniqueId& fields);

// Snapshot parameters of the copy a unique identifier names (snap name from
// the record, slot 2).
void setSnapFromUniqueId(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const UniqueId& fields);

// FlashCopy mapping states as the provider reports them (SyncState).
bool isStoppedState(int state);  // 6 copied, 9 stopped, 11 idle
// A copy whose target holds the whole image: 6; 11 or 5 with "PercentSynced"
// 100 (5 at 100 is a finished copy held in copying by other mappings).
bool isCompleteCopy(int state, int percent);

// Whole seconds on the engine clock.
void sleepSeconds(int seconds);

// The stop wait settings: "IBMSVC_DETACH_STOP_WAIT_SECS" (300) and
// "IBMSVC_DETACH_STOP_WAIT_INTERVAL" (10, at least 1).
struct StopWait {
    int totalSeconds = 300;
    int intervalSeconds = 10;
    static StopWait configured();
};

// One read of the mapping of the snapshot's copy: true when it is stopped
// (6, 9 or 11) or gone.
bool mappingStopped(IBMSVCSnapshot& snap);

// Waits, within `wait`, until the mapping of the snapshot's copy is stopped
// (6, 9 or 11) or gone; with `stop` the mapping is stopped first
// (ModifySynchronization 8, once, when it is prepared or copying). True when
// it is stopped or gone.
bool waitMappingStopped(IBMSVCSnapshot& snap, bool stop, const StopWait& wait);

// A start sent without waiting, confirmed: polls "SyncState" within the job
// limits (60 polls, 10 s apart) until the mapping copies (5) or has copied
// (6). True when it did; otherwise the record's error is set (60540) with the
// logged line.
bool confirmStarted(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const char* fn);

// Mappings confirmed together after their starts or a group operation (one
// round over the pending ones per poll, on `pool`): started as above, or
// prepared (4, polled while preparing or unreadable). One answer per member.
struct Confirm {
    IBMSVCSnapshot* snap;
    ZQSO::SnapInfo* record;
};
std::vector<bool> confirmStarted(std::vector<Confirm>& members, const char* fn,
                                 const PhasePool& pool = PhasePool(true, 1));
std::vector<bool> confirmPrepared(std::vector<Confirm>& members, const char* fn,
                                  const PhasePool& pool = PhasePool(true, 1));

}  // namespace ZQSOIBMSVCAPI
