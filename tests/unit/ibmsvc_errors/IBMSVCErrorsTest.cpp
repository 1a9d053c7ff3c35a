#include <gtest/gtest.h>

#include <climits>

#include "IBMSVCCimUtil.h"
#include "IBMSVCErrorMap.h"

using ZQ_SMIS_SNAP::GetVendorSmisErrorCode;
using ZQ_SMIS_SNAP::GetZqSmisErrorCode;

namespace {

TEST(IBMSVCErrorMap, Lookups) {
    EXPECT_EQ(GetZqSmisErrorCode(IBMSVCSmisZqErrorMap, 650010), 60543);
    EXPECT_EQ(GetZqSmisErrorCode(IBMSVCSmisZqErrorMap, 3), 60541);
    EXPECT_EQ(GetZqSmisErrorCode(IBMSVCSmisZqErrorMap, 650007), 650007);
    EXPECT_EQ(GetZqSmisErrorCode(IBMSVCSmisZqErrorMap, 4), -1);
    EXPECT_EQ(GetZqSmisErrorCode(IBMSVCSmisZqErrorMap, 0), -1);
    // Host codes passed directly as error codes are not SMI-S codes.
    EXPECT_EQ(GetZqSmisErrorCode(IBMSVCSmisZqErrorMap, 60542), -1);

    std::string message;
    EXPECT_EQ(GetVendorSmisErrorCode(IBMSVCSmisZqErrorMap, 37247, &message), 650010);
    EXPECT_EQ(message, "Max number of snapshots exceeded for the source volume");
    EXPECT_EQ(GetVendorSmisErrorCode(IBMSVCSmisZqErrorMap, 0, &message), -1);
    EXPECT_EQ(message, "");
}

TEST(IBMSVCCimUtil, OperationalStatusTexts) {
    EXPECT_EQ(IBMSVCCimUtil::GetOperationalStatusMessage(0), "UNKNOWN");
    EXPECT_EQ(IBMSVCCimUtil::GetOperationalStatusMessage(2), "OK (Online)");
    EXPECT_EQ(IBMSVCCimUtil::GetOperationalStatusMessage(18), "POWER MODE");
    for (int value : {19, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(IBMSVCCimUtil::GetOperationalStatusMessage(value), "INVALID STATUS") << value;
}

}  // namespace
