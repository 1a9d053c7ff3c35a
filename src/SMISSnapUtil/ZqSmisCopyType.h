// Values of the CopyType parameter of CIM_StorageConfigurationService
// CreateReplica and AttachReplica, and of CIM_StorageSynchronized.CopyType.
#pragma once

constexpr int COPY_TYPE_ASYNC = 2;            // CIM_StorageConfigurationService.CreateReplica CopyType "Async"
constexpr int COPY_TYPE_SYNC = 3;             // CIM_StorageConfigurationService.CreateReplica CopyType "Sync"
constexpr int COPY_TYPE_UNSYNC_ASSOC = 4;     // CIM_StorageConfigurationService.CreateReplica CopyType "UnSyncAssoc" (IBM SVC: FlashCopy mapping)
constexpr int COPY_TYPE_UNSYNC_UNASSOC = 5;   // CIM_StorageConfigurationService.CreateReplica CopyType "UnSyncUnAssoc" (IBM SVC AttachReplica: autodelete)
