// The IBM SVC provider's return values as engine SMI-S and host error codes.
#pragma once

#include "ZqSmisErrorMap.h"

extern const ZQ_SMIS_SNAP::ZQ_SMIS_ERROR_MAP IBMSVCSmisZqErrorMap[];
