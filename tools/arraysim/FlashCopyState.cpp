#include "FlashCopyState.h"

#include "SvcReturnCode.h"
#include "SyncState.h"

namespace arraysim {

namespace {
constexpr FcTransition go(FcState next) { return FcTransition{true, next, false, 0}; }
constexpr FcTransition gone() { return FcTransition{true, FcState::IdleOrCopied, true, 0}; }
constexpr FcTransition no(uint32_t rc) { return FcTransition{false, FcState::IdleOrCopied, false, rc}; }
constexpr FcTransition same(FcState s) { return go(s); }

using S = FcState;
constexpr int kStates = 8;
constexpr int kCommands = 11;
constexpr FcTransition kNotAnEvent = no(Rc::Failed);

// Rows: FcState; columns: FcCommand in declaration order
// (Prepare, Start, Stop, StopForce, Delete, DeleteForce,
//  PrepareDone, PrepareFailed, StopDone, CopyDone, Suspend).
const FcTransition kTable[kStates][kCommands] = {
    // IdleOrCopied: a stop has no effect
    {go(S::Preparing), no(Rc::StartNotPrepared), same(S::IdleOrCopied), same(S::IdleOrCopied), gone(), gone(),
     kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent},
    // Preparing: a stop waits for the flush to end
    {no(Rc::PrepareWrongState), no(Rc::StartWhilePreparing), no(Rc::StopWrongState), no(Rc::StopWrongState),
     no(Rc::MappingActive), no(Rc::MappingActive), go(S::Prepared), go(S::Stopped), kNotAnEvent, kNotAnEvent,
     kNotAnEvent},
    // Prepared
    {no(Rc::PrepareWrongState), go(S::Copying), go(S::Stopped), go(S::Stopped), no(Rc::MappingActive),
     no(Rc::MappingActive), kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent},
    // Copying
    {no(Rc::PrepareWrongState), no(Rc::AlreadyCopying), go(S::Stopping), go(S::Stopped), no(Rc::MappingActive),
     no(Rc::MappingActive), kNotAnEvent, kNotAnEvent, kNotAnEvent, go(S::IdleOrCopied), go(S::Suspended)},
    // Stopping: it copies data to the mappings that depend on it
    {no(Rc::PrepareWrongState), no(Rc::StartNotPrepared), same(S::Stopping), go(S::Stopped),
     no(Rc::SourceNeededByOtherMaps), no(Rc::SourceNeededByOtherMaps), kNotAnEvent, kNotAnEvent, go(S::Stopped),
     kNotAnEvent, go(S::Suspended)},
    // Stopped: deleted only with Force
    {go(S::Preparing), no(Rc::StartNotPrepared), same(S::Stopped), same(S::Stopped), no(Rc::MappingActive), gone(),
     kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent},
    // Suspended
    {no(Rc::PrepareWrongState), no(Rc::AlreadyCopying), go(S::Stopped), go(S::Stopped), no(Rc::MappingActive),
     no(Rc::MappingActive), kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent},
    // Empty (consistency groups without mappings)
    {no(Rc::GroupEmpty), no(Rc::GroupEmpty), same(S::Empty), same(S::Empty), gone(), gone(), kNotAnEvent,
     kNotAnEvent, kNotAnEvent, kNotAnEvent, kNotAnEvent},
};
}  // namespace

FcTransition fcTransition(FcState state, FcCommand command) {
    return kTable[static_cast<int>(state)][static_cast<int>(command)];
}

FcTransition fcLenientDelete(FcState state, bool force) {
    switch (state) {
        case S::Stopping: return no(Rc::SourceNeededByOtherMaps);
        case S::IdleOrCopied:
        case S::Stopped:
        case S::Empty: return gone();
        default: return force ? gone() : no(Rc::MappingActive);
    }
}

const char* fcStateName(FcState state) {
    switch (state) {
        case S::IdleOrCopied: return "idle_or_copied";
        case S::Preparing: return "preparing";
        case S::Prepared: return "prepared";
        case S::Copying: return "copying";
        case S::Stopping: return "stopping";
        case S::Stopped: return "stopped";
        case S::Suspended: return "suspended";
        case S::Empty: return "empty";
    }
    return "unknown";
}

bool parseFcState(const std::string& text, FcState& out) {
    for (int i = 0; i < kStates; ++i) {
        auto s = static_cast<FcState>(i);
        if (text == fcStateName(s)) {
            out = s;
            return true;
        }
    }
    return false;
}

uint16_t syncStateOf(FcState state, bool copied) {
    switch (state) {
        case S::IdleOrCopied: return copied ? SyncState::Synchronized : SyncState::Idle;
        case S::Preparing: return SyncState::PrepareInProgress;
        case S::Prepared: return SyncState::Prepared;
        case S::Copying: return SyncState::ResyncInProgress;
        case S::Stopping: return SyncState::QuiesceInProgress;
        case S::Stopped: return SyncState::Quiesced;
        case S::Suspended: return SyncState::Broken;
        case S::Empty: return SyncState::Idle;
    }
    return SyncState::Broken;
}

}  // namespace arraysim
