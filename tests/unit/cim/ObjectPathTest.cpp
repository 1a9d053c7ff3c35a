#include <gtest/gtest.h>

#include <random>

#include "cim/CIMObjectPath.h"
#include "cim/CIMValue.h"

using namespace Pegasus;

namespace {

CIMObjectPath volumePath() {
    Array<CIMKeyBinding> keys;
    keys.append(CIMKeyBinding("SystemName", "0000020060C14A2C:0", CIMKeyBinding::STRING));
    keys.append(CIMKeyBinding("DeviceID", "12", CIMKeyBinding::STRING));
    keys.append(CIMKeyBinding("CreationClassName", "IBMTSSVC_StorageVolume", CIMKeyBinding::STRING));
    keys.append(CIMKeyBinding("SystemCreationClassName", "IBMTSSVC_IOGroup", CIMKeyBinding::STRING));
    return CIMObjectPath("svc1:5989", "root/ibm", "IBMTSSVC_StorageVolume", keys);
}

std::string messageOf(const std::string& text) {
    try {
        CIMObjectPath p(text.c_str());
    } catch (const MalformedObjectNameException& e) {
        return e.getMessage().toStdString();
    }
    return "parsed";
}

}  // namespace

TEST(ObjectPathText, PrintsKeysSortedAndQuoted) {
    CIMObjectPath p = volumePath();
    EXPECT_EQ(p.toString(),
              "//svc1:5989/root/ibm:IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\","
              "DeviceID=\"12\",SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"0000020060C14A2C:0\"");
    Array<CIMKeyBinding> keys;
    keys.append(CIMKeyBinding("b", "5", CIMKeyBinding::NUMERIC));
    keys.append(CIMKeyBinding("A", "TRUE", CIMKeyBinding::BOOLEAN));
    keys.append(CIMKeyBinding("c", "say \"hi\" \\o/", CIMKeyBinding::STRING));
    EXPECT_EQ(CIMObjectPath("", CIMNamespaceName(), "X", keys).toString(),
              "X.A=TRUE,b=5,c=\"say \\\"hi\\\" \\\\o/\"");
    EXPECT_EQ(CIMObjectPath().toString(), "");
    EXPECT_EQ(CIMObjectPath("root/ibm:CIM_StorageVolume").toString(), "root/ibm:CIM_StorageVolume");
}

