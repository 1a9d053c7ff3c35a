#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "EngineEnvironment.h"
#include "RecordBatch.h"
#include "TargetDeviceList.h"
#include "zqso/zqso.h"

using zq::platform::SimulatedDisk;
using zqtest::RecordBatch;

namespace {

const char* kUidA = "60050768108001A2E800000000000001";
const char* kUidB = "60050768108001A2E800000000000002";

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override {
        env.disks().add(SimulatedDisk::volume("/dev/sdb", "IBM", "2145", "ABCDEF012345XYZ", kUidA));
        env.disks().add(SimulatedDisk::volume("/dev/sdc", "IBM", "2145", "ABCDEF012345XYZ", kUidB));
        env.disks().add(SimulatedDisk::volume("/dev/sdd", "IBM", "2107", "ABCDEF012345XYZ", kUidB));
        os.addArray("0000ABCDEF012345", "IBM FlashSystem",
                    zqtest::TestOSUtil::infoText("0000ABCDEF012345", "10.0.0.1", "admin", "pw", 20));
    }
    zqtest::EngineEnvironment env;
    zqtest::TestOSUtil os;
};

}  // namespace

TEST_F(EntryPoints, VersionAndSupport) {
    uint16_t major = 9, minor = 9, patch = 9;
    zqso_version(&major, nullptr, &patch);
    EXPECT_EQ(major, 9);
    zqso_version(&major, &minor, &patch);
    EXPECT_EQ(major * 100 + minor * 10 + patch, 100);

    EXPECT_EQ(zqso_isSupported("/dev/sdb", 0, &os, nullptr, nullptr), 0);
    EXPECT_TRUE(env.debugLog().contains("Device /dev/sdb belong to array - 0000ABCDEF012345 vendor - IBM product 2145"));
    EXPECT_EQ(zqso_isSupported("/dev/sdd", 0, &os, nullptr, nullptr), 2);
    EXPECT_EQ(zqso_isSupported("/dev/none", 0, &os, nullptr, nullptr), 2);
    EXPECT_EQ(zqso_isSupported(nullptr, 0, &os, nullptr, nullptr), 1);
    EXPECT_TRUE(env.debugLog().contains("Function called with NULL character device name"));
    env.config().set("HostModule", "IBMSVC_PRODUCT_ID", "2145 2107");
    EXPECT_EQ(zqso_isSupported("/dev/sdd", 0, &os, nullptr, nullptr), 0);
}

TEST_F(EntryPoints, ProcessVpdInfoCountsTheRecordsDone) {
    RecordBatch batch(os, 3);
    const char* paths[] = {"/dev/sdb", "/dev/sdc", "/dev/sdd"};
    for (size_t i = 0; i < 3; ++i) {
        SimulatedDisk disk;
        ASSERT_TRUE(env.disks().find(paths[i], &disk));
        batch[i].setSourceDevicePath(paths[i]);
        batch[i].setScsiPages(disk);
    }
    EXPECT_EQ(zqso_processVPDInfo(batch.records(), 2, &os), 0);
    EXPECT_EQ(batch[0].arrayId(), "0000ABCDEF012345");
    EXPECT_EQ(batch[1].lunUniqueId(), kUidB);
    EXPECT_EQ(batch[0].status(), ZQSO::SNAP_STATUS_NONE);
    EXPECT_TRUE(batch[0].hasLine("Process VPD Info completed Successfully", 1));

    // A device of another product fails with 62005 and the line as its message.
    EXPECT_EQ(zqso_processVPDInfo(batch.records(), 3, &os), 2);
    EXPECT_EQ(batch[2].status(), ZQSO::SNAP_STATUS_PREPARE_FAILED);
    EXPECT_EQ(batch[2].errorCode(), 62005u);
    EXPECT_EQ(batch[2].errorMessage(),
              "zqso_processVPDInfo: Failed to get IBMSVC Array name from host device name[/dev/sdd]");
    EXPECT_TRUE(batch[0].hasLine("Process VPD Info Failed", 2));
}

TEST_F(EntryPoints, ProcessVpdInfoFailuresPerRecord) {
    RecordBatch batch(os, 3);
    SimulatedDisk disk;
    ASSERT_TRUE(env.disks().find("/dev/sdb", &disk));
    for (size_t i = 0; i < 3; ++i) batch[i].setScsiPages(disk);
    batch[0].setSourceDevicePath("/dev/sdb");
    // Record 1 has no source path; record 2's array is unknown to the host.
    batch[2].setSourceDevicePath("/dev/sdb");
    batch[2].setScsiPage(128, SimulatedDisk::volume("x", "IBM", "2145", "FFFFFF999999", kUidA).unitSerialPage);
    EXPECT_EQ(zqso_processVPDInfo(batch.records(), 3, &os), 2);
    EXPECT_EQ(batch[0].status(), ZQSO::SNAP_STATUS_NONE);
    EXPECT_EQ(batch[1].status(), ZQSO::SNAP_STATUS_PREPARE_FAILED);
    EXPECT_EQ(batch[1].errorCode(), 62005u);
    EXPECT_EQ(batch[2].status(), ZQSO::SNAP_STATUS_PREPARE_FAILED);
    EXPECT_EQ(batch[2].errorCode(), 62005u);
    EXPECT_TRUE(batch[2].hasLine("Unable to set the login credentials for SMIS provider", 2));

    // With the database path (not available yet) no record gets an array id.
    env.config().set("HostModule", "IBMSVC_GET_ARRAYID_FROM_DB", "1");
    RecordBatch second(os, 2);
    for (size_t i = 0; i < 2; ++i) {
        second[i].setSourceDevicePath("/dev/sdb");
        second[i].setScsiPages(disk);
    }
    second[1].setScsiPage(128, {0, 0x80, 0, 0});
    EXPECT_EQ(zqso_processVPDInfo(second.records(), 2, &os), 1);
    EXPECT_EQ(second[0].errorMessage(), "Failed to get array info");
    EXPECT_EQ(second[1].errorMessage(), "Failed to get array info");
    EXPECT_TRUE(second[1].hasLine("zqso_processVPDInfo: Failed to get array info as arrayId is empty", 2));

    EXPECT_EQ(zqso_processVPDInfo(batch.records(), 0, &os), 1);
    EXPECT_EQ(zqso_processVPDInfo(nullptr, 3, &os), 1);
}

