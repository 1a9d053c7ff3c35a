// Map and unmap from end to end: copies mapped to the host's initiators and
// found among its disks after rescans, hidden again and their disks removed,
// judged by the array's host mappings and the host's disks.
#include "HostFlowTest.h"
#include "ZqHostDiskView.h"

namespace flowtest {
namespace {

using arraysim::Fault;

class MapUnmap : public HostFlowTest {};

TEST_F(MapUnmap, CopiesAreFoundAsDisksAfterRescansAndGoAgain) {
    auto batch = snapshots(2);
    fibreChannelHost();
    const std::string t0 = targetOf((*batch)[0]), t1 = targetOf((*batch)[1]);
    fx.hostDisks().setRescansToAppear(t1, 3);
    const int64_t start = fx.clock().nowMs();

    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.clock().nowMs() - start, 30000) << "sleeps of 10 and 20 s";
    EXPECT_EQ(fx.host().rescans().size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ((*batch)[i].status(), ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
        EXPECT_EQ(volumeOfDisk(diskOf((*batch)[i])), targetOf((*batch)[i]));
        EXPECT_EQ(fx.hostsOfVolume(targetOf((*batch)[i])), std::set<std::string>{"testhost"});
    }
    EXPECT_EQ(hostObjects(), 1u) << "the WWPN given as 21:00:... found the host object";
    EXPECT_TRUE((*batch)[1].hasLine("zqso_mapSnaps snapDevice Path: [" + diskOf((*batch)[1]) + "]", 1));

    ASSERT_EQ(isMapped(*batch), 0);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{12, 12}));
    const std::vector<std::string> disks{diskOf((*batch)[0]), diskOf((*batch)[1])};
    ASSERT_EQ(unmap(*batch), 0) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 14}));
    EXPECT_TRUE(fx.hostsOfVolume(t0).empty() && fx.hostsOfVolume(t1).empty());
    EXPECT_EQ(fx.host().rescans().back().removedPaths, disks);
    EXPECT_TRUE(fx.hostDisks().luns().empty());
    ASSERT_EQ(isMapped(*batch), 0);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 14}));
}

TEST_F(MapUnmap, CopiesTheHostAlreadySeesNeedNoRescan) {
    auto batch = snapshots(2);
    fibreChannelHost();
    for (size_t i = 0; i < 2; ++i) fx.mapToHost("testhost", targetOf((*batch)[i]));
    fx.hostDisks().rescan();
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    EXPECT_TRUE(fx.host().rescans().empty());
    EXPECT_EQ(calls("ExposePaths"), 0u);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{12, 12}));
    EXPECT_EQ(volumeOfDisk(diskOf((*batch)[1])), targetOf((*batch)[1]));
    EXPECT_TRUE((*batch)[0].hasLine("Found all the device(s)[size-2] mapped to the host.", 0));

    // Unmapped behind the host's back: the host keeps the node, which
    // answers that no logical unit is behind it.
    fx.unmapFromHost("testhost", targetOf((*batch)[0]));
    ASSERT_TRUE(fx.hostDisks().lunByName(diskOf((*batch)[0])));
    ASSERT_EQ(volumeOfDisk(diskOf((*batch)[0])), "");
    ASSERT_EQ(isMapped(*batch), 0);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 12})) << "a stale disk is no mapped copy";
}

TEST_F(MapUnmap, ADiskListedBeforeMappingIsFoundInTheFifthPass) {
    auto batch = snapshots(2);
    fibreChannelHost();
    const std::string t0 = targetOf((*batch)[0]);
    // The host still lists the disk of an earlier mapping of the first copy.
    fx.mapToHost("testhost", t0);
    fx.hostDisks().rescan();
    fx.unmapFromHost("testhost", t0);
    const int64_t start = fx.clock().nowMs();
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    // The second copy's disk is new from the first pass on, so only the
    // fifth pass looks at every disk.
    EXPECT_EQ(fx.host().rescans().size(), 5u);
    EXPECT_EQ(fx.clock().nowMs() - start, 100000) << "sleeps of 10, 20, 30 and 40 s";
    EXPECT_EQ(statuses(*batch), (std::vector<int>{12, 12}));
    EXPECT_EQ(volumeOfDisk(diskOf((*batch)[0])), t0);
}

