// Values of the ElementType parameter of
// CIM_StorageConfigurationService.CreateOrModifyElementFromStoragePool.
#pragma once

#include <cstdint>

// CIM_StorageConfigurationService.CreateOrModifyElementFromStoragePool ElementType "StorageVolume".
constexpr uint16_t ELEMENT_TYPE_STORAGE_VOLUME = 2;
// CIM_StorageConfigurationService.CreateOrModifyElementFromStoragePool ElementType "ThinlyProvisionedStorageVolume".
constexpr uint16_t ELEMENT_TYPE_THIN_STORAGE_VOLUME = 5;
