// CopyType of IBMTSSVC_LocalStorageSynchronized and of the AttachReplica,
// CreateReplica and CreateSynchronizedSet in-parameter "CopyType".
#pragma once
#include <cstdint>

namespace arraysim {
namespace CopyType {
constexpr uint16_t Async = 2;
constexpr uint16_t Sync = 3;
constexpr uint16_t UnSyncAssoc = 4;    // AttachReplica: normal FlashCopy mapping
constexpr uint16_t UnSyncUnAssoc = 5;  // AttachReplica: mapping with autodelete
}  // namespace CopyType

// IBMTSSVC_StorageReplicationCapabilities.SupportedSynchronizationType.
namespace SupportedSynchronizationType {
constexpr uint16_t UnSyncUnAssoc = 6;
constexpr uint16_t UnSyncAssocFull = 8;
}  // namespace SupportedSynchronizationType

// IBMTSSVC_LocalStorageSynchronized.SyncType.
namespace SyncType {
constexpr uint16_t Snapshot = 7;
constexpr uint16_t Clone = 8;
}  // namespace SyncType
}  // namespace arraysim