TEST_F(MapUnmap, ADiskThatNeverAppearsEndsAtTheTimeLimit) {
    auto batch = snapshots(3);
    fibreChannelHost();
    fx.hostDisks().setRescansToAppear(targetOf((*batch)[2]), zq::platform::HostDiskView::kNever);
    fx.config().set("HostModule", "nMountRetrySeconds", "120");
    int64_t start = fx.clock().nowMs();
    EXPECT_EQ(map(*batch), 2) << dump(*batch);
    EXPECT_EQ(fx.clock().nowMs() - start, 300000) << "120 s is taken as 300 s, and no sleep runs past it";
    EXPECT_EQ(fx.host().rescans().size(), 9u) << "passes at 0, 10, 30, 60, 100, 150, 210, 280 and 300 s";
    EXPECT_EQ(statuses(*batch), (std::vector<int>{12, 12, 9}));
    EXPECT_EQ((*batch)[2].errorCode(), 60509u);
    EXPECT_EQ((*batch)[0].errorCode(), 0u);

    // Alone, with 600 s: none found.
    auto alone = fx.makeBatch(1);
    (*alone)[0].setState((*batch)[2].state());
    (*alone)[0].setError(0, "");
    fx.config().set("HostModule", "nMountRetrySeconds", "600");
    const size_t rescans = fx.host().rescans().size();
    start = fx.clock().nowMs();
    EXPECT_EQ(map(*alone), 1);
    EXPECT_EQ(fx.clock().nowMs() - start, 600000);
    EXPECT_EQ(fx.host().rescans().size() - rescans, 12u);
    EXPECT_EQ((*alone)[0].errorCode(), 60509u);
    EXPECT_EQ((*alone)[0].errorMessage(), "Unable to find OS device(s) corresponding to snap(s)/clone(s)");
}

TEST_F(MapUnmap, AMixedCaseIscsiNameIsMappedAndReallyUnmapped) {
    auto batch = snapshots(1);
    fx.host().setInitiators({{"iqn.1994-05.com.RedHat:Db01", true}});
    const std::string target = targetOf((*batch)[0]);
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    ASSERT_EQ(fx.hostsOfVolume(target).size(), 1u);
    ASSERT_EQ(isMapped(*batch), 0);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_MAPPED_VISIBLE) << "the array keeps the name in lower case";
    const int unmapped = unmap(*batch);
    EXPECT_TRUE(unmapped != 0 || fx.hostsOfVolume(target).empty()) << "never a false success";
    EXPECT_EQ(unmapped, 0) << dump(*batch);
    EXPECT_TRUE(fx.hostsOfVolume(target).empty());
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    EXPECT_EQ(hostObjects(), 1u) << "the host object made by the first map is found again";
}

