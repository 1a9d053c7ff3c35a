#include <gtest/gtest.h>

#include "DeviceIdentification.h"
#include "EngineEnvironment.h"
#include "TestOSUtil.h"
#include "TestSnapInfo.h"

using namespace ZQSOIBMSVCAPI;
using zq::platform::SimulatedDisk;

namespace {

const char* kUid = "60050768108001a2e800000000000012";
const char* kUidUpper = "60050768108001A2E800000000000012";

class Identification : public ::testing::Test {
protected:
    void SetUp() override {
        env.disks().add(SimulatedDisk::volume("/dev/sdb", "IBM", "2145", "abcdef012345XYZ", kUid));
    }
    int identify(const char* device, bool fetch = true, bool honour = false) {
        return getDevArrayInfo(&os, &record, device, vendor, product, arrayId, lunId, fetch, honour);
    }
    zqtest::EngineEnvironment env;
    zqtest::TestOSUtil os;
    zqtest::TestSnapInfo record{&os};
    std::string vendor, product, arrayId, lunId;
};

}  // namespace

TEST_F(Identification, ReadsArrayAndLunIdentityFromTheDevice) {
    ASSERT_EQ(identify("/dev/sdb"), 1) << record.dump();
    EXPECT_EQ(vendor, "IBM");
    EXPECT_EQ(product, "2145");
    EXPECT_EQ(arrayId, "0000ABCDEF012345");
    EXPECT_EQ(lunId, kUidUpper);
    EXPECT_TRUE(record.hasLine("Device [/dev/sdb] Array ID [0000ABCDEF012345]", 0));

    env.config().set("HostModule", "IBMSVC_ARRAY_ID", "0000CONFIGURED01");
    ASSERT_EQ(identify("/dev/sdb"), 1);
    EXPECT_EQ(arrayId, "0000CONFIGURED01");
    EXPECT_TRUE(record.hasLine("Reading ClusterID [0000CONFIGURED01] from ReGKey", 0));
}

TEST_F(Identification, OtherDevicesAreNotIbmSvc) {
    env.disks().add(SimulatedDisk::volume("/dev/sdc", "NETAPP", "LUN", "123456789012", kUid));
    env.disks().add(SimulatedDisk::volume("/dev/sdd", "", "", "123456789012", kUid));
    EXPECT_EQ(identify("/dev/sdc"), 0);
    EXPECT_TRUE(record.hasLine("Device [/dev/sdc] Vendor: [NETAPP] Product line : [LUN] does not belong to IBMSVC"));
    EXPECT_EQ(identify("/dev/sdd"), 0);  // blank vendor and product
    EXPECT_TRUE(record.hasLine("Device [/dev/sdd] Vendor: [] Product line : [] does not belong to IBMSVC"));

    SimulatedDisk loop;
    loop.name = "/dev/loop1";
    loop.scsi = false;
    env.disks().add(loop);
    EXPECT_EQ(identify("/dev/loop1"), 0);
    EXPECT_TRUE(record.hasLine("'/dev/loop1' is not SCSI device", 2));
    EXPECT_EQ(identify("/dev/sdq"), 0);
    EXPECT_TRUE(record.hasLine("ZqDeviceTree::getDevice exception caught :no such device: /dev/sdq", 2));
    EXPECT_EQ(identify(""), 0);
    EXPECT_EQ(identify(nullptr), 0);
    EXPECT_EQ(record.countLines("Device name is not set. Cannot fetch array info.", 2), 2u);
}

