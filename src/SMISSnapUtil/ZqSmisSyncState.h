// Values of CIM_StorageSynchronized.SyncState (on IBM SVC, the state of a
// FlashCopy mapping, IBMTSSVC_LocalStorageSynchronized).
#pragma once

constexpr int SYNC_STATE_INITIALIZED = 2;             // CIM_StorageSynchronized.SyncState "Initialized"
constexpr int SYNC_STATE_PREPARE_IN_PROGRESS = 3;     // CIM_StorageSynchronized.SyncState "PrepareInProgress"
constexpr int SYNC_STATE_PREPARED = 4;                // CIM_StorageSynchronized.SyncState "Prepared"
constexpr int SYNC_STATE_RESYNC_IN_PROGRESS = 5;      // CIM_StorageSynchronized.SyncState "ResyncInProgress"
constexpr int SYNC_STATE_SYNCHRONIZED = 6;            // CIM_StorageSynchronized.SyncState "Synchronized"
constexpr int SYNC_STATE_FRACTURE_IN_PROGRESS = 7;    // CIM_StorageSynchronized.SyncState "FractureInProgress"
constexpr int SYNC_STATE_QUIESCE_IN_PROGRESS = 8;     // CIM_StorageSynchronized.SyncState "QuiesceInProgress"
constexpr int SYNC_STATE_QUIESCED = 9;                // CIM_StorageSynchronized.SyncState "Quiesced"
constexpr int SYNC_STATE_RESTORE_IN_PROGRESS = 10;    // CIM_StorageSynchronized.SyncState "RestoreInProgress"
constexpr int SYNC_STATE_IDLE = 11;                   // CIM_StorageSynchronized.SyncState "Idle"
constexpr int SYNC_STATE_BROKEN = 12;                 // CIM_StorageSynchronized.SyncState "Broken"
constexpr int SYNC_STATE_FRACTURED = 13;              // CIM_StorageSynchronized.SyncState "Fractured"

// The name of a SyncState value ("Prepared", "Idle"); "Unknown" for others.
inline const char* SyncStateName(int state) {
    switch (state) {
        case SYNC_STATE_INITIALIZED: return "Initialized";
        case SYNC_STATE_PREPARE_IN_PROGRESS: return "PrepareInProgress";
        case SYNC_STATE_PREPARED: return "Prepared";
        case SYNC_STATE_RESYNC_IN_PROGRESS: return "ResyncInProgress";
        case SYNC_STATE_SYNCHRONIZED: return "Synchronized";
        case SYNC_STATE_FRACTURE_IN_PROGRESS: return "FractureInProgress";
        case SYNC_STATE_QUIESCE_IN_PROGRESS: return "QuiesceInProgress";
        case SYNC_STATE_QUIESCED: return "Quiesced";
        case SYNC_STATE_RESTORE_IN_PROGRESS: return "RestoreInProgress";
        case SYNC_STATE_IDLE: return "Idle";
        case SYNC_STATE_BROKEN: return "Broken";
        case SYNC_STATE_FRACTURED: return "Fractured";
        default: return "Unknown";
    }
}
