// Answers written by hand as other servers write them, and input that is
// broken in every way the decoders must survive.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "cim/CimRequestDecoder.h"
#include "cim/CimResponseDecoder.h"
#include "cim/CimXmlReader.h"

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

TEST(HandWrittenAnswers, EnumerationsWithoutIReturnValueAreEmpty) {
    const std::pair<const char*, std::function<size_t(std::string&)>> operations[] = {
        {"EnumerateInstances", [](std::string& b) { return decodeEnumerateInstancesResponse(b, "7").size(); }},
        {"EnumerateInstanceNames", [](std::string& b) { return decodeEnumerateInstanceNamesResponse(b, "7").size(); }},
        {"AssociatorNames", [](std::string& b) { return decodeObjectPathsResponse(b, "7", "AssociatorNames").size(); }},
        {"ReferenceNames", [](std::string& b) { return decodeObjectPathsResponse(b, "7", "ReferenceNames").size(); }},
        {"Associators", [](std::string& b) { return decodeObjectsWithPathResponse(b, "7", "Associators").size(); }},
        {"References", [](std::string& b) { return decodeObjectsWithPathResponse(b, "7", "References").size(); }},
    };
    for (const auto& [operation, decode] : operations) {
        for (std::string form : {"<IMETHODRESPONSE NAME=\"%\"/>", "<IMETHODRESPONSE NAME=\"%\">\n  </IMETHODRESPONSE>"}) {
            std::string body = envelope(form.replace(form.find('%'), 1, operation));
            size_t count = 99;
            EXPECT_NO_THROW(count = decode(body)) << operation;
            EXPECT_EQ(count, 0u) << operation;
        }
    }
    // GetInstance and GetClass answer one object: without it the answer is broken
    for (const char* operation : {"GetInstance", "GetClass"}) {
        std::string failure = failureOf([&] {
            std::string body = envelope(std::string("<IMETHODRESPONSE NAME=\"") + operation + "\"/>");
            if (std::string(operation) == "GetClass")
                decodeGetClassResponse(body, "7");
            else
                decodeGetInstanceResponse(body, "7");
        });
        EXPECT_EQ(failure.find("xml: Malformed HTTP response: missing IRETURNVALUE"), 0u) << failure;
    }
}

TEST(HandWrittenAnswers, AssociatorsAndReferencesAreInstancesWithPaths) {
    const std::string path =
        "<INSTANCEPATH><NAMESPACEPATH><HOST>svc</HOST><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/><NAMESPACE "
        "NAME=\"ibm\"/></LOCALNAMESPACEPATH></NAMESPACEPATH><INSTANCENAME CLASSNAME=\"IBMTSSVC_StoragePool\">"
        "<KEYBINDING NAME=\"InstanceID\"><KEYVALUE>P0</KEYVALUE></KEYBINDING></INSTANCENAME></INSTANCEPATH>";
    const std::string pool = "<INSTANCE CLASSNAME=\"IBMTSSVC_StoragePool\"><PROPERTY NAME=\"ElementName\" "
                             "TYPE=\"string\"><VALUE>Pool0</VALUE></PROPERTY></INSTANCE>";
    std::string body = envelope("<IMETHODRESPONSE NAME=\"Associators\"><IRETURNVALUE><VALUE.OBJECTWITHPATH>" + path +
                                pool + "</VALUE.OBJECTWITHPATH></IRETURNVALUE></IMETHODRESPONSE>");
    Array<CIMInstance> got = decodeObjectsWithPathResponse(body, "7", "Associators");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].getPath().toString(), "//svc/root/ibm:IBMTSSVC_StoragePool.InstanceID=\"P0\"");
    EXPECT_EQ(got[0].getProperty(0).getValue().toString(), "Pool0");
    std::string classes = envelope(
        "<IMETHODRESPONSE NAME=\"References\"><IRETURNVALUE><VALUE.OBJECTWITHPATH><CLASSPATH><NAMESPACEPATH><HOST>h"
        "</HOST><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH></NAMESPACEPATH><CLASSNAME "
        "NAME=\"C\"/></CLASSPATH><CLASS NAME=\"C\"/></VALUE.OBJECTWITHPATH></IRETURNVALUE></IMETHODRESPONSE>");
    EXPECT_EQ(failureOf([&] { decodeObjectsWithPathResponse(classes, "7", "References"); })
                  .find("xml: Malformed HTTP response: a class in VALUE.OBJECTWITHPATH is not supported"),
              0u);
}

