// Return values (uint32) of the extrinsic methods of IBMTSSVC_StorageConfigurationService,
// IBMTSSVC_ControllerConfigurationService and IBMTSSVC_LocalStorageSynchronized.
// Generic SMI-S values first, then the cluster's own codes. MODEL.md lists each
// with the rule that answers it.
#pragma once
#include <cstdint>

namespace arraysim {
namespace Rc {
constexpr uint32_t Ok = 0;
constexpr uint32_t NotSupported = 1;
constexpr uint32_t Failed = 4;
constexpr uint32_t InvalidParameter = 5;
constexpr uint32_t NotInSet = 7;
constexpr uint32_t AlreadyInSet = 8;
constexpr uint32_t JobStarted = 4096;
// A FlashCopy limit (mappings of a source, of the cluster, of a connected
// set) refuses a new mapping with the generic failure: no provider code for
// these limits is documented.
constexpr uint32_t FlashCopyLimit = Failed;

// CreateOrModifyElementFromStoragePool
constexpr uint32_t SizeNotSupported = 4097;
constexpr uint32_t CopyTypeNotSupported = 32768;  // CreateReplica
constexpr uint32_t InvalidGoal = 32770;
constexpr uint32_t InvalidPool = 32771;
constexpr uint32_t VolumeNameExists = 32775;
constexpr uint32_t InvalidIoGroup = 32777;
constexpr uint32_t InvalidNode = 32778;
constexpr uint32_t ModifyNotSupported = 32791;

// ExposePaths / HidePaths (generic masking values)
constexpr uint32_t InvalidLogicalUnit = 4097;
constexpr uint32_t InvalidInitiator = 4098;
constexpr uint32_t InvalidTarget = 4099;

// Cluster codes
constexpr uint32_t ObjectNameExists = 37137;
constexpr uint32_t InvalidObjectName = 37140;
constexpr uint32_t VolumeInUse = 38159;
constexpr uint32_t HostPortInUse = 38561;
constexpr uint32_t ScsiIdInUse = 38562;
constexpr uint32_t AlreadyMappedToHost = 38564;
constexpr uint32_t NotMappedToHost = 38565;
constexpr uint32_t MappedToOtherHost = 38566;
constexpr uint32_t MappingExists = 38657;
constexpr uint32_t GroupExists = 38667;
constexpr uint32_t GroupNotValid = 38669;
constexpr uint32_t GroupNotEmpty = 38670;
constexpr uint32_t MappingInGroup = 38816;
constexpr uint32_t PrepareWrongState = 38817;
constexpr uint32_t StartWhilePreparing = 38818;
constexpr uint32_t AlreadyCopying = 38819;
constexpr uint32_t StopWrongState = 38820;
constexpr uint32_t MappingActive = 38821;
constexpr uint32_t RestoreRequired = 38822;
constexpr uint32_t GroupMemberWrongState = 38823;
constexpr uint32_t MappingInOtherGroup = 38824;
constexpr uint32_t StartNotPrepared = 38825;
constexpr uint32_t SizeMismatch = 38844;
constexpr uint32_t RateOutOfRange = 38845;
constexpr uint32_t InvalidGrainSize = 38846;
constexpr uint32_t GroupFull = 38849;
constexpr uint32_t SourceNeededByOtherMaps = 38851;
constexpr uint32_t GroupEmpty = 39431;
}  // namespace Rc
}  // namespace arraysim
