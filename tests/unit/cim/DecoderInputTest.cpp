// Answers written by hand as other servers write them, and input that is
// broken in every way the decoders must survive.
#include <gtest/gtest.h>

#include "cim/CimRequestDecoder.h"
#include "cim/CimResponseDecoder.h"

using namespace Pegasus;
using namespace Pegasus::cimxml;

namespace {

std::string envelope(const std::string& response, const char* id = "7") {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n"
                       "  <MESSAGE ID=\"") + id + "\" PROTOCOLVERSION=\"1.0\">\n    <SIMPLERSP>\n" + response +
           "\n    </SIMPLERSP>\n  </MESSAGE>\n</CIM>\n";
}

std::string enumAnswer(const std::string& items) {
    return envelope("<IMETHODRESPONSE NAME=\"EnumerateInstances\">\n<IRETURNVALUE>\n" + items +
                    "\n</IRETURNVALUE>\n</IMETHODRESPONSE>");
}

const char* kNamedVolume = R"(
<VALUE.NAMEDINSTANCE>
  <INSTANCENAME CLASSNAME="IBMTSSVC_StorageVolume">
    <KEYBINDING NAME="DeviceID"><KEYVALUE>12</KEYVALUE></KEYBINDING>
    <KEYBINDING NAME="SystemName"><KEYVALUE VALUETYPE="string" TYPE="string">0000020060C14A2C:0</KEYVALUE></KEYBINDING>
    <KEYBINDING NAME="Index"><KEYVALUE VALUETYPE="numeric"> 7 </KEYVALUE></KEYBINDING>
  </INSTANCENAME>
  <INSTANCE CLASSNAME="IBMTSSVC_StorageVolume">
    <PROPERTY NAME="ElementName" TYPE="string" CLASSORIGIN="CIM_ManagedElement" PROPAGATED="true">
      <QUALIFIER NAME="Description" TYPE="string"><VALUE>name</VALUE></QUALIFIER>
      <VALUE>a &amp; b &#x41;<![CDATA[<raw>]]></VALUE>
    </PROPERTY>
    <PROPERTY NAME="Blank" TYPE="string"><VALUE> </VALUE></PROPERTY>
    <PROPERTY NAME="Empty" TYPE="string"><VALUE></VALUE></PROPERTY>
    <PROPERTY NAME="Missing" TYPE="string"></PROPERTY>
    <PROPERTY NAME="IsThin" TYPE="boolean"><VALUE>true</VALUE></PROPERTY>
    <PROPERTY.ARRAY NAME="OperationalStatus" TYPE="uint16">
      <VALUE.ARRAY><VALUE>2</VALUE><VALUE.NULL/><VALUE>32768</VALUE></VALUE.ARRAY>
    </PROPERTY.ARRAY>
    <PROPERTY.REFERENCE NAME="Pool" REFERENCECLASS="CIM_StoragePool">
      <VALUE.REFERENCE><LOCALINSTANCEPATH>
        <LOCALNAMESPACEPATH><NAMESPACE NAME="root"/><NAMESPACE NAME="ibm"/></LOCALNAMESPACEPATH>
        <INSTANCENAME CLASSNAME="IBMTSSVC_StoragePool"><KEYBINDING NAME="InstanceID"><KEYVALUE>P0</KEYVALUE></KEYBINDING></INSTANCENAME>
      </LOCALINSTANCEPATH></VALUE.REFERENCE>
    </PROPERTY.REFERENCE>
  </INSTANCE>
</VALUE.NAMEDINSTANCE>)";

template <class Decode>
std::string failureOf(Decode decode) {
    try {
        decode();
    } catch (const CIMClientXmlException& e) {
        return "xml: " + e.getMessage().toStdString();
    } catch (const CIMClientResponseException& e) {
        return "response: " + e.getMessage().toStdString();
    } catch (const CIMException& e) {
        return "cim: " + e.getMessage().toStdString();
    }
    return "decoded";
}

std::string enumFailure(std::string body, const char* id = "7") {
    return failureOf([&] { decodeEnumerateInstancesResponse(body, id); });
}

}  // namespace