TEST(BrokenAnswers, DuplicateNamesAreMalformedAnswers) {
    auto classAnswer = [](const std::string& inside) {
        return envelope("<IMETHODRESPONSE NAME=\"GetClass\"><IRETURNVALUE><CLASS NAME=\"C\">" + inside +
                        "</CLASS></IRETURNVALUE></IMETHODRESPONSE>");
    };
    const std::string property = "<PROPERTY NAME=\"P\" TYPE=\"uint8\"/>";
    const std::string qualifier = "<QUALIFIER NAME=\"Key\" TYPE=\"boolean\"><VALUE>true</VALUE></QUALIFIER>";
    const std::string method = "<METHOD NAME=\"Go\" TYPE=\"uint32\"/>";
    for (const std::string& inside : std::vector<std::string>{
             property + property, method + method, qualifier + qualifier,
          "<PROPERTY NAME=\"P\" TYPE=\"uint8\">" + qualifier + qualifier + "</PROPERTY>",
          "<METHOD NAME=\"Go\" TYPE=\"uint32\"><PARAMETER NAME=\"A\" TYPE=\"uint8\"/><PARAMETER NAME=\"a\" "
          "TYPE=\"uint8\"/></METHOD>"}) {
        std::string body = classAnswer(inside);
        std::string failure = failureOf([&] { decodeGetClassResponse(body, "7"); });
        EXPECT_EQ(failure.find("xml: Malformed HTTP response: already exists: "), 0u) << failure;
    }
    std::string instance = enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"/><INSTANCE CLASSNAME=\"C\">" +
                                      qualifier + qualifier + "</INSTANCE></VALUE.NAMEDINSTANCE>");
    EXPECT_EQ(enumFailure(instance).find("xml: Malformed HTTP response: already exists: "), 0u);
}

TEST(BrokenAnswers, DeepDocumentsAreRefusedWithoutRecursion) {
    constexpr int kLevels = 1000000;
    std::string junk;
    junk.reserve(size_t(kLevels) * 7);
    for (int i = 0; i < kLevels; ++i) junk += "<x>";
    for (int i = 0; i < kLevels; ++i) junk += "</x>";
    // after one good instance, and between two
    EXPECT_EQ(enumFailure(enumAnswer(kNamedVolume + junk)).find("xml: Malformed HTTP response: elements nested too deeply"),
              0u);
    EXPECT_EQ(enumFailure(enumAnswer(kNamedVolume + junk + kNamedVolume))
                  .find("xml: Malformed HTTP response: elements nested too deeply"),
              0u);
    std::string names = envelope(
        "<IMETHODRESPONSE NAME=\"AssociatorNames\"><IRETURNVALUE><OBJECTPATH><INSTANCEPATH><NAMESPACEPATH>" + junk +
        "<HOST>h</HOST><LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH></NAMESPACEPATH>"
        "<INSTANCENAME CLASSNAME=\"C\"/></INSTANCEPATH></OBJECTPATH></IRETURNVALUE></IMETHODRESPONSE>");
    std::string failure = failureOf([&] { decodeObjectPathsResponse(names, "7", "AssociatorNames"); });
    EXPECT_EQ(failure.find("xml: Malformed HTTP response: elements nested too deeply"), 0u) << failure.substr(0, 200);
    // the bound: 64 levels in all
    auto nested = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) open += "<x>", close += "</x>";
        return open + close;
    };
    // the items sit 6 levels down; a qualifier value holds the junk 2 levels further
    auto holding = [&](int levels) {
        return enumAnswer("<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"/><INSTANCE CLASSNAME=\"C\"><PROPERTY "
                          "NAME=\"P\" TYPE=\"string\"><VALUE>" +
                          nested(levels) + "</VALUE></PROPERTY></INSTANCE></VALUE.NAMEDINSTANCE>");
    };
    EXPECT_EQ(enumFailure(holding(55)).find("xml: Malformed HTTP response: unexpected element x"), 0u)
        << enumFailure(holding(55));
    EXPECT_EQ(enumFailure(holding(56)).find("xml: Malformed HTTP response: elements nested too deeply"), 0u);
}

