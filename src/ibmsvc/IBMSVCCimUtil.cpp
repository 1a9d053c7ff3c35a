#include "IBMSVCCimUtil.h"

#include <iterator>

std::string IBMSVCCimUtil::GetOperationalStatusMessage(int value) {
    // Indexed by the CIM_ManagedSystemElement.OperationalStatus value.
    static const char* const kTexts[] = {
        "UNKNOWN",  // 0
        "OTHER (for formatting)",  // 1
        "OK (Online)",  // 2
        "DEGRADED",  // 3
        "STRESSED",  // 4
        "PREDICTIVE FAILURE",  // 5
        "ERROR",  // 6
        "NON-RECOVERABLE ERROR",  // 7
        "STARTING",  // 8
        "STOPPING",  // 9
        "STOPPED (Offline)",  // 10
        "IN SERVICE",  // 11
        "NO CONTACT",  // 12
        "LOST COMMUNICATION",  // 13
        "ABORTED",  // 14
        "DORMANT",  // 15
        "SUPPORTING ENTITY IN ERROR",  // 16
        "COMPLETED",  // 17
        "POWER MODE",  // 18
    };
    if (value < 0 || value >= static_cast<int>(std::size(kTexts))) return "INVALID STATUS";
    return kTexts[value];
}