TEST(HandWrittenAnswers, EnumerateInstancesAsAProviderWritesIt) {
    std::string body = enumAnswer(kNamedVolume);
    Array<CIMInstance> got = decodeEnumerateInstancesResponse(body, "7");
    ASSERT_EQ(got.size(), 1u);
    CIMInstance v = got[0];
    EXPECT_EQ(v.getPath().toString(),
              "IBMTSSVC_StorageVolume.DeviceID=\"12\",Index=7,SystemName=\"0000020060C14A2C:0\"");
    auto value = [&](const char* name) { return v.getProperty(v.findProperty(name)).getValue(); };
    EXPECT_EQ(value("ElementName").toString(), "a & b A<raw>");
    EXPECT_EQ(v.getProperty(0).getClassOrigin().getString(), "CIM_ManagedElement");
    EXPECT_TRUE(v.getProperty(0).getPropagated());
    EXPECT_EQ(value("Blank").toString(), " ");
    EXPECT_FALSE(value("Empty").isNull());
    EXPECT_EQ(value("Empty").toString(), "");
    EXPECT_TRUE(value("Missing").isNull());
    EXPECT_EQ(value("IsThin").toString(), "TRUE");
    EXPECT_EQ(value("OperationalStatus").toString(), "2 0 32768");
    EXPECT_EQ(value("Pool").getType(), CIMTYPE_REFERENCE);
    EXPECT_EQ(value("Pool").toString(), "root/ibm:IBMTSSVC_StoragePool.InstanceID=\"P0\"");
}

TEST(HandWrittenAnswers, MethodAnswerWithJobAndUntypedParameter) {
    std::string body = envelope(R"(<METHODRESPONSE NAME="CreateReplica">
  <RETURNVALUE PARAMTYPE="uint32"><VALUE>4096</VALUE></RETURNVALUE>
  <PARAMVALUE NAME="Job" PARAMTYPE="reference"><VALUE.REFERENCE><INSTANCEPATH>
    <NAMESPACEPATH><HOST>svc</HOST><LOCALNAMESPACEPATH><NAMESPACE NAME="root"/><NAMESPACE NAME="ibm"/></LOCALNAMESPACEPATH></NAMESPACEPATH>
    <INSTANCENAME CLASSNAME="IBMTSSVC_ConcreteJob"><KEYBINDING NAME="InstanceID"><KEYVALUE VALUETYPE="string">J"1</KEYVALUE></KEYBINDING></INSTANCENAME>
  </INSTANCEPATH></VALUE.REFERENCE></PARAMVALUE>
  <PARAMVALUE NAME="Info"><VALUE>42</VALUE></PARAMVALUE>
</METHODRESPONSE>)");
    Array<CIMParamValue> out;
    CIMValue ret = decodeMethodResponse(body, "7", "createreplica", out);
    Uint32 code = 0;
    ret.get(code);
    EXPECT_EQ(code, 4096u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].getValue().toString(), "//svc/root/ibm:IBMTSSVC_ConcreteJob.InstanceID=\"J\\\"1\"");
    EXPECT_FALSE(out[1].isTyped());
    EXPECT_EQ(out[1].getValue().getType(), CIMTYPE_STRING);
}

TEST(HandWrittenAnswers, ServerErrorsBecomeCimExceptionsWithoutTransportWords) {
    std::string body = envelope(R"(<IMETHODRESPONSE NAME="EnumerateInstances"><ERROR CODE="6" DESCRIPTION="HTTP backend timed out, http TIMED OUT"/></IMETHODRESPONSE>)");
    try {
        decodeEnumerateInstancesResponse(body, "7");
        FAIL() << "no exception";
    } catch (const CIMException& e) {
        std::string text = e.getMessage().toStdString();
        EXPECT_EQ(e.getCode(), CIM_ERR_NOT_FOUND);
        EXPECT_EQ(text.find("CIM_ERR_NOT_FOUND"), 0u) << text;
        EXPECT_EQ(text.find("HTTP"), std::string::npos) << text;
        EXPECT_EQ(text.find("timed out"), std::string::npos) << text;
        EXPECT_EQ(text.find("TIMED OUT"), std::string::npos) << text;
        EXPECT_NE(text.find("backend"), std::string::npos) << text;
    }
}