TEST(LargeAnswers, ReadAPartAtATimeAsTheWholeDocument) {
    // about 1.2 MB: several parts, with comments, CDATA and processing
    // instructions holding the item's end tag here and there
    std::string items;
    for (int i = 0; i < 700; ++i) {
        std::string tricky;
        if (i % 97 == 5) tricky = "<![CDATA[</VALUE.NAMEDINSTANCE>]]>";
        if (i % 89 == 7) items += "<!-- </VALUE.NAMEDINSTANCE> -->\n";
        if (i % 83 == 3) items += "<?note </VALUE.NAMEDINSTANCE> ?>";
        items += "<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\"><KEYBINDING NAME=\"Id\"><KEYVALUE VALUETYPE="
                 "\"numeric\">" +
                 std::to_string(i) + "</KEYVALUE></KEYBINDING></INSTANCENAME><INSTANCE CLASSNAME=\"C\"><PROPERTY "
                                     "NAME=\"Pad\" TYPE=\"string\"><VALUE>" +
                 std::string(1600, char('a' + i % 26)) + tricky + "&lt;" +
                 "</VALUE></PROPERTY></INSTANCE></VALUE.NAMEDINSTANCE >\n";
    }
    std::string parted = enumAnswer(items);
    // a comment before the items makes the decoder read the document whole
    std::string whole = parted;
    whole.insert(whole.find("<SIMPLERSP>"), "<!-- whole -->");
    ASSERT_GT(parted.size(), size_t(1) << 20);
    Array<CIMInstance> a = decodeEnumerateInstancesResponse(parted, "7");
    Array<CIMInstance> b = decodeEnumerateInstancesResponse(whole, "7");
    ASSERT_EQ(a.size(), 700u);
    ASSERT_EQ(b.size(), 700u);
    for (Uint32 i = 0; i < a.size(); ++i) {
        ASSERT_TRUE(a[i].identical(b[i])) << i;
        ASSERT_EQ(a[i].getPath().toString(), "C.Id=" + std::to_string(i));
        std::string pad = a[i].getProperty(0).getValue().toString().toStdString();
        ASSERT_EQ(pad.size(), 1600u + 1 + (i % 97 == 5 ? 22 : 0)) << i;
    }

    // the caller's exception ends the reading and reaches it unchanged
    std::string again = enumAnswer(items);
    int seen = 0;
    EXPECT_THROW(decodeEnumerateInstancesResponse(again, "7",
                                                  [&](CIMInstance&) {
                                                      if (++seen == 300) throw std::logic_error("enough");
                                                  }),
                 std::logic_error);
    EXPECT_EQ(seen, 300);
    // a broken item in a later part fails after the ones before it
    std::string broken = enumAnswer(items);
    broken.replace(broken.rfind("</INSTANCE>"), 11, "</INSTANCX>");
    seen = 0;
    std::string failure = failureOf([&] { decodeEnumerateInstancesResponse(broken, "7", [&](CIMInstance&) { ++seen; }); });
    EXPECT_EQ(failure.find("xml: Malformed HTTP response: not well-formed"), 0u) << failure;
    EXPECT_GT(seen, 400);
}