TEST_F(MapUnmap, VirtualMachineModeMapsToTheHypervisorAndTheLocalHost) {
    auto batch = snapshots(1);
    fibreChannelHost();
    fx.addHost("esx01", {"10000090FA123456"});
    auto& esx = fx.addVirtualHost("esx01", {"10:00:00:90:fa:12:34:56", false});
    TestSnapInfo& r = (*batch)[0];
    r.setSourceDevicePath("{idatype:vmware,name:vm01}");
    r.setVirtualHostName("esx01");
    const std::string target = targetOf(r);
    // The local host's mapping fails: the call does not.
    r.setLineHook([&](const zqtest::LogLine& line) {
        const std::string& t = line.text;
        if (t.find("Successfully mapped the device-") != std::string::npos && t.size() > 7 &&
            t.compare(t.size() - 7, 7, "to host") == 0)
            fx.sim().faults().add(Fault::returns("ExposePaths", 4, 1));
    });
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    r.setLineHook(nullptr);
    EXPECT_EQ(r.status(), ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
    EXPECT_EQ(diskOf(r).rfind("{idatype:vmware", 0), 0u);
    EXPECT_EQ(volumeOfDisk(diskOf(r)), target);
    EXPECT_EQ(fx.hostsOfVolume(target), std::set<std::string>{"esx01"});
    EXPECT_EQ(r.errorCode(), 0u);
    EXPECT_TRUE(r.hasLine("to local host, ignoring the error", 2));
    EXPECT_GE(esx.rescans(), 1u);

    // Mapped again, the local host gets its mapping.
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    EXPECT_EQ(fx.hostsOfVolume(target), (std::set<std::string>{"esx01", "testhost"}));
    ASSERT_EQ(unmap(*batch), 0) << dump(*batch);
    EXPECT_TRUE(fx.hostsOfVolume(target).empty());
    EXPECT_TRUE(fx.host().rescans().back().removedPaths.empty());
}

TEST_F(MapUnmap, AProviderFaultLeavesTheCopyMappedAndSaysSo) {
    auto batch = snapshots(1);
    fibreChannelHost();
    const std::string target = targetOf((*batch)[0]);
    fx.mapToHost("testhost", target);
    fx.sim().faults().add(Fault::http("*", 500, -1));
    EXPECT_EQ(isMapped(*batch), 0);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_MAP_NOT_DETERMINED);
    EXPECT_EQ(unmap(*batch), 1);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_UNMAP_NOT_DONE);
    fx.sim().faults().clear();
    EXPECT_EQ(fx.hostsOfVolume(target), std::set<std::string>{"testhost"});
}

TEST_F(MapUnmap, OneOfTwoUnmapsFails) {
    auto batch = snapshots(2);
    fibreChannelHost();
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    const std::string disk0 = diskOf((*batch)[0]);
    (*batch)[1].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text.rfind("processUnMapSnaps: Snap Device[", 0) == 0)
            fx.sim().faults().add(Fault::returns("HidePaths", 4, 1));
    });
    EXPECT_EQ(unmap(*batch), 2) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 15}));
    EXPECT_EQ(fx.host().rescans().back().removedPaths, std::vector<std::string>{disk0});
    EXPECT_TRUE(fx.hostsOfVolume(targetOf((*batch)[0])).empty());
    EXPECT_EQ(fx.hostsOfVolume(targetOf((*batch)[1])), std::set<std::string>{"testhost"});

    // A host that cannot list its disks could not remove those of the copies
    // it unmaps: nothing is unmapped.
    fx.sim().faults().clear();
    (*batch)[1].setLineHook(nullptr);
    fx.host().setDeviceListFailure(true);
    const size_t rescans = fx.host().rescans().size();
    EXPECT_EQ(unmap(*batch), 1) << dump(*batch);
    fx.host().setDeviceListFailure(false);
    EXPECT_TRUE((*batch)[0].hasLine("zqso_unmapSnaps: getDeviceList failure", 2));
    EXPECT_EQ(calls("HidePaths"), 2u) << "one each for the first unmap, none since";
    EXPECT_EQ(fx.hostsOfVolume(targetOf((*batch)[1])), std::set<std::string>{"testhost"});
    EXPECT_EQ(fx.host().rescans().size(), rescans);
}

