// Values of the Operation in-parameter of the storage configuration
// service's ModifySynchronization and ModifySynchronizedSet methods.
#pragma once

// CIM_StorageConfigurationService.ModifySynchronization Operation: detach (IBM SVC: delete the FlashCopy mapping).
constexpr int SYNC_OP_DETACH = 2;
// CIM_StorageConfigurationService.ModifySynchronization Operation: resync (IBM SVC: start the mapping).
constexpr int SYNC_OP_RESYNC = 4;
// CIM_StorageConfigurationService.ModifySynchronization Operation: prepare the FlashCopy mapping (IBM SVC).
constexpr int SYNC_OP_PREPARE = 6;
// CIM_StorageConfigurationService.ModifySynchronization Operation: stop the FlashCopy mapping (IBM SVC).
constexpr int SYNC_OP_STOP = 8;
// CIM_StorageConfigurationService.ModifySynchronization Operation 0x8001, an IBM SVC vendor value sent with "Force".
constexpr int SYNC_OP_IBMSVC_0X8001 = 32769;

// CIM_StorageConfigurationService.ModifySynchronizedSet Operation: add a mapping to the set (IBM SVC).
constexpr int SET_OP_ADD = 0;
// CIM_StorageConfigurationService.ModifySynchronizedSet Operation: remove a mapping from the set (IBM SVC).
constexpr int SET_OP_REMOVE = 1;
// CIM_StorageConfigurationService.ModifySynchronizedSet Operation: start the consistency group (IBM SVC).
constexpr int SET_OP_START = 4;
// CIM_StorageConfigurationService.ModifySynchronizedSet Operation: prepare the consistency group (IBM SVC).
constexpr int SET_OP_PREPARE = 6;
// CIM_StorageConfigurationService.ModifySynchronizedSet Operation: stop the consistency group (IBM SVC).
constexpr int SET_OP_STOP = 8;
