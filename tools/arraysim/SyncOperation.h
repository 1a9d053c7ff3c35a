// "Operation" in-parameter values of the storage configuration service's
// ModifySynchronization and ModifySynchronizedSet methods.
#pragma once
#include <cstdint>

namespace arraysim {
// IBMTSSVC_StorageConfigurationService.ModifySynchronization(Operation).
namespace SyncOperation {
constexpr uint16_t DeleteMapping = 2;
constexpr uint16_t Start = 4;
constexpr uint16_t Prepare = 6;
constexpr uint16_t Stop = 8;
}  // namespace SyncOperation

// IBMTSSVC_StorageConfigurationService.ModifySynchronizedSet(Operation).
namespace SetOperation {
constexpr uint16_t AddMapping = 0;
constexpr uint16_t RemoveMapping = 1;
constexpr uint16_t Start = 4;
constexpr uint16_t Prepare = 6;
constexpr uint16_t Stop = 8;
}  // namespace SetOperation

// ExposePaths DeviceAccesses values.
namespace DeviceAccess {
constexpr uint16_t ReadWrite = 2;
constexpr uint16_t ReadOnly = 3;
constexpr uint16_t NoAccess = 4;
}  // namespace DeviceAccess
}  // namespace arraysim
