// States of FlashCopy mappings and consistency groups, and the transition
// table that every state change of the simulator goes through.
#pragma once
#include <cstdint>
#include <string>

namespace arraysim {

enum class FcState : uint8_t { IdleOrCopied, Preparing, Prepared, Copying, Stopping, Stopped, Suspended, Empty };

// Commands from methods, and events raised by the clock or by faults.
enum class FcCommand : uint8_t {
    Prepare,
    Start,
    Stop,
    StopForce,
    Delete,
    DeleteForce,
    PrepareDone,    // clock: cache flushed
    PrepareFailed,  // clock: the flush failed (fault)
    StopDone,       // clock: cleaning finished
    CopyDone,       // clock: background copy complete and no older copy depends on it
    Suspend,        // fault: the mapping's metadata became unreachable
};

struct FcTransition {
    bool allowed = false;
    FcState next = FcState::IdleOrCopied;  // when allowed
    bool deletes = false;                  // when allowed: the mapping goes away
    uint32_t refusal = 0;                  // return value when refused
};

// The array's answer to `command` in state `state`. Group-only rules (empty
// groups) are part of the table; rules that look beyond one object
// (dependent mappings, restore, group membership) are checked by the caller.
FcTransition fcTransition(FcState state, FcCommand command);

// Deletion as earlier simulator versions allowed it (seed "lenient"
// "deleteAnyState"): Force deletes a mapping in any state but stopping,
// and a stopped mapping needs no Force.
FcTransition fcLenientDelete(FcState state, bool force);

// "idle_or_copied", "preparing", ... as the array names the states.
const char* fcStateName(FcState state);
bool parseFcState(const std::string& text, FcState& out);

// SyncState value shown for a mapping; `copied` is true once the last
// background copy reached 100%. A suspended mapping shows 12 (broken) here;
// the cluster may choose another value (ClusterState::suspendedSyncState).
uint16_t syncStateOf(FcState state, bool copied);

// Copying, stopping and suspended mappings hold data that other mappings
// of their cascade may read.
inline bool isActive(FcState s) { return s == FcState::Copying || s == FcState::Stopping || s == FcState::Suspended; }

}  // namespace arraysim
