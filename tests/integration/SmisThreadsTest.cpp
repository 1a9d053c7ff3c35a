// Several threads with their own connections use the shared volume,
// concise-volume and hardware-id lists at once (run under TSan as well), and
// lookups on two arrays side by side.
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "SmisSimTest.h"

using namespace Pegasus;
using smistest::GiB;
using smistest::kCluster;

namespace {

class SmisThreads : public smistest::SmisSimTest {};

TEST_F(SmisThreads, SharedListsServeEveryThreadRightAnswers) {
    settings.set("ZQ_SMIS_CACHE_VOLUME_INSTANCES", 1);
    settings.set("ZQ_IBMSVC_CACHE_HBA_INSTANCES", 1);
    constexpr int kThreads = 4;
    constexpr int kVolumes = 12;
    std::vector<std::string> uids;
    std::vector<CIMObjectPath> paths;
    for (int i = 0; i < kVolumes; ++i) {
        const std::string name = "vol" + std::to_string(i);
        ASSERT_TRUE(fx.sim().addVolume(name, "Pool0", GiB).ok());
        uids.push_back(fx.volumeUid(name));
        paths.push_back(fx.volumePath(name));
    }
    for (int t = 0; t < kThreads; ++t)
        ASSERT_TRUE(fx.sim().addHost("host" + std::to_string(t), {"10000000C9A1B2D" + std::to_string(t)}).ok());

    std::vector<zqtest::TestSnapInfo> records(kThreads);
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ZqCimConnection own;
            ZqCimUtil lookups;
            own.SetLogger(&records[t]);
            lookups.SetLogger(&records[t]);
            own.SetCimom(Params(t % 2 == 1));
            if (own.ConnectCimom() != 0) {
                ++wrong[t];
                return;
            }
            CIMObjectPath system = lookups.GetSystemObjPathByNameProp(own, kCluster);
            Array<String> port;
            port.append(String("10000000C9A1B2D" + std::to_string(t)));
            for (int round = 0; round < 3; ++round) {
                for (int i = t; i < kVolumes; i += 2) {
                    if (!smistest::SameObject(lookups.GetVolObjPathByUUID(own, String(uids[i]), kCluster), paths[i]))
                        ++wrong[t];
                    if (!smistest::SameObject(lookups.GetIBMSVCVolObjPathByUUID(own, uids[i], kCluster), paths[i]))
                        ++wrong[t];
                }
                Array<CIMObjectPath> hosts = lookups.GetIBMSVCCtlrListByHwIDs(own, system, port);
                if (hosts.size() != 1 ||
                    lookups.GetCIMProp(own, hosts[0], "ElementName") != "host" + std::to_string(t))
                    ++wrong[t];
            }
            own.DisconnectCimom();
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << records[t].dump();
    // One enumeration of each list served every thread.
    auto asked = [&](const char* operation, const char* className) {
        size_t n = 0;
        for (const auto& r : fx.sim().requestLog().find(operation))
            if (r.target == className) ++n;
        return n;
    };
    EXPECT_EQ(asked("EnumerateInstances", "CIM_StorageVolume"), 1u);
    EXPECT_EQ(asked("EnumerateInstances", "CIM_StorageHardwareID"), 1u);
    // the concise list is kept per endpoint: the HTTP and the HTTPS port are two
    EXPECT_EQ(asked("EnumerateInstanceNames", "IBMTSSVC_ConciseVolume"), 2u);
}

// A second array with a cluster id (and so volume ids) of its own.
class TwoArrays : public SmisThreads {
protected:
    static constexpr const char* kOtherCluster = "00000200A0B1C2D3";

    TwoArrays() {
        zqtest::SimulatorFixture::Options o;
        o.installClock = false;
        o.https = false;
        o.cluster.cluster.id = kOtherCluster;
        other = std::make_unique<zqtest::SimulatorFixture>(std::move(o));
    }
    ZqCimomParams OtherParams() const {
        ZqCimomParams p = Params();
        p.Port = Pegasus::Uint16(other->httpPort());
        return p;
    }
    static size_t ConciseEnumerations(zqtest::SimulatorFixture& f) {
        size_t n = 0;
        for (const auto& r : f.sim().requestLog().find("EnumerateInstanceNames"))
            if (r.target == "IBMTSSVC_ConciseVolume") ++n;
        return n;
    }

    std::unique_ptr<zqtest::SimulatorFixture> other;
};

TEST_F(TwoArrays, EachArrayKeepsItsOwnConciseList) {
    ASSERT_TRUE(fx.sim().addVolume("here", "Pool0", GiB).ok());
    ASSERT_TRUE(other->sim().addVolume("there", "Pool0", GiB).ok());
    Connect();
    ZqCimConnection second;
    second.SetLogger(&record);
    second.SetCimom(OtherParams());
    ASSERT_EQ(second.ConnectCimom(), 0) << record.dump();
    const std::string here = fx.volumeUid("here"), there = other->volumeUid("there");
    ASSERT_NE(here, there);

    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(IsVolume(util.GetIBMSVCVolObjPathByUUID(conn, here, kCluster), "here")) << record.dump();
        EXPECT_TRUE(smistest::SameObject(util.GetIBMSVCVolObjPathByUUID(second, there, kOtherCluster),
                                         other->volumePath("there")));
        // a volume of the other array is not found through this one's list
        EXPECT_EQ(util.GetIBMSVCVolObjPathByUUID(second, here, kOtherCluster), "");
    }
    // one list per array, fetched once, plus the one refresh of the unknown id
    EXPECT_EQ(ConciseEnumerations(fx), 1u);
    EXPECT_EQ(ConciseEnumerations(*other), 4u);
    second.DisconnectCimom();
}

TEST_F(TwoArrays, StalledArrayHoldsUpNoLookupOnAnother) {
    ASSERT_TRUE(fx.sim().addVolume("here", "Pool0", GiB).ok());
    ASSERT_TRUE(other->sim().addVolume("there", "Pool0", GiB).ok());
    const std::string here = fx.volumeUid("here"), there = other->volumeUid("there");
    other->sim().faults().add(arraysim::Fault::stall("EnumerateInstanceNames", 120000));

    zqtest::TestSnapInfo stalledRecord;
    std::string stalledAnswer = "unset";
    std::thread stalled([&] {
        ZqCimConnection own;
        ZqCimUtil lookups;
        own.SetLogger(&stalledRecord);
        lookups.SetLogger(&stalledRecord);
        own.SetCimom(OtherParams());
        if (own.ConnectCimom() == 0) stalledAnswer = lookups.GetIBMSVCVolObjPathByUUID(own, there, kOtherCluster);
        own.DisconnectCimom();
    });
    // the stalled request has reached the array
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!other->sim().faults().list().empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(other->sim().faults().list().empty());

    Connect();
    auto lookup = std::async(std::launch::async, [&] { return util.GetIBMSVCVolObjPathByUUID(conn, here, kCluster); });
    const bool answered = lookup.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    other.reset();  // ends the stall: the array goes away
    stalled.join();
    EXPECT_TRUE(answered) << "a lookup on one array waited for another array's stalled answer";
    EXPECT_TRUE(IsVolume(lookup.get(), "here")) << record.dump();
    EXPECT_EQ(stalledAnswer, "") << stalledRecord.dump();
}

}  // namespace
