// Return values of SMI-S extrinsic methods as the engine meets them, and the
// engine's own SMI-S result codes.
#pragma once

#include <cstdint>

// Return value of every SMI-S extrinsic method (CIM_StorageConfigurationService,
// CIM_ControllerConfigurationService, CIM_ReplicationService methods).
constexpr uint32_t SMIS_RET_SUCCESS = 0;               // Completed with No Error
constexpr uint32_t SMIS_RET_NOT_SUPPORTED = 1;         // Not Supported
constexpr uint32_t SMIS_RET_FAILED = 4;                // Failed
constexpr uint32_t SMIS_RET_INVALID_PARAMETER = 5;     // Invalid Parameter
constexpr uint32_t SMIS_RET_JOB_STARTED = 4096;        // Method Parameters Checked - Job Started
// IBM SVC CIM_StorageConfigurationService.CreateOrModifyElementFromStoragePool
// return value: a volume of that name exists.
constexpr uint32_t SMIS_RET_SVC_VOLUME_NAME_EXISTS = 32775;
// CIM_ControllerConfigurationService.ExposePaths return value: invalid initiator.
constexpr uint32_t SMIS_RET_EXPOSE_INVALID_INITIATOR = 4098;

// Engine SMI-S codes (keys of the IBM SVC error map).
constexpr int ZQ_SMIS_HOST_MAPPINGS_FOUND = 650006;    // "Failed, host mappings found"
constexpr int ZQ_SMIS_MAPPING_NOT_FOUND = 650007;      // "Mapping not found"
constexpr int ZQ_SMIS_VOLUME_NOT_FOUND = 650008;       // "Volume not found in SMIS provider"
constexpr int ZQ_SMIS_INSUFFICIENT_PARAMS = 650009;    // "Insufficient parameters to proceed with SMIS method"
constexpr int ZQ_SMIS_OBJECT_NOT_FOUND = 650015;       // "Supplied parameter for SMIS method not found in provider repository"

// Host error code of a provider login refused with the given credentials.
constexpr int ZQ_HOST_ERR_CIMOM_AUTHENTICATION = 60555;
constexpr const char* ZQ_CIMOM_AUTHENTICATION_TEXT = "CIMOM authentication failure, wrong credentials provided";

// GetRetVal's answer for a value that is not a 32-bit number or a decimal text.
constexpr int ZQ_SMIS_RETVAL_UNREADABLE = 99999;
