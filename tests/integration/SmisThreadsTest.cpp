// Several threads with their own connections use the shared volume,
// concise-volume and hardware-id lists at once (run under TSan as well).
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
    EXPECT_EQ(asked("EnumerateInstanceNames", "IBMTSSVC_ConciseVolume"), 1u);
}

}  // namespace
