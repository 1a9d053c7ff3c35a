#include "FlashCopyState.h"

#include "SvcReturnCode.h"
#include "SyncState.h"

namespace arraysim {

namespace {
constexpr FcTransition go(FcState next) { return FcTransition{true, next, false, 0}; }
constexpr FcTransition gone() { return FcTransition{true, FcState::IdleOrCopied, true, 0}; }
constexpr FcTransition no(uint32_t rc) { return FcTransition{false, FcState::IdleOrCopied, false, rc}; }

constexpr int kStates = 7;
constexpr int kCommands = 9;

// Rows: FcState; columns: FcCommand in declaration order
// (Prepare, Start, Stop, StopForce, Delete, DeleteForce, PrepareDone, StopDone, CopyDone).
const FcTransition kTable[kStates][kCommands] = {
    // IdleOrCopied
    {go(FcState::Preparing), no(Rc::StartNotPrepared), go(FcState::IdleOrCopied), go(FcState::IdleOrCopied),
     gone(), gone(), no(Rc::Failed), no(Rc::Failed), no(Rc::Failed)},
    // Preparing
    {no(Rc::PrepareWrongState), no(Rc::StartWhilePreparing), go(FcState::Stopped), go(FcState::Stopped),
     no(Rc::MappingActive), gone(), go(FcState::Prepared), no(Rc::Failed), no(Rc::Failed)},
    // Prepared
    {no(Rc::PrepareWrongState), go(FcState::Copying), go(FcState::Stopped), go(FcState::Stopped),
     no(Rc::MappingActive), gone(), no(Rc::Failed), no(Rc::Failed), no(Rc::Failed)},
    // Copying
    {no(Rc::PrepareWrongState), no(Rc::AlreadyCopying), go(FcState::Stopping), go(FcState::Stopped),
     no(Rc::MappingActive), gone(), no(Rc::Failed), no(Rc::Failed), go(FcState::IdleOrCopied)},
    // Stopping
    {no(Rc::PrepareWrongState), no(Rc::StartNotPrepared), go(FcState::Stopping), go(FcState::Stopped),
     no(Rc::SourceNeededByOtherMaps), no(Rc::SourceNeededByOtherMaps), no(Rc::Failed), go(FcState::Stopped),
     no(Rc::Failed)},
    // Stopped
    {go(FcState::Preparing), no(Rc::StartNotPrepared), go(FcState::Stopped), go(FcState::Stopped), gone(),
     gone(), no(Rc::Failed), no(Rc::Failed), no(Rc::Failed)},
    // Empty (consistency groups without mappings)
    {no(Rc::GroupEmpty), no(Rc::GroupEmpty), go(FcState::Empty), go(FcState::Empty), gone(), gone(),
     no(Rc::Failed), no(Rc::Failed), no(Rc::Failed)},
};
}  // namespace

FcTransition fcTransition(FcState state, FcCommand command) {
    return kTable[static_cast<int>(state)][static_cast<int>(command)];
}

const char* fcStateName(FcState state) {
    switch (state) {
        case FcState::IdleOrCopied: return "idle_or_copied";
        case FcState::Preparing: return "preparing";
        case FcState::Prepared: return "prepared";
        case FcState::Copying: return "copying";
        case FcState::Stopping: return "stopping";
        case FcState::Stopped: return "stopped";
        case FcState::Empty: return "empty";
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
        case FcState::IdleOrCopied: return copied ? SyncState::Synchronized : SyncState::Idle;
        case FcState::Preparing: return SyncState::PrepareInProgress;
        case FcState::Prepared: return SyncState::Prepared;
        case FcState::Copying: return SyncState::ResyncInProgress;
        case FcState::Stopping: return SyncState::QuiesceInProgress;
        case FcState::Stopped: return SyncState::Quiesced;
        case FcState::Empty: return SyncState::Idle;
    }
    return SyncState::Broken;
}

}  // namespace arraysim