TEST_F(MapUnmap, AFullCloneIsMappedOnlyOnceItsCopyHasCompleted) {
    fx.setEngineId(kCloneEngine);
    sources = addSources(1, "cl");
    auto batch = batchFor(sources, "full");
    ASSERT_EQ(prepare(*batch), 0) << dump(*batch);
    ASSERT_EQ(snap(*batch), 0) << dump(*batch);
    fibreChannelHost();
    TestSnapInfo& r = (*batch)[0];
    const std::string target = targetOf(r);
    const auto mapping = fx.mappingOfTarget(target);
    ASSERT_TRUE(mapping);
    ASSERT_EQ(fx.syncState(mapping->name), 5) << "copying after the start";
    // Mapped only when complete: the array's progress is read when the map is made.
    int percentWhenMapped = -1;
    r.setLineHook([&](const zqtest::LogLine& line) {
        if (line.text.find("Successfully mapped the device-") == std::string::npos) return;
        percentWhenMapped = fx.sim().withModel([&](arraysim::Model& m, int64_t now) {
            const auto* fc = m.state.mappingOfTarget(m.state.volumeByName(target)->id);
            return fc ? int(m.copies.progressAt(*fc, now)) : 100;
        });
    });
    const int64_t start = fx.clock().nowMs();
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    r.setLineHook(nullptr);
    EXPECT_EQ(percentWhenMapped, 100);
    EXPECT_GE(fx.clock().nowMs() - start, 480 * 1000) << "1 GiB at copy rate 50 takes 512 s";
    EXPECT_GE(r.countLines("Resync still in progress, waiting 30 seconds"), 16u);
    EXPECT_EQ(r.status(), ZQSO::SNAP_STATUS_MAPPED_VISIBLE);
    EXPECT_EQ(fx.hostsOfVolume(target), std::set<std::string>{"testhost"});
    ASSERT_EQ(unmap(*batch), 0) << dump(*batch);

    // A copy at rate 0 never completes: it is not waited for, nor mapped.
    auto again = batchFor(sources, "again");
    ASSERT_EQ(prepare(*again), 0) << dump(*again);
    ASSERT_EQ(snap(*again), 0) << dump(*again);
    const std::string stuck = targetOf((*again)[0]);
    fx.sim().withModel([&](arraysim::Model& m, int64_t now) {
        return m.copies.setCopyRate(m.state.mappingOfTarget(m.state.volumeByName(stuck)->id)->id, 0, now);
    });
    const size_t exposes = calls("ExposePaths");
    EXPECT_EQ(map(*again), 1) << dump(*again);
    EXPECT_EQ((*again)[0].errorCode(), 60558u);
    EXPECT_TRUE((*again)[0].hasLine("copies at rate 0 and never completes, not mapped", 2));
    EXPECT_EQ(calls("ExposePaths"), exposes);
    EXPECT_TRUE(fx.hostsOfVolume(stuck).empty());
}

// On a multipath host a copy's disk is the device-mapper device over its
// paths. Unmap finds it while the array still maps it and writes it back
// then; once unmapped, the host removes the holder with its paths.
TEST_F(MapUnmap, UnmapRemovesTheDisksItFoundWhileMappedHolderAndPaths) {
    fx.hostDisks().setMultipath(true);
    auto batch = snapshots(2);
    fibreChannelHost();
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    const std::vector<std::string> disks{diskOf((*batch)[0]), diskOf((*batch)[1])};
    EXPECT_EQ(disks[0].rfind("/dev/mapper/mpath", 0), 0u);
    EXPECT_EQ(volumeOfDisk(disks[1]), targetOf((*batch)[1]));
    unsigned flushedBeforeHiding = 0;
    (*batch)[0].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text.rfind("processUnMapSnaps: Snap Device[", 0) == 0)
            flushedBeforeHiding = fx.hostDisks().flushes(disks[0]);
    });
    ASSERT_EQ(unmap(*batch), 0) << dump(*batch);
    EXPECT_EQ(flushedBeforeHiding, 1u) << "written back while its paths still work";
    EXPECT_EQ(fx.host().rescans().back().removedPaths, disks);
    EXPECT_TRUE(fx.hostDisks().luns().empty()) << "no holder left without paths";
    EXPECT_FALSE(fx.hostDisks().lunByName("/dev/sdb"));
}

// A node the host kept from an earlier mapping at the same LUN answers the
// new copy, but the host still holds the size and blocks of the old one:
// map reads it again before it takes it.
TEST_F(MapUnmap, ANodeKeptFromAnEarlierCopyIsReadAgainBeforeItIsTaken) {
    auto first = snapshots(1);
    fibreChannelHost();
    ASSERT_EQ(map(*first), 0) << dump(*first);
    const std::string node = diskOf((*first)[0]);
    fx.unmapFromHost("testhost", targetOf((*first)[0]));
    auto second = batchFor(sources, "t");
    ASSERT_EQ(prepare(*second), 0) << dump(*second);
    ASSERT_EQ(snap(*second), 0) << dump(*second);
    const std::string target = targetOf((*second)[0]);
    ASSERT_EQ(map(*second), 0) << dump(*second);
    ASSERT_EQ(diskOf((*second)[0]), node) << "the new copy sits at the old LUN";
    EXPECT_EQ(fx.hostDisks().rereads(node), 1u);
    const auto lun = fx.hostDisks().lunByName(node);
    ASSERT_TRUE(lun);
    EXPECT_EQ(lun->volumeName, target);
    EXPECT_EQ(lun->generation, fx.sim().generation(target));
}

