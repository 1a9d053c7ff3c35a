#include <gtest/gtest.h>

#include "ClassCatalog.h"
#include "SimTestUtil.h"
#include "TextUtil.h"

using namespace simtest;

class PathResolution : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(b.sim.addVolume("src", "Pool0", 1 << 30).ok());
        ASSERT_TRUE(b.sim.addVolume("tgt", "Pool0", 1 << 30).ok());
        ASSERT_TRUE(b.sim.addVolume("far", "Pool0", 1 << 30, false, 1).ok());
        ASSERT_EQ(b.attach("src", "tgt", 0), 0u);
    }
    bool resolves(const SimPath& p, ObjRef& out) {
        return b.sim.withModel([&](Model& m, int64_t now) { return m.view(now).resolve(p, out); });
    }
    SimBench b;
};

TEST_F(PathResolution, PathsAsClientsWriteThemNameTheSameObject) {
    SimPath canonical = b.volumePath("src");
    // Another client's spelling: class and key names in other case, keys
    // reversed, host and namespace given.
    SimPath p;
    p.host = "svc.example:5989";
    p.nameSpace = "root/ibm";
    p.className = "ibmtssvc_storagevolume";
    for (auto it = canonical.keys.rbegin(); it != canonical.keys.rend(); ++it)
        p.addKey(arraysim::toUpper(it->name), it->text);
    ObjRef ref;
    ASSERT_TRUE(resolves(p, ref));
    EXPECT_EQ(ref.kind, ObjKind::Volume);
    EXPECT_EQ(ref.a, b.volumeId("src"));

    // The abstract class with the concrete CreationClassName is accepted too.
    SimPath abstract = canonical;
    abstract.className = "CIM_StorageVolume";
    EXPECT_TRUE(resolves(abstract, ref));
}

TEST_F(PathResolution, WrongOrIncompleteKeysNameNothing) {
    ObjRef ref;
    // The engine builds "<cluster>:0" system names; a volume of I/O group 1 is not there.
    SimPath far = b.volumePath("far");
    for (auto& k : far.keys)
        if (k.name == "SystemName") k.text = "0000020060C14A2C:0";
    EXPECT_FALSE(resolves(far, ref));

    SimPath extra = b.volumePath("src");
    extra.addKey("Bogus", "1");
    EXPECT_FALSE(resolves(extra, ref));

    SimPath missing = b.volumePath("src");
    missing.keys.pop_back();
    EXPECT_FALSE(resolves(missing, ref));

    SimPath wrongClass = b.volumePath("src");
    wrongClass.className = "IBMTSSVC_ConciseVolume";
    EXPECT_FALSE(resolves(wrongClass, ref));

    SimPath unknownClass = b.volumePath("src");
    unknownClass.className = "XYZ_Volume";
    EXPECT_FALSE(resolves(unknownClass, ref));
}

TEST_F(PathResolution, MappingPathBuiltFromVolumePathsResolves) {
    SimPath src = b.volumePath("src");
    src.host = "10.0.0.1";
    src.nameSpace = "root/ibm";
    SimPath m;
    m.className = "IBMTSSVC_LocalStorageSynchronized";
    m.addRef("SyncedElement", b.volumePath("tgt")).addRef("SystemElement", src);
    ObjRef ref;
    ASSERT_TRUE(resolves(m, ref));
    EXPECT_EQ(ref.kind, ObjKind::Mapping);

    // Ends swapped: that mapping does not exist.
    SimPath swapped;
    swapped.className = "IBMTSSVC_LocalStorageSynchronized";
    swapped.addRef("SystemElement", b.volumePath("tgt")).addRef("SyncedElement", b.volumePath("src"));
    EXPECT_FALSE(resolves(swapped, ref));
}

TEST_F(PathResolution, EveryEnumeratedObjectResolvesFromItsOwnPath) {
    ASSERT_TRUE(b.sim.addHost("h", {"2100000E1E000001"}).ok());
    ASSERT_EQ(b.sim.mapToHost("h", "src"), 0u);
    auto& catalog = ClassCatalog::instance();
    size_t checked = 0;
    b.sim.withModel([&](Model& m, int64_t now) {
        CimView view = m.view(now);
        for (auto* cls : catalog.concreteUnder("CIM_ManagedElement")) {
            ObjKind kind;
            EXPECT_TRUE(CimView::kindOfClass(cls->name, kind)) << cls->name;
        }
        for (int k = 0; k <= int(ObjKind::Mapping); ++k)
            view.enumerate(ObjKind(k), [&](const ObjRef& r) {
                SimPath p = view.pathOf(r);
                ObjRef back;
                EXPECT_TRUE(view.resolve(p, back)) << p.toString();
                EXPECT_TRUE(back == r) << p.toString();
                ++checked;
            });
        return 0;
    });
    EXPECT_GT(checked, 20u);
}