TEST(ObjectPathText, ParsesEveryPart) {
    CIMObjectPath p("//10.0.0.1:5988/root/ibm:IBMTSSVC_Node.Name=\"000001002100613E:1\",Id=-0x1F,On=false");
    EXPECT_EQ(p.getHost(), "10.0.0.1:5988");
    EXPECT_EQ(p.getNameSpace().getString(), "root/ibm");
    EXPECT_EQ(p.getClassName().getString(), "IBMTSSVC_Node");
    ASSERT_EQ(p.getKeyBindings().size(), 3u);
    EXPECT_EQ(p.getKeyBindings()[0].getName().getString(), "Id");
    EXPECT_EQ(p.getKeyBindings()[0].getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(p.getKeyBindings()[1].getType(), CIMKeyBinding::STRING);
    EXPECT_EQ(p.getKeyBindings()[2].getType(), CIMKeyBinding::BOOLEAN);
    CIMObjectPath bare("CIM_StorageVolume");
    EXPECT_TRUE(bare.getNameSpace().isNull());
    EXPECT_EQ(bare.getKeyBindings().size(), 0u);
}

TEST(ObjectPathText, NestedReferencesSurviveTwoLevels) {
    CIMObjectPath source = volumePath();
    Array<CIMKeyBinding> keys;
    keys.append(CIMKeyBinding("SystemElement", source.toString(), CIMKeyBinding::REFERENCE));
    keys.append(CIMKeyBinding("SyncedElement", source.toString(), CIMKeyBinding::REFERENCE));
    CIMObjectPath sync("", "root/ibm", "IBMTSSVC_LocalStorageSynchronized", keys);
    Array<CIMKeyBinding> outer;
    outer.append(CIMKeyBinding("Sync", sync.toString(), CIMKeyBinding::REFERENCE));
    CIMObjectPath job("", CIMNamespaceName(), "Holder", outer);

    CIMObjectPath parsed(job.toString());
    EXPECT_TRUE(parsed.identical(job));
    EXPECT_EQ(parsed.toString(), job.toString());
    ASSERT_EQ(parsed.getKeyBindings()[0].getType(), CIMKeyBinding::REFERENCE);
    CIMObjectPath innerSync(parsed.getKeyBindings()[0].getValue());
    EXPECT_EQ(innerSync.getKeyBindings()[0].getType(), CIMKeyBinding::REFERENCE);
    EXPECT_TRUE(CIMObjectPath(innerSync.getKeyBindings()[0].getValue()).identical(source));
}

TEST(ObjectPathText, QuotedTextWithEqualSignIsAReferenceOnlyWhenItParses) {
    CIMObjectPath p("C.A=\"x=y\",B=\"D.k=1\"");
    EXPECT_EQ(p.getKeyBindings()[0].getType(), CIMKeyBinding::STRING);
    EXPECT_EQ(p.getKeyBindings()[1].getType(), CIMKeyBinding::REFERENCE);
}

TEST(ObjectPathText, RandomPathsRoundTrip) {
    std::mt19937 rng(4711);
    const std::string alphabet = "aZ09 _\\\"=.,:/-\xc3\xa9";
    auto text = [&](size_t maxLen) {
        std::string s;
        for (size_t n = rng() % maxLen; n > 0; --n) s += alphabet[rng() % alphabet.size()];
        return s;
    };
    auto path = [&](int depth, auto& self) -> CIMObjectPath {
        Array<CIMKeyBinding> keys;
        int count = 1 + rng() % 4;
        for (int i = 0; i < count; ++i) {
            CIMName name(String("K" + std::to_string(i)));
            switch (rng() % 4) {
                case 0:
                    keys.append(CIMKeyBinding(name, String(text(12)), CIMKeyBinding::STRING));
                    break;
                case 1:
                    keys.append(CIMKeyBinding(name, String(std::to_string(int(rng()) - 1000)), CIMKeyBinding::NUMERIC));
                    break;
                case 2:
                    keys.append(CIMKeyBinding(name, rng() % 2 ? "TRUE" : "false", CIMKeyBinding::BOOLEAN));
                    break;
                default:
                    if (depth < 3)
                        keys.append(CIMKeyBinding(name, self(depth + 1, self).toString(), CIMKeyBinding::REFERENCE));
                    else
                        keys.append(CIMKeyBinding(name, "", CIMKeyBinding::STRING));
            }
        }
        String host = rng() % 2 ? String("host-" + std::to_string(rng() % 100) + ":5989") : String();
        CIMNamespaceName ns = (host.size() || rng() % 2) ? CIMNamespaceName("root/ibm") : CIMNamespaceName();
        return CIMObjectPath(host, ns, CIMName(String("C_" + std::to_string(depth))), keys);
    };
    for (int i = 0; i < 500; ++i) {
        CIMObjectPath p = path(0, path);
        String text1 = p.toString();
        CIMObjectPath parsed(text1);
        ASSERT_TRUE(parsed.identical(p)) << text1;
        ASSERT_EQ(parsed.toString(), text1);
    }
}

TEST(ObjectPathText, MalformedTextsNameTheProblem) {
    const char* bad[] = {
        "6005076810CA0166C00000000000019F",   // a volume UID is not a class name
        ".DeviceID=\"1\"",                    // empty class name
        "root/ibm:",                          // empty class name after namespace
        "C.K=\"unbalanced",                   // missing closing quote
        "C.K=\"a\\x\"",                       // bad escape
        "C.K",                                // missing equal sign
        "C.K=",                               // missing value
        "C.K=abc",                            // neither boolean nor number
        "C.K=tru",                            // bad boolean
        "C.K=1,",                             // dangling comma
        "C.K=\"a\"x",                         // text after the closing quote
        "C.K=1,k=2",                          // duplicate key
        "C.",                                 // no keys after dot
        "//host",                             // nothing after host
        "ro ot:C",                            // bad namespace
        "C.1K=1",                             // bad key name
    };
    for (const char* text : bad) {
        std::string message = messageOf(text);
        EXPECT_NE(message.find("malformed object name: "), std::string::npos) << text << " -> " << message;
        EXPECT_NE(message.find("reason:\""), std::string::npos) << text;
    }
    std::string huge(100000, 'x');
    EXPECT_LT(messageOf("1" + huge).size(), 400u);
}

TEST(ObjectPathCompare, KeysInAnyOrderCaseAndNumberForm) {
    CIMObjectPath a("//H/root/ibm:cls.a=\"v\",b=16,c=TRUE");
    CIMObjectPath b("//h/ROOT/IBM:CLS.C=true,B=0x10,A=\"v\"");
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.makeHashCode(), b.makeHashCode());
    EXPECT_FALSE(a == CIMObjectPath("//H/root/ibm:cls.a=\"V\",b=16,c=TRUE"));
    EXPECT_FALSE(a == CIMObjectPath("root/ibm:cls.a=\"v\",b=16,c=TRUE"));
    EXPECT_FALSE(a == CIMObjectPath("//H/root/ibm:cls.a=\"v\",b=16"));
}
