#include "IBMSVCErrorMap.h"

// vendorCode, smisCode, hostCode (-1: none), message. 640002 keeps its SMI-S
// code as host code.
const ZQ_SMIS_SNAP::ZQ_SMIS_ERROR_MAP IBMSVCSmisZqErrorMap[] = {
    {1, 1, -1, "SMIS internal error"},
    {3, 3, 60541, "SMIS Provider connection timeout"},
    {4, 4, -1, "SMIS method failed"},
    {5, 5, 60540, "Invalid Parameter for SMIS method"},
    {4096, 4096, 4096, "Background Job started"},
    {640001, 650006, 60551, "Failed, host mappings found"},
    {640002, 650007, 650007, "Mapping not found"},
    {640003, 650008, 60542, "Volume not found in SMIS provider"},
    {640008, 650009, -1, "Insufficient parameters to proceed with SMIS method"},
    {640009, 650015, -1, "Supplied parameter for SMIS method not found in provider repository"},
    {37247, 650010, 60543, "Max number of snapshots exceeded for the source volume"},
    {640004, 650011, 60553, "Clone volume creation failed"},
    {640005, 650012, 60554, "Clone attach for replica failed"},
    {640006, 650013, 60552, "Disk group not found for snap/clone operation"},
    {640007, 650014, 60555, "CIMOM authentication failure, wrong credentials provided"},
    {0, 0, 0, "Success"},
};