// A copy whose disk is in use on this host (mounted) is not pulled from
// under its user.
TEST_F(MapUnmap, ACopyInUseOnTheHostIsNotUnmapped) {
    auto batch = snapshots(1);
    fibreChannelHost();
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    const std::string disk = diskOf((*batch)[0]);
    fx.hostDisks().setHolder(disk, "mounted on /mnt/copy");
    EXPECT_EQ(unmap(*batch), 1) << dump(*batch);
    EXPECT_EQ((*batch)[0].status(), ZQSO::SNAP_STATUS_UNMAP_NOT_DONE);
    EXPECT_EQ((*batch)[0].errorCode(), 60551u);
    EXPECT_TRUE((*batch)[0].hasLine("is in use on this host as [" + disk + "] (mounted on /mnt/copy), not unmapped", 2));
    EXPECT_EQ(fx.hostsOfVolume(targetOf((*batch)[0])), std::set<std::string>{"testhost"});
    EXPECT_TRUE(fx.host().rescans().back().removedPaths.empty());
    fx.hostDisks().setHolder(disk, "");
    (*batch)[0].setError(0, "");
    EXPECT_EQ(unmap(*batch), 0) << dump(*batch);
    EXPECT_TRUE(fx.hostsOfVolume(targetOf((*batch)[0])).empty());
}

// The host's ports sit in two host objects, and it has an iSCSI name the
// array does not know first: the copy is mapped through every host object
// that holds one of its ports, no new one is made, and unmap lets go of all.
TEST_F(MapUnmap, EveryHostObjectOfTheHostsPortsIsMappedAndUnmapped) {
    auto batch = snapshots(2);
    fx.host().setInitiators(
        {{"iqn.1994-05.com.example:db01", true}, {kWwpn, false}, {"21:00:00:24:ff:4a:bc:df", false}});
    fx.addHost("fabricA", {kWwpnOnArray});
    fx.addHost("fabricB", {"21000024FF4ABCDF"});
    ASSERT_EQ(map(*batch), 0) << dump(*batch);
    const std::string t0 = targetOf((*batch)[0]), t1 = targetOf((*batch)[1]);
    EXPECT_EQ(fx.hostsOfVolume(t0), (std::set<std::string>{"fabricA", "fabricB"}));
    EXPECT_EQ(hostObjects(), 2u) << "the iSCSI name made no host object of its own";
    // Mapped to both behind the engine's back too: unmap lets go of both.
    fx.unmapFromHost("fabricB", t1);
    fx.mapToHost("fabricB", t1);
    ASSERT_EQ(unmap(*batch), 0) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 14}));
    EXPECT_TRUE(fx.hostsOfVolume(t0).empty());
    EXPECT_TRUE(fx.hostsOfVolume(t1).empty());
}

// A clone that was never started or is only prepared holds no image: it is
// not mapped, and says why.
TEST_F(MapUnmap, ACloneWithoutAWholeImageIsNotMapped) {
    auto like = snapshots(1);
    fibreChannelHost();
    fx.addSource("cl0");
    fx.addSource("cl1");
    const auto prepared = fx.addClone("cl0", "cl0_c", false, EngineSimFixture::CopyStage::Prepared);
    const auto idle = fx.addClone("cl1", "cl1_c", false, EngineSimFixture::CopyStage::Idle);
    int n = 0;
    for (const auto* copy : {&prepared, &idle}) {
        auto batch = fx.makeBatch(1);
        (*batch)[0].setSourceDevicePath("/dev/disk-" + copy->source.name);
        (*batch)[0].setMeta(1, uniqueIdOf(*copy, (*like)[0], 5));
        const size_t exposes = calls("ExposePaths");
        EXPECT_EQ(map(*batch), 1) << dump(*batch);
        EXPECT_EQ((*batch)[0].errorCode(), 60558u);
        EXPECT_TRUE((*batch)[0].hasLine(n++ == 0 ? "its FlashCopy state is [4:Prepared], not mapped"
                                                 : "its FlashCopy state is [11:Idle], not mapped",
                                        2))
            << dump(*batch);
        EXPECT_EQ(calls("ExposePaths"), exposes);
        EXPECT_TRUE(fx.hostsOfVolume(copy->target.name).empty());
    }
}