TEST(BrokenAnswers, EachFailsWithAClearTextThatSaysHttp) {
    std::string good = enumAnswer(kNamedVolume);
    std::string deepRef = "<VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\">";
    std::string nested;
    for (int i = 0; i < 100; ++i) nested += deepRef;
    std::string deepAny(200000 * 3, ' ');
    for (size_t i = 0; i < 200000; ++i) deepAny.replace(i * 3, 3, "<a>");
    const std::pair<std::string, std::string> cases[] = {
        {"", "xml: Malformed HTTP response: not well-formed"},
        {good.substr(0, good.size() / 2), "xml: Malformed HTTP response: not well-formed"},
        {"HTTP/1.1 200 OK\r\n\r\n<html/>", "xml: Malformed HTTP response: not well-formed"},
        {"<html><body>proxy error</body></html>", "xml: Malformed HTTP response: expected CIM, found html"},
        {enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"/><INSTANCE CLASSNAME=\"C\">"
                    "<PROPERTY NAME=\"P\" TYPE=\"uint128\"><VALUE>1</VALUE></PROPERTY></INSTANCE></VALUE.NAMEDINSTANCE>"),
         "xml: Malformed HTTP response: unknown CIM type \"uint128\""},
        {enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"/><INSTANCE CLASSNAME=\"C\">"
                    "<PROPERTY NAME=\"P\" TYPE=\"uint8\"><VALUE>300</VALUE></PROPERTY></INSTANCE></VALUE.NAMEDINSTANCE>"),
         "xml: Malformed HTTP response: value \"300\" is not a valid uint8"},
        {envelope("<IMETHODRESPONSE NAME=\"EnumerateInstances\"/>"),
         "xml: Malformed HTTP response: missing IRETURNVALUE"},
        {envelope("<IMETHODRESPONSE NAME=\"GetInstance\"><IRETURNVALUE/></IMETHODRESPONSE>"),
         "response: HTTP response is for \"GetInstance\""},
        {enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"" + std::string(10 << 20, 'x') +
                    "!\"/></VALUE.NAMEDINSTANCE>"),
         "xml: Malformed HTTP response: \"xxxx"},
        {enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\">" + nested),
         "xml: Malformed HTTP response: not well-formed"},
        {enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\">" + nested +
                    "</KEYBINDING></INSTANCENAME></VALUE.REFERENCE>" + std::string() ),
         "xml: Malformed HTTP response: not well-formed"},
        {enumAnswer(deepAny), "xml: Malformed HTTP response: not well-formed"},
    };
    for (const auto& c : cases) {
        std::string failure = enumFailure(c.first);
        EXPECT_EQ(failure.find(c.second), 0u) << failure.substr(0, 300);
        EXPECT_NE(failure.find("HTTP"), std::string::npos);
        EXPECT_LT(failure.size(), 1000u);
    }
    EXPECT_EQ(enumFailure(good, "8").find("response: HTTP response message ID \"7\" does not match"), 0u);
}

TEST(BrokenAnswers, ReferencesNestedTooDeeplyAreRefused) {
    std::string open, close;
    for (int i = 0; i < 60; ++i) {
        open += "<VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\">";
        close = "</KEYBINDING></INSTANCENAME></VALUE.REFERENCE>" + close;
    }
    std::string doc = enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"K\">" + open +
                                 "<KEYVALUE>1</KEYVALUE>" + close +
                                 "</KEYBINDING></INSTANCENAME><INSTANCE CLASSNAME=\"C\"/></VALUE.NAMEDINSTANCE>");
    EXPECT_EQ(enumFailure(doc).find("xml: Malformed HTTP response: elements nested too deeply"), 0u);
}

TEST(BrokenRequests, KindsTheServerAnswersDifferently) {
    auto kindOf = [](const std::string& body) {
        try {
            decodeRequest(body);
        } catch (const CimRequestError& e) {
            return std::make_pair(int(e.kind()), e);
        }
        return std::make_pair(-1, CimRequestError(CimRequestError::NOT_VALID, ""));
    };
    auto request = [](const char* version, const std::string& call) {
        return std::string("<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"5\" PROTOCOLVERSION=\"") + version +
               "\">" + call + "</MESSAGE></CIM>";
    };
    const char* ns = "<LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH>";
    EXPECT_EQ(kindOf("<CIM").first, CimRequestError::NOT_WELL_FORMED);
    EXPECT_EQ(kindOf(request("1.0", "<SIMPLEREQ><IMETHODCALL NAME=\"GetClass\"/></SIMPLEREQ>")).first,
              CimRequestError::NOT_VALID);
    auto v2 = kindOf(request("2.0", "<SIMPLEREQ/>"));
    EXPECT_EQ(v2.first, CimRequestError::UNSUPPORTED_PROTOCOL_VERSION);
    EXPECT_EQ(v2.second.httpStatus(), 501u);
    EXPECT_EQ(kindOf(request("1.0", "<MULTIREQ/>")).first, CimRequestError::MULTIPLE_REQUESTS_UNSUPPORTED);
    auto bad = kindOf(request("1.0", std::string("<SIMPLEREQ><METHODCALL NAME=\"Go\"><LOCALCLASSPATH>") + ns +
                                         "<CLASSNAME NAME=\"C\"/></LOCALCLASSPATH><PARAMVALUE NAME=\"N\" "
                                         "PARAMTYPE=\"uint16\"><VALUE>70000</VALUE></PARAMVALUE></METHODCALL></SIMPLEREQ>"));
    EXPECT_EQ(bad.first, CimRequestError::INVALID_PARAMETER);
    EXPECT_EQ(bad.second.messageId, "5");
    EXPECT_EQ(bad.second.methodName, "Go");
    EXPECT_FALSE(bad.second.intrinsic);
    EXPECT_EQ(std::string(kindOf("<CIM").second.cimErrorHeader()), "request-not-well-formed");
}