TEST_F(EntryPoints, IdentifyDevicesKeepsTheDeviceOfTheCopy) {
    const std::string key = "IBM     |::|2145            ";
    ZQSO::MountedDeviceMap mounted{{key, {"/dev/sdb", "/dev/sdc", "/dev/gone"}}};
    RecordBatch batch(os, 3);
    batch[0].setMeta(1, "broken");
    batch[1].setMeta(1, std::string("0000ABCDEF012345*4*svc*src*p*x*") + kUidB + "*tp*0");
    batch[2].setMeta(1, std::string("0000ABCDEF012345*4*svc*src*p*x*") + kUidA + "*tp*0");

    EXPECT_EQ(zqso_identifyDevices(batch.records(), 3, &mounted, 2, nullptr, &os), 0);
    EXPECT_EQ(mounted[key].size(), 3u);

    EXPECT_EQ(zqso_identifyDevices(batch.records(), 3, &mounted, 3, nullptr, &os), 0);
    EXPECT_EQ(mounted[key], std::vector<std::string>{"/dev/sdc"});
    EXPECT_TRUE(batch[1].hasLine("Found device [/dev/sdc]", 1));
    EXPECT_TRUE(batch[0].hasLine("zqso_identifyDevices: Failed to parse unique identifier [broken]", 1));
    EXPECT_TRUE(batch[0].hasLine("Failed to get IBMSVC Array name from host device name[/dev/gone]", 1));
    EXPECT_FALSE(batch[2].hasLine("Found device"));

    ZQSO::MountedDeviceMap other{{"NETAPP  |::|LUN             ", {"/dev/sdx"}}};
    EXPECT_EQ(zqso_identifyDevices(batch.records(), 3, &other, 3, nullptr, &os), 0);
    EXPECT_TRUE(batch[0].hasLine("None of the mounted devices belongs to Vendor [IBM] and product [2145]", 1));
    EXPECT_EQ(zqso_identifyDevices(batch.records(), 0, &mounted, 3, nullptr, &os), 0);
    EXPECT_EQ(zqso_identifyDevices(batch.records(), 3, nullptr, 3, nullptr, &os), 0);
}

TEST_F(EntryPoints, UnprepareClearsTheCopyAndMarksTheTargetListStale) {
    auto& list = ZQSOIBMSVCAPI::targetDeviceList();
    RecordBatch batch(os, 2);
    batch[0].setMeta(1, "x*4*svc*src*p*x*UID*tp*0");
    batch[0].setMeta(102, "group");
    EXPECT_EQ(zqso_unprepareDevices(batch.records(), 2, &os), 0);
    EXPECT_FALSE(batch[0].meta(1));
    EXPECT_TRUE(batch[0].meta(102));
    EXPECT_EQ(batch[1].status(), ZQSO::SNAP_STATUS_UNPREPARED);
    EXPECT_TRUE(list.needsUpdate());

    setenv("SNAPTEST_LOCAL_MODE", "1", 1);
    ASSERT_EQ(ZQSOIBMSVCAPI::GetExcludedVolList(&batch[0], 1, "A"), 1);
    unsetenv("SNAPTEST_LOCAL_MODE");
    EXPECT_FALSE(list.needsUpdate());
    EXPECT_EQ(zqso_unprepareDevices(batch.records(), 0, &os), 0);  // empty batch
    EXPECT_TRUE(list.needsUpdate());
}

TEST(ExportedSymbols, OnlyTheEntryPoints) {
    std::string lib = std::string(ZQ_BINARY_DIR) + "/src/ibmsvc/libzqsoibmsvc.so";
    std::string command = "nm -D --defined-only '" + lib + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::set<std::string> symbols;
    std::array<char, 512> line;
    while (fgets(line.data(), int(line.size()), pipe.get())) {
        std::string text(line.data());
        auto last = text.find_last_of(' ');
        std::string name = text.substr(last + 1);
        name.erase(name.find_last_not_of("\r\n") + 1);
        symbols.insert(name);
    }
    std::set<std::string> expected{"zqso_version",         "zqso_isSupported",      "zqso_processVPDInfo",
                                   "zqso_identifyDevices", "zqso_prepareDevices",   "zqso_unprepareDevices",
                                   "zqso_snapDevices",     "zqso_deleteSnaps",      "zqso_isMapped",
                                   "zqso_mapSnaps",        "zqso_unmapSnaps",       "zqso_revertSnaps",
                                   "zqso_reconcileSnaps",  "zqso_execSnapEngineOp"};
    EXPECT_EQ(symbols, expected);
}
