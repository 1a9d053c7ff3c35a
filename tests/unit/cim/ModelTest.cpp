#include <gtest/gtest.h>

#include "cim/CIMClass.h"
#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMPropertyList.h"
#include "cim/CIMValue.h"
#include "cim/ValueText.h"

using namespace Pegasus;

TEST(StringModel, SharedTextIsCopiedOnlyWhenChanged) {
    String a("IBMTSSVC_StorageVolume");
    String b = a;
    CString kept = b.getCString();
    b.append("_X");
    b.toUpper();
    EXPECT_EQ(a, "IBMTSSVC_StorageVolume");
    EXPECT_STREQ(static_cast<const char*>(kept), "IBMTSSVC_StorageVolume");
    EXPECT_EQ(b, "IBMTSSVC_STORAGEVOLUME_X");
    b.append(b);
    EXPECT_EQ(b.size(), 48u);
    EXPECT_EQ(a.find("Storage"), 9u);
    EXPECT_EQ(a.find('Q'), PEG_NOT_FOUND);
    EXPECT_EQ(a.reverseFind('e'), 21u);
    EXPECT_EQ(a.subString(9, 7), "Storage");
    EXPECT_EQ(a.subString(9), "StorageVolume");
    String c = a;
    c.remove(0, 9);
    EXPECT_EQ(c, "StorageVolume");
    EXPECT_EQ(a, "IBMTSSVC_StorageVolume");
    EXPECT_TRUE(String::equalNoCase("Name", "NAME"));
    EXPECT_FALSE(String::equal("Name", "NAME"));
    EXPECT_THROW(a[100], IndexOutOfBoundsException);
    String u;
    u.append(Char16(0xE9));
    EXPECT_EQ(u, "\xc3\xa9");
}

TEST(ValueModel, TextForms) {
    EXPECT_EQ(CIMValue(true).toString(), "TRUE");
    EXPECT_EQ(CIMValue(false).toString(), "FALSE");
    EXPECT_EQ(CIMValue(Uint8(200)).toString(), "200");
    EXPECT_EQ(CIMValue(Sint8(-5)).toString(), "-5");
    EXPECT_EQ(CIMValue(Uint64(18446744073709551615ull)).toString(), "18446744073709551615");
    Array<Uint16> status;
    status.append(2);
    status.append(32768);
    CIMValue arr(status);
    EXPECT_EQ(arr.toString(), "2 32768");
    EXPECT_EQ(arr.getArraySize(), 2u);
    EXPECT_EQ(CIMValue(CIMObjectPath("root/ibm:C.K=\"v\"")).toString(), "root/ibm:C.K=\"v\"");
    CIMValue nullRef(CIMTYPE_REFERENCE, false);
    EXPECT_TRUE(nullRef.isNull());
    EXPECT_EQ(nullRef.toString(), "");
}

TEST(ValueModel, GetChecksTypeAndLeavesNullAlone) {
    CIMValue v(Uint32(4096));
    Uint32 u = 0;
    v.get(u);
    EXPECT_EQ(u, 4096u);
    Uint16 small = 0;
    EXPECT_THROW(v.get(small), TypeMismatchException);
    Array<Uint32> many;
    EXPECT_THROW(v.get(many), TypeMismatchException);
    CIMValue none(CIMTYPE_UINT32, false);
    u = 7;
    none.get(u);
    EXPECT_EQ(u, 7u);
    EXPECT_FALSE(none == CIMValue(CIMTYPE_UINT16, false));
    EXPECT_TRUE(none == CIMValue(CIMTYPE_UINT32, false));
    EXPECT_THROW(CIMValue(CIMTYPE_INSTANCE, false), TypeMismatchException);
}