// Items in the forms a provider writes them, read without a tree, and items
// that need the tree; both readings must give the same instances.
TEST(LargeAnswers, ItemsReadFromTheTextEqualTheTreeReading) {
    auto item = [](const std::string& keys, const std::string& properties) {
        return "<VALUE.NAMEDINSTANCE><INSTANCENAME CLASSNAME=\"C\">" + keys +
               "</INSTANCENAME>\n <INSTANCE CLASSNAME=\"C\">" + properties + "</INSTANCE></VALUE.NAMEDINSTANCE>\n";
    };
    auto key = [](const std::string& name, const std::string& value, const std::string& kind = "") {
        return "<KEYBINDING NAME=\"" + name + "\"><KEYVALUE" + (kind.empty() ? "" : " VALUETYPE=\"" + kind + "\"") + ">" +
               value + "</KEYVALUE></KEYBINDING>";
    };
    const std::vector<std::string> plain = {
        item(key("Id", "a&lt;b&amp;&quot;&apos;&gt;") + key("N", " 7 ", "numeric") + key("B", "true", "boolean") +
                 "<KEYBINDING NAME='E'><KEYVALUE VALUETYPE='string' TYPE='string'/></KEYBINDING>",
             "<PROPERTY NAME=\"S\" TYPE=\"string\" CLASSORIGIN=\"CIM_X\" PROPAGATED=\"true\"><VALUE>x &gt; y</VALUE>"
             "</PROPERTY><PROPERTY  TYPE='string'   NAME='Q' ><VALUE>it's \"q\"</VALUE></PROPERTY >"
             "<PROPERTY NAME=\"Blank\" TYPE=\"string\"><VALUE>  </VALUE></PROPERTY>"
             "<PROPERTY NAME=\"Empty\" TYPE=\"string\"><VALUE/></PROPERTY>"
             "<PROPERTY NAME=\"Null\" TYPE=\"uint32\"/><PROPERTY NAME=\"Null2\" TYPE=\"string\">\n</PROPERTY>"
             "<PROPERTY NAME=\"B\" TYPE=\"boolean\"><VALUE>false</VALUE></PROPERTY>"
             "<PROPERTY NAME=\"U8\" TYPE=\"uint8\"><VALUE>255</VALUE></PROPERTY>"
             "<PROPERTY NAME=\"S64\" TYPE=\"sint64\"><VALUE>-9223372036854775808</VALUE></PROPERTY>"
             "<PROPERTY NAME=\"R\" TYPE=\"real64\"><VALUE>1.5e3</VALUE></PROPERTY>"
             "<PROPERTY NAME=\"C16\" TYPE=\"char16\"><VALUE>z</VALUE></PROPERTY>"
             "<PROPERTY NAME=\"D\" TYPE=\"datetime\"><VALUE>20240101120000.000000+060</VALUE></PROPERTY>"
             "<PROPERTY.ARRAY NAME=\"A\" TYPE=\"uint16\" ARRAYSIZE=\"3\" PROPAGATED=\"no\"><VALUE.ARRAY><VALUE>2"
             "</VALUE> <VALUE.NULL/><VALUE>0x10</VALUE></VALUE.ARRAY></PROPERTY.ARRAY>"
             "<PROPERTY.ARRAY NAME=\"SA\" TYPE=\"string\"><VALUE.ARRAY><VALUE/><VALUE>b</VALUE></VALUE.ARRAY>"
             "</PROPERTY.ARRAY><PROPERTY.ARRAY NAME=\"EA\" TYPE=\"string\"><VALUE.ARRAY/></PROPERTY.ARRAY>"
             "<PROPERTY.ARRAY NAME=\"NA\" TYPE=\"sint8\"/>"),
        "<VALUE.NAMEDINSTANCE>\n<INSTANCENAME CLASSNAME=\"C\"/><INSTANCE CLASSNAME=\"C\"/></VALUE.NAMEDINSTANCE>",
    };
    const std::vector<std::string> tree = {
        item(key("Id", "&#65;"), ""),
        item(key("Id", "1"), "<PROPERTY NAME=\"S\" TYPE=\"string\"><VALUE><![CDATA[<x>]]></VALUE></PROPERTY>"),
        item(key("Id", "2"), "<QUALIFIER NAME=\"Q\" TYPE=\"boolean\"><VALUE>true</VALUE></QUALIFIER>"),
        item(key("Id", "3"), "<PROPERTY.REFERENCE NAME=\"R\"><VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"C\"/>"
                             "</VALUE.REFERENCE></PROPERTY.REFERENCE>"),
        item("<KEYBINDING NAME=\"R\"><VALUE.REFERENCE><INSTANCENAME CLASSNAME=\"C\"/></VALUE.REFERENCE></KEYBINDING>",
             ""),
        item(key("Id", "4"), "<PROPERTY NAME=\"S\" TYPE=\"string\"><VALUE>a\r\nb</VALUE></PROPERTY>"),
        item(key("Id", "5"), "<PROPERTY NAME=\"S\" TYPE=\"string\" xml:lang=\"en\"><VALUE>a</VALUE></PROPERTY>"),
        item(key("Id", "6"), "<PROPERTY NAME=\"S\" TYPE=\"string\">x<VALUE>a</VALUE></PROPERTY>"),
    };
    CimXmlReader reader;
    for (const std::string& text : plain) {
        std::vector<CIMInstance> read;
        EXPECT_TRUE(reader.readPlainNamedInstances(text, read)) << text;
        EXPECT_EQ(read.size(), 1u);
    }
    for (const std::string& text : tree) {
        std::vector<CIMInstance> read;
        EXPECT_FALSE(reader.readPlainNamedInstances(text, read)) << text;
    }
    std::string items;
    for (int round = 0; round < 200; ++round)
        for (const auto* list : {&plain, &tree})
            for (const std::string& text : *list) items += text;
    std::string parted = enumAnswer(items);
    std::string whole = parted;
    whole.insert(whole.find("<SIMPLERSP>"), "<!-- whole -->");
    Array<CIMInstance> a = decodeEnumerateInstancesResponse(parted, "7");
    Array<CIMInstance> b = decodeEnumerateInstancesResponse(whole, "7");
    ASSERT_EQ(a.size(), 200u * (plain.size() + tree.size()));
    ASSERT_EQ(b.size(), a.size());
    for (Uint32 i = 0; i < a.size(); ++i) {
        ASSERT_TRUE(a[i].identical(b[i])) << i;
        ASSERT_EQ(a[i].getPath().toString(), b[i].getPath().toString()) << i;
    }
    const CIMInstance& first = a[0];
    EXPECT_EQ(first.getPath().toString(), "C.B=true,E=\"\",Id=\"a<b&\\\"'>\",N=7");
    auto text = [&](const char* name) { return first.getProperty(first.findProperty(name)).getValue().toString(); };
    EXPECT_EQ(text("S"), "x > y");
    EXPECT_EQ(text("Q"), "it's \"q\"");
    EXPECT_EQ(text("Blank"), "  ");
    EXPECT_TRUE(first.getProperty(first.findProperty("Null")).getValue().isNull());
    EXPECT_EQ(text("A"), "2 0 16");
    EXPECT_TRUE(first.getProperty(first.findProperty("S")).getPropagated());
    EXPECT_FALSE(first.getProperty(first.findProperty("A")).getPropagated());
    EXPECT_EQ(first.getProperty(first.findProperty("A")).getArraySize(), 3u);
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
