#include <gtest/gtest.h>

#include "ClassCatalog.h"
#include "MethodArgs.h"
#include "SimTestUtil.h"

using namespace simtest;

namespace {
const MethodDecl& attachDecl() {
    return *ClassCatalog::instance().method("IBMTSSVC_StorageConfigurationService", "AttachReplica");
}

void expectInvalid(const std::vector<SimParam>& params, const std::string& why) {
    try {
        MethodArgs args(attachDecl(), params);
        ADD_FAILURE() << why << ": accepted";
    } catch (const CimError& e) {
        EXPECT_EQ(e.code(), CimStatus::InvalidParameter) << why;
    }
}
}  // namespace

TEST(MethodArgs, AnyIntegerTypeThatFitsAndCaseInsensitiveNames) {
    MethodArgs args(attachDecl(), {uintParam("cleanrate", 50, "sint32"), uintParam("COPYTYPE", 4, "uint64"),
                                   {"Incremental", "", SimValue::str("true")},
                                   {"BackgroundCopyRate", "", SimValue::str("80")}});
    EXPECT_EQ(args.uint("CleanRate").value(), 50u);
    EXPECT_EQ(args.uint("CopyType").value(), 4u);
    EXPECT_TRUE(args.boolean("Incremental").value()) << "untyped values are read as the declared type";
    EXPECT_EQ(args.uint("BackgroundCopyRate").value(), 80u);
    EXPECT_FALSE(args.present("ElementName"));
}

TEST(MethodArgs, RefusesWhatDoesNotFitTheDeclaration) {
    expectInvalid({uintParam("CopyType", 70000, "uint32")}, "too large for uint16");
    expectInvalid({{"CleanRate", "sint32", SimValue::sint(SimType::Sint32, -1)}}, "negative for uint16");
    expectInvalid({uintParam("Colour", 1)}, "unknown parameter");
    expectInvalid({uintParam("CopyType", 4), uintParam("copytype", 5)}, "given twice");
    expectInvalid({strParam("SourceElement", "vol1")}, "string for a reference");
    expectInvalid({{"Incremental", "", SimValue::str("yes")}}, "not a boolean");
    expectInvalid({{"CopyType", "", SimValue::strArray({"4", "5"})}}, "array for a scalar");
    expectInvalid({{"CopyType", "real32", SimValue::str("4")}}, "real for an integer");
    expectInvalid({refParam("Job", SimPath{})}, "output parameter sent as input");
}

TEST(MethodArgs, RequiredParametersAndNullValues) {
    MethodArgs args(attachDecl(), {{"TargetElement", "reference", SimValue::null(SimType::Reference)}});
    EXPECT_FALSE(args.present("TargetElement"));
    EXPECT_THROW(args.require("TargetElement"), CimError);
    EXPECT_THROW(args.require("SourceElement"), CimError);
}
