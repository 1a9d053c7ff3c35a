// Base of the map, unmap, revert and reconcile tests: snapshots made through
// prepare and snap, a test host whose disks are the simulator's host
// mappings, and the host-side entry points.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DeviceIdentification.h"
#include "FlowTest.h"

namespace flowtest {

class HostFlowTest : public FlowTest {
protected:
    static constexpr const char* kWwpn = "21:00:00:24:ff:4a:bc:de";
    static constexpr const char* kWwpnOnArray = "21000024FF4ABCDE";

    // Snapshots of `n` new sources "<prefix>0".., prepared and snapped.
    std::unique_ptr<RecordBatch> snapshots(size_t n, const std::string& prefix = "db") {
        fx.setEngineId(kSnapshotEngine);
        sources = addSources(n, prefix);
        auto batch = batchFor(sources, "s");
        EXPECT_EQ(prepare(*batch), 0) << dump(*batch);
        EXPECT_EQ(snap(*batch), 0) << dump(*batch);
        return batch;
    }
    // The test host reaches the array through one FC port that the array
    // knows as host object "testhost".
    void fibreChannelHost() {
        fx.host().setInitiators({{kWwpn, false}});
        fx.addHost("testhost", {kWwpnOnArray});
    }

    int isMapped(RecordBatch& b) { return zqso_isMapped(b.records(), b.count(), b.os()); }
    int map(RecordBatch& b) { return zqso_mapSnaps(b.records(), b.count(), b.os()); }
    int unmap(RecordBatch& b) { return zqso_unmapSnaps(b.records(), b.count(), b.os()); }
    int revert(RecordBatch& b) { return zqso_revertSnaps(b.records(), b.count(), b.os()); }
    int reconcile(RecordBatch& b) { return zqso_reconcileSnaps(b.records(), b.count(), b.os()); }

    // The volume a host disk (device path or descriptor) shows; empty when none.
    std::string volumeOfDisk(const std::string& device) {
        std::string vendor, product, arrayId, lun;
        if (!ZQSOIBMSVCAPI::getDevArrayInfo(&fx.host(), nullptr, device.c_str(), vendor, product, arrayId, lun, false,
                                            false))
            return std::string();
        const auto v = fx.volume(lun);
        return v ? v->name : std::string();
    }
    static std::string diskOf(TestSnapInfo& r) { return r.state().snapDevicePath; }
    // Metadata 1 of a seeded copy (snap operation 4 snapshot, 5 clone), with
    // the mapping service of `like`.
    std::string uniqueIdOf(const EngineSimFixture::Copy& copy, TestSnapInfo& like, int snapOp = 4) {
        const auto f = uniqueId(like);
        return f.arrayId + "*" + std::to_string(snapOp) + "*" + f.snapServicePath + "*" + copy.source.uid + "*" +
               copy.source.path + "**" + copy.target.uid + "*" + copy.target.path + "*";
    }
    size_t hostObjects() {
        return fx.sim().withModel([](arraysim::Model& m, int64_t) { return m.state.hosts.size(); });
    }

    std::vector<std::string> sources;
};

}  // namespace flowtest