TEST_F(Identification, ShortOrMissingInquiryDataFail) {
    auto shortStandard = SimulatedDisk::volume("/dev/sde", "IBM", "2145", "abcdef012345", kUid);
    shortStandard.standardInquiry.resize(20);
    env.disks().add(shortStandard);
    EXPECT_EQ(identify("/dev/sde"), 0);
    EXPECT_TRUE(record.hasLine("Fail to send scsi inquiry cdb, caught exception:standard inquiry returned 20 bytes"));

    auto noDeviceId = SimulatedDisk::volume("/dev/sdf", "IBM", "2145", "abcdef012345", kUid);
    noDeviceId.deviceIdPage.resize(12);
    env.disks().add(noDeviceId);
    EXPECT_EQ(identify("/dev/sdf"), 0);
    EXPECT_TRUE(record.hasLine("page 0x83 (12 bytes) holds no NAA designator of the logical unit"));

    auto shortSerial = SimulatedDisk::volume("/dev/sdg", "IBM", "2145", "abc", kUid);
    env.disks().add(shortSerial);
    EXPECT_EQ(identify("/dev/sdg"), 0);
    EXPECT_TRUE(record.hasLine("Failed to get serial number, buffer [abc]", 2));
    EXPECT_TRUE(record.hasLine("Failed to get page 0x80 on device [/dev/sdg], can not get array info", 2));

    // A page length beyond the data read is cut to what arrived.
    auto lying = SimulatedDisk::volume("/dev/sdh", "IBM", "2145", "abcdef012345", kUid);
    lying.unitSerialPage[3] = 250;
    env.disks().add(lying);
    ASSERT_EQ(identify("/dev/sdh"), 1);
    EXPECT_EQ(arrayId, "0000ABCDEF012345");
}

// Page 0x83 is read by designator, and a node without a logical unit behind
// it (the array unmapped it) is no volume at all.
TEST_F(Identification, TheLunIdIsTheLogicalUnitsNaaDesignator) {
    auto naaAfterT10 = SimulatedDisk::volume("/dev/sdi", "IBM", "2145", "abcdef012345", kUid);
    // A T10 vendor designator first, then the NAA one.
    std::vector<uint8_t> t10{0x02, 0x01, 0x00, 0x08, 'I', 'B', 'M', ' ', '2', '1', '4', '5'};
    auto& page = naaAfterT10.deviceIdPage;
    page.insert(page.begin() + 4, t10.begin(), t10.end());
    page[3] = uint8_t(page.size() - 4);
    env.disks().add(naaAfterT10);
    ASSERT_EQ(identify("/dev/sdi"), 1);
    EXPECT_EQ(lunId, kUidUpper);

    auto portDesignator = SimulatedDisk::volume("/dev/sdj", "IBM", "2145", "abcdef012345", kUid);
    portDesignator.deviceIdPage[5] = 0x13;  // NAA, but of the target port
    env.disks().add(portDesignator);
    EXPECT_EQ(identify("/dev/sdj"), 0);
    auto otherPage = SimulatedDisk::volume("/dev/sdk", "IBM", "2145", "abcdef012345", kUid);
    otherPage.deviceIdPage[1] = 0x80;
    env.disks().add(otherPage);
    EXPECT_EQ(identify("/dev/sdk"), 0);
    EXPECT_EQ(record.countLines("holds no NAA designator of the logical unit"), 2u);

    auto gone = SimulatedDisk::volume("/dev/sdl", "IBM", "2145", "abcdef012345", kUid);
    gone.standardInquiry[0] = 0x7F;
    env.disks().add(gone);
    EXPECT_EQ(identify("/dev/sdl"), 0);
    EXPECT_TRUE(record.hasLine("Device [/dev/sdl] has no logical unit (peripheral qualifier 3)", 0));
}

TEST_F(Identification, ArrayIdFromTheDatabaseNeedsAKnownArray) {
    env.config().set("HostModule", "IBMSVC_GET_ARRAYID_FROM_DB", "1");
    ASSERT_EQ(identify("/dev/sdb", true), 1);
    EXPECT_EQ(arrayId, "");
    EXPECT_TRUE(record.hasLine("Reading ArrayID from HubServ DB instead getting from device SCSI page 0x80"));
    EXPECT_TRUE(record.hasLine("Error:Array list returned by the DB seems to be empty  cannot go ahead", 2));
    ASSERT_EQ(identify("/dev/sdb", false), 1);  // without the fetch flag the serial stands
    EXPECT_EQ(arrayId, "0000ABCDEF012345");
}

