// IBM SVC specifics of the CIM query utilities.
#pragma once

#include <string>

class IBMSVCCimUtil {
public:
    // Text of a CIM "OperationalStatus" value; "INVALID STATUS" outside 0 to 18.
    static std::string GetOperationalStatusMessage(int value);
};
