// Requests exactly as sblim-wbemcli sends them decode on the server side,
// and their CIMMethod/CIMObject headers match the bodies.
#include <gtest/gtest.h>

#include <map>

#include "CimTestSupport.h"
#include "cim/CimHttp.h"
#include "cim/CimRequestDecoder.h"

using namespace Pegasus;
using namespace Pegasus::cimxml;

namespace {

struct Capture {
    std::map<std::string, std::string> headers;
    CimRequest request;
};

Capture load(const char* name) {
    std::string raw = cimtest::readFile(cimtest::sharedPath(std::string("cim/captures/") + name));
    EXPECT_FALSE(raw.empty()) << name;
    size_t split = raw.find("\n\n");
    Capture c;
    std::string head = raw.substr(0, split);
    size_t pos = head.find('\n') + 1;  // after the request line
    while (pos < head.size()) {
        size_t end = std::min(head.find('\n', pos), head.size());
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        c.headers[line.substr(0, colon)] = line.substr(colon + 2);
        pos = end + 1;
    }
    c.request = decodeRequest(raw.substr(split + 2));
    EXPECT_TRUE(cimMethodHeaderMatches(c.request, c.headers["CIMMethod"])) << name;
    EXPECT_TRUE(cimObjectHeaderMatches(c.request, c.headers["CIMObject"])) << name;
    EXPECT_EQ(c.request.messageId, "4711");
    EXPECT_EQ(c.request.nameSpace.getString(), "root/ibm");
    return c;
}

const char* kVolume =
    "IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\",DeviceID=\"12\","
    "SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"0000020060C14A2C:0\"";

}  // namespace

TEST(Captures, IntrinsicOperations) {
    Capture ein = load("wbemcli-ein.http");
    EXPECT_TRUE(ein.request.intrinsic);
    EXPECT_EQ(ein.request.methodName, "EnumerateInstanceNames");
    EXPECT_TRUE(ein.request.classNameParam("ClassName") == "IBMTSSVC_StorageVolume");

    Capture ei = load("wbemcli-ei.http");
    EXPECT_TRUE(ei.request.classNameParam("ClassName") == "CIM_StorageVolume");
    EXPECT_TRUE(ei.request.booleanParam("DeepInheritance", false));
    EXPECT_FALSE(ei.request.booleanParam("LocalOnly", true));
    EXPECT_TRUE(ei.request.booleanParam("IncludeClassOrigin", false));
    CIMPropertyList props = ei.request.propertyListParam();
    ASSERT_EQ(props.size(), 2u);
    EXPECT_TRUE(props[0] == "Name" && props[1] == "ElementName");

    Capture gi = load("wbemcli-gi.http");
    EXPECT_TRUE(gi.request.instanceNameParam("InstanceName").identical(CIMObjectPath(kVolume)));
    EXPECT_TRUE(gi.request.propertyListParam().isNull());

    Capture ain = load("wbemcli-ain.http");
    EXPECT_TRUE(ain.request.instanceNameParam("ObjectName").identical(CIMObjectPath(kVolume)));
    EXPECT_TRUE(ain.request.classNameParam("AssocClass") == "CIM_AllocatedFromStoragePool");
    EXPECT_TRUE(ain.request.classNameParam("ResultClass") == "CIM_StoragePool");
    EXPECT_EQ(ain.request.stringParam("Role"), "");

    Capture rin = load("wbemcli-rin.http");
    EXPECT_EQ(rin.request.methodName, "ReferenceNames");
    EXPECT_TRUE(rin.request.classNameParam("ResultClass") == "CIM_StorageSynchronized");
}

TEST(Captures, GetClassThenUntypedMethodCall) {
    Capture gc = load("wbemcli-cm-1-getclass.http");
    EXPECT_EQ(gc.request.methodName, "GetClass");
    EXPECT_TRUE(gc.request.classNameParam("ClassName") == "IBMTSSVC_StorageConfigurationService");
    EXPECT_TRUE(gc.request.booleanParam("IncludeQualifiers", false));

    Capture cm = load("wbemcli-cm-2-createsynchronizedset.http");
    EXPECT_FALSE(cm.request.intrinsic);
    EXPECT_EQ(cm.request.methodName, "CreateSynchronizedSet");
    EXPECT_EQ(cm.request.target.getClassName().getString(), "IBMTSSVC_StorageConfigurationService");
    EXPECT_EQ(cm.request.target.getKeyBindings().size(), 4u);
    ASSERT_EQ(cm.request.params.size(), 2u);
    const CimRequestParam& copyType = cm.request.params[1];
    EXPECT_EQ(copyType.name, "CopyType");
    EXPECT_FALSE(copyType.isTyped());
    EXPECT_EQ(copyType.kind, CimRequestParam::VALUE);
    EXPECT_EQ(copyType.value.getType(), CIMTYPE_STRING);
    EXPECT_EQ(copyType.value.toString(), "4");
    EXPECT_EQ(cm.request.params[0].value.toString(), "cg1");
}

TEST(Captures, HeadersThatDoNotMatchTheBody) {
    Capture cm = load("wbemcli-cm-2-createsynchronizedset.http");
    EXPECT_FALSE(cimMethodHeaderMatches(cm.request, "DeleteSynchronizedSet"));
    EXPECT_FALSE(cimObjectHeaderMatches(cm.request, "root%2Fibm"));
    EXPECT_TRUE(cimObjectHeaderMatches(
        cm.request, "root/ibm:IBMTSSVC_StorageConfigurationService.SystemName=\"0000020060C14A2C\","
                    "Name=\"StorageConfigurationService\",SystemCreationClassName=\"IBMTSSVC_Cluster\","
                    "CreationClassName=\"IBMTSSVC_StorageConfigurationService\""));
    Capture ei = load("wbemcli-ei.http");
    EXPECT_TRUE(cimObjectHeaderMatches(ei.request, "root/ibm"));
    EXPECT_FALSE(cimObjectHeaderMatches(ei.request, "root%2Fcimv2"));
    EXPECT_EQ(percentEncode("root/ibm:C.K=\"a b\"\r\n"), "root%2Fibm%3AC.K%3D%22a%20b%22%0D%0A");
    EXPECT_EQ(percentDecode("a%2fb%zz%4"), "a/b%zz%4");
}