// A map that fails part-way takes back what it mapped; a copy it cannot
// take back says so in its record.
TEST_F(MapUnmap, AMapThatFailsPartWayUnmapsWhatItMapped) {
    auto batch = snapshots(3);
    fibreChannelHost();
    bool alsoFailUnmap = false;
    // The third copy cannot be exposed: its target is offline.
    (*batch)[2].setLineHook([&](const zqtest::LogLine& line) {
        if (line.text.rfind("processMapSnaps: Snap name-[", 0) != 0) return;
        fx.sim().setVolumeStatus(targetOf((*batch)[2]), 6);
        if (alsoFailUnmap) fx.sim().faults().add(Fault::returns("HidePaths", 4, 1));
    });
    EXPECT_EQ(map(*batch), 1) << dump(*batch);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 14, 14}));
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(fx.hostsOfVolume(targetOf((*batch)[i])).empty()) << i;
    EXPECT_TRUE((*batch)[0].hasLine("again, the map failed at snap-[s_db2]", 1));
    EXPECT_EQ((*batch)[2].errorCode(), 60558u);
    EXPECT_TRUE(fx.host().rescans().empty());

    alsoFailUnmap = true;
    for (size_t i = 0; i < 3; ++i) (*batch)[i].setError(0, "");
    EXPECT_EQ(map(*batch), 1) << dump(*batch);
    EXPECT_EQ((*batch)[1].errorCode(), 60558u) << "the first one taken back is the last one mapped";
    EXPECT_TRUE((*batch)[1].hasLine("stays mapped to the host: the map failed at snap-[s_db2]", 2));
    EXPECT_EQ(fx.hostsOfVolume(targetOf((*batch)[1])), std::set<std::string>{"testhost"});
    EXPECT_TRUE(fx.hostsOfVolume(targetOf((*batch)[0])).empty());
}

TEST_F(MapUnmap, CopiesThatMustNotBeMappedStopTheBatchBeforeAnything) {
    auto batch = snapshots(3);
    fibreChannelHost();
    fx.addHost("otherhost", {"10000000C9AABB09"});
    fx.mapToHost("otherhost", targetOf((*batch)[1]));
    const std::string gone = targetOf((*batch)[2]);
    ASSERT_TRUE(fx.sim().vanish("volume", gone));
    EXPECT_EQ(map(*batch), 1);
    EXPECT_EQ(statuses(*batch), (std::vector<int>{14, 10, 0}));
    EXPECT_EQ((*batch)[1].errorCode(), 60551u);
    EXPECT_EQ((*batch)[2].errorCode(), 60558u);
    EXPECT_EQ(calls("ExposePaths"), 0u);
    EXPECT_EQ(fx.hostsOfVolume(targetOf((*batch)[1])), std::set<std::string>{"otherhost"});

    // A batch that names two kinds of host is refused before the array is asked.
    fx.sim().requestLog().clear();
    (*batch)[0].setSourceDevicePath("{idatype:vmware,name:vm01}");
    (*batch)[0].setVirtualHostName("esx01");
    (*batch)[0].setError(0, "");
    EXPECT_EQ(map(*batch), 1);
    EXPECT_EQ((*batch)[0].errorCode(), 62002u);
    EXPECT_EQ(fx.sim().requestLog().size(), 0u);
}

}  // namespace
}  // namespace flowtest