TEST(ValueModel, ParsingChecksRanges) {
    Uint8 u8;
    Sint8 s8;
    Uint64 u64;
    Sint64 s64;
    Boolean b;
    EXPECT_TRUE(valuetext::parse("255", u8));
    EXPECT_FALSE(valuetext::parse("256", u8));
    EXPECT_FALSE(valuetext::parse("-1", u8));
    EXPECT_TRUE(valuetext::parse("-0x80", s8));
    EXPECT_EQ(s8, -128);
    EXPECT_FALSE(valuetext::parse("-129", s8));
    EXPECT_TRUE(valuetext::parse(" 18446744073709551615 ", u64));
    EXPECT_FALSE(valuetext::parse("18446744073709551616", u64));
    EXPECT_TRUE(valuetext::parse("-9223372036854775808", s64));
    EXPECT_EQ(s64, INT64_MIN);
    EXPECT_FALSE(valuetext::parse("12abc", s64));
    EXPECT_FALSE(valuetext::parse("", s64));
    EXPECT_TRUE(valuetext::parse("true", b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(valuetext::parse("yes", b));
    Real32 r;
    EXPECT_FALSE(valuetext::parse("1e40", r));
    Char16 c;
    EXPECT_TRUE(valuetext::parse("\xc3\xa9", c));
    EXPECT_EQ(Uint16(c), 0xE9);
    EXPECT_FALSE(valuetext::parse("ab", c));
    CIMDateTime dt;
    EXPECT_TRUE(valuetext::parse("20260101120000.000000+060", dt));
    EXPECT_FALSE(valuetext::parse("2026-01-01", dt));
    EXPECT_TRUE(CIMDateTime("00000001020304.000000:000").isInterval());
}

TEST(KeyBindingModel, FromValues) {
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(Uint16(5))).getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(true)).getValue(), "TRUE");
    EXPECT_EQ(CIMKeyBinding("K", CIMValue(CIMObjectPath("C.k=1"))).getType(), CIMKeyBinding::REFERENCE);
    EXPECT_THROW(CIMKeyBinding("K", CIMValue(Real64(1.5))), TypeMismatchException);
    EXPECT_TRUE(CIMKeyBinding("K", "0x05", CIMKeyBinding::NUMERIC).equal(CIMValue(Uint8(5))));
}

TEST(InstanceModel, PropertiesAreSharedUntilCloned) {
    CIMInstance inst("IBMTSSVC_StorageVolume");
    inst.addProperty(CIMProperty("ElementName", CIMValue("vol1")));
    inst.addProperty(CIMProperty("BlockSize", CIMValue(Uint64(512))));
    EXPECT_THROW(inst.addProperty(CIMProperty("elementname", CIMValue("x"))), AlreadyExistsException);
    EXPECT_EQ(inst.findProperty("ELEMENTNAME"), 0u);
    EXPECT_EQ(inst.findProperty("Missing"), PEG_NOT_FOUND);

    CIMInstance copy = inst;
    CIMInstance deep = inst.clone();
    inst.getProperty(0).setValue(CIMValue("renamed"));
    EXPECT_EQ(copy.getProperty(0).getValue().toString(), "renamed");
    EXPECT_EQ(deep.getProperty(0).getValue().toString(), "vol1");
    EXPECT_THROW(inst.getProperty(0).setValue(CIMValue(Uint16(1))), TypeMismatchException);
    EXPECT_FALSE(inst.identical(deep));
    inst.removeProperty(0);
    EXPECT_EQ(inst.getPropertyCount(), 1u);
    EXPECT_THROW(inst.getProperty(5), IndexOutOfBoundsException);
    EXPECT_THROW(CIMInstance().getClassName(), UninitializedObjectException);
}

TEST(ClassModel, MethodsAndParameters) {
    CIMClass cls("IBMTSSVC_StorageConfigurationService", "CIM_StorageConfigurationService");
    CIMMethod m("CreateReplica", CIMTYPE_UINT32);
    m.addParameter(CIMParameter("CopyType", CIMTYPE_UINT16));
    m.addParameter(CIMParameter("SourceElement", CIMTYPE_REFERENCE, false, 0, "CIM_LogicalElement"));
    m.addParameter(CIMParameter("Names", CIMTYPE_STRING, true));
    cls.addMethod(m);
    cls.addQualifier(CIMQualifier("Association", CIMValue(false)));
    EXPECT_FALSE(cls.isAssociation());
    Uint32 i = cls.findMethod("createreplica");
    ASSERT_NE(i, PEG_NOT_FOUND);
    CIMMethod found = cls.getMethod(i);
    EXPECT_EQ(found.getParameterCount(), 3u);
    EXPECT_TRUE(found.getParameter(found.findParameter("names")).isArray());
    EXPECT_TRUE(cls.clone().identical(cls));
    CIMPropertyList all;
    EXPECT_TRUE(all.isNull());
    Array<CIMName> names;
    names.append("Name");
    CIMPropertyList some(names);
    EXPECT_TRUE(some.contains("NAME"));
    EXPECT_FALSE(some.contains("ElementName"));
    EXPECT_TRUE(CIMPropertyList(Array<CIMName>()).size() == 0 && !CIMPropertyList(Array<CIMName>()).isNull());
}
