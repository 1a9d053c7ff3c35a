#include <gtest/gtest.h>

#include <set>

#include "ZqSmisErrorMap.h"
#include "ZqSmisErrorTable.h"

using ZQ_SMIS_SNAP::GetVendorSmisErrorCode;
using ZQ_SMIS_SNAP::GetZqSmisErrorCode;
using ZQ_SMIS_SNAP::ZQ_SMIS_ERROR_MAP;

namespace {

const std::string kNotFound = "Error code not found!";
const std::string kMethodSpecific = "SMI-S Method specific error code..";

const ErrorTable kTable[] = {
    {10, "plain text"},
    {11, "*Alpha:first,Beta:second part, with a comma,default:"},
    {12, "*Alpha:runs to the end"},
    {13, "*Alpha:,default:fallback"},
    {0, "end record"},
    {14, "after the end"},
};

TEST(ErrorMessage, PlainAndMethodSpecificRows) {
    EXPECT_EQ(GetErrorMessage(kTable, 10, "Alpha"), "plain text");
    EXPECT_EQ(GetErrorMessage(kTable, 11, "Alpha"), "first");
    EXPECT_EQ(GetErrorMessage(kTable, 11, "Beta"), "second part");
    EXPECT_EQ(GetErrorMessage(kTable, 11, "default"), kMethodSpecific);
    EXPECT_EQ(GetErrorMessage(kTable, 11, "Gamma"), kNotFound);
    EXPECT_EQ(GetErrorMessage(kTable, 12, "Alpha"), "runs to the end");
    EXPECT_EQ(GetErrorMessage(kTable, 12, "default"), kNotFound);
    EXPECT_EQ(GetErrorMessage(kTable, 13, "Alpha"), kMethodSpecific);
    EXPECT_EQ(GetErrorMessage(kTable, 13, "default"), "fallback");
    // A name that ends at the end of the text, or right before a comma.
    EXPECT_EQ(GetErrorMessage(kTable, 12, "end"), kMethodSpecific);
    EXPECT_EQ(GetErrorMessage(kTable, 11, "comma"), kMethodSpecific);
    EXPECT_EQ(GetErrorMessage(kTable, 11, "first"), kMethodSpecific);
}

TEST(ErrorMessage, UnknownCodesAndTheEndRecordNeverMatch) {
    EXPECT_EQ(GetErrorMessage(kTable, 0, "Alpha"), kNotFound);
    EXPECT_EQ(GetErrorMessage(kTable, 14, "Alpha"), kNotFound);
    EXPECT_EQ(GetErrorMessage(kTable, 99, "Alpha"), kNotFound);
    EXPECT_EQ(GetErrorMessage(nullptr, 10, "Alpha"), kNotFound);
}

TEST(ErrorMessage, ProviderTable) {
    EXPECT_EQ(GetErrorMessage(ETable, 4096, "anything"), "Parameter Checked - Job Started");
    EXPECT_EQ(GetErrorMessage(ETable, 32775, "default"), kMethodSpecific);
    EXPECT_EQ(GetErrorMessage(ETable, 32773, "default"), "Syntax Error in ClusterIP");
    EXPECT_EQ(GetErrorMessage(ETable, 32773, "CreateReplica"), kNotFound);
    EXPECT_EQ(GetErrorMessage(ETable, 32790, "CreateOrModifyElementFromStoragePool"),
              "Cannot Modify Storage volume RealiSizePercent");
    EXPECT_EQ(GetErrorMessage(ETable, 0, "default"), kNotFound);
    EXPECT_EQ(GetErrorMessage(ETable, 3, "default"), kNotFound);
    // Provider codes without a known message name the code, not a meaning.
    EXPECT_EQ(GetErrorMessage(ETable, 36865, "default"), "IBM SVC provider error 36865");

    std::set<uint32_t> codes;
    size_t count = 0;
    for (const ErrorTable* row = ETable; row->code != 0; ++row, ++count) {
        EXPECT_NE(row->message, nullptr);
        codes.insert(row->code);
    }
    EXPECT_EQ(codes.size(), count) << "codes are unique";
}

const ZQ_SMIS_ERROR_MAP kMap[] = {
    {100, 200, 300, "first"},
    {101, 201, -1, "no host code"},
    {102, 200, 301, "same SMI-S code, later row"},
    {0, 0, 0, "Success"},
    {103, 203, 303, "after the end"},
};

TEST(ErrorMap, SmisCodeToHostCode) {
    EXPECT_EQ(GetZqSmisErrorCode(kMap, 200), 300);
    EXPECT_EQ(GetZqSmisErrorCode(kMap, 201), -1);
    EXPECT_EQ(GetZqSmisErrorCode(kMap, 0), -1);
    EXPECT_EQ(GetZqSmisErrorCode(kMap, 203), -1);
    EXPECT_EQ(GetZqSmisErrorCode(kMap, 999), -1);
    EXPECT_EQ(GetZqSmisErrorCode(nullptr, 200), -1);
}

TEST(ErrorMap, VendorCodeToSmisCode) {
    std::string message = "stale";
    EXPECT_EQ(GetVendorSmisErrorCode(kMap, 102, &message), 200);
    EXPECT_EQ(message, "same SMI-S code, later row");
    EXPECT_EQ(GetVendorSmisErrorCode(kMap, 101, nullptr), 201);
    for (int unknown : {0, 103, 999}) {
        message = "stale";
        EXPECT_EQ(GetVendorSmisErrorCode(kMap, unknown, &message), -1) << unknown;
        EXPECT_EQ(message, "") << unknown;
    }
    message = "stale";
    EXPECT_EQ(GetVendorSmisErrorCode(nullptr, 100, &message), -1);
    EXPECT_EQ(message, "");
}

}  // namespace
