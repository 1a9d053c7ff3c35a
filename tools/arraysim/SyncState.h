// IBMTSSVC_LocalStorageSynchronized.SyncState (CIM_StorageSynchronized.SyncState).
#pragma once
#include <cstdint>

namespace arraysim {
namespace SyncState {
constexpr uint16_t Initialized = 2;
constexpr uint16_t PrepareInProgress = 3;
constexpr uint16_t Prepared = 4;
constexpr uint16_t ResyncInProgress = 5;
constexpr uint16_t Synchronized = 6;
constexpr uint16_t FractureInProgress = 7;
constexpr uint16_t QuiesceInProgress = 8;
constexpr uint16_t Quiesced = 9;
constexpr uint16_t RestoreInProgress = 10;
constexpr uint16_t Idle = 11;
constexpr uint16_t Broken = 12;
constexpr uint16_t Fractured = 13;
}  // namespace SyncState
}  // namespace arraysim
