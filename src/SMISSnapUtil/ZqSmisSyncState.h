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