TEST_F(Identification, DevicesGivenByGuid) {
    record.setFlags(ZQSO::SNAP_FLAG_DEVICE_BY_GUID);
    EXPECT_EQ(identify("60:05:07:68:ab", true, true), 0);
    EXPECT_TRUE(record.hasLine("Failed to get source volume GUID", 2));
    record.setHostValue(ZQSO::GET_VALUE_VOL_SOURCE_GUID, "30:31:32");
    ASSERT_EQ(identify("60:05:07:68:ab", true, true), 1);
    EXPECT_EQ(arrayId, "0000012");
    EXPECT_EQ(lunId, "600507" "68AB");
    EXPECT_EQ(vendor, "IBM");
    EXPECT_EQ(product, "2145");
    // Without the honour flag the name is a device path again.
    EXPECT_EQ(identify("60:05:07:68:ab", true, false), 0);
}

TEST_F(Identification, VirtualMachineDevicesCarryTheirInquiryInTheName) {
    std::string hexInquiry;
    for (uint8_t b : SimulatedDisk::volume("x", "IBM", "2145", "s", kUid).standardInquiry) {
        char two[3];
        snprintf(two, sizeof(two), "%02x", b);
        hexInquiry += two;
    }
    std::string lun = std::string("naa.") + "abcdef" + kUid + "tail";
    std::string device = "{idatype:vmware,standardinqury:" + hexInquiry + ",version:10,lunuuid:" + lun + "}";
    ASSERT_EQ(identify(device.c_str(), false), 1) << record.dump();
    EXPECT_EQ(lunId, kUidUpper);
    EXPECT_TRUE(record.hasLine("Not going to fetch Array ID", 0));
    ASSERT_EQ(identify(device.c_str(), true), 1);  // no array found: the id stays empty
    EXPECT_EQ(arrayId, "");

    std::string plain = "{idatype:vmware,standardinqury:01234567IBM     2145            0000,version:9,lunuuid:" +
                        lun + "}";
    EXPECT_EQ(identify(plain.c_str(), false), 1) << record.dump();

    std::string shortLun = "{idatype:vmware,standardinqury:" + hexInquiry + ",version:10,lunuuid:naa.123}";
    EXPECT_EQ(identify(shortLun.c_str(), false), 0);
    std::string shortInquiry = "{idatype:vmware,standardinqury:0102,version:10,lunuuid:" + lun + "}";
    EXPECT_EQ(identify(shortInquiry.c_str(), false), 0);
    std::string noLun = "{idatype:vmware,standardinqury:" + hexInquiry + ",version:10}";
    EXPECT_EQ(identify(noLun.c_str(), false), 0);
}

TEST_F(Identification, RecordDataFormReadsSlot91) {
    EXPECT_EQ(getDevArrayInfo2(&os, &record, "/dev/sdb", vendor, product, arrayId, lunId, true), 0);
    EXPECT_TRUE(record.hasLine("the record holds no SCSI data for page code 0", 2));
    SimulatedDisk disk;
    ASSERT_TRUE(env.disks().find("/dev/sdb", &disk));
    record.setScsiPages(disk);
    ASSERT_EQ(getDevArrayInfo2(&os, &record, "/dev/sdb", vendor, product, arrayId, lunId, true), 1);
    EXPECT_EQ(arrayId, "0000ABCDEF012345");
    EXPECT_EQ(lunId, kUidUpper);
    // The record's own bit 29 is honoured.
    record.setFlags(ZQSO::SNAP_FLAG_DEVICE_BY_GUID);
    record.setHostValue(ZQSO::GET_VALUE_VOL_SOURCE_GUID, "414243");
    ASSERT_EQ(getDevArrayInfo2(&os, &record, "ab:cd", vendor, product, arrayId, lunId, true), 1);
    EXPECT_EQ(arrayId, "0000ABC");
}
