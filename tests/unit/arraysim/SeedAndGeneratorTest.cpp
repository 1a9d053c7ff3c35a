#include <gtest/gtest.h>

#include <set>

#include "ClusterGenerator.h"
#include "SeedFile.h"
#include "SvcReturnCode.h"

using namespace arraysim;
using nlohmann::json;

namespace {
json baseSeed() {
    return json::parse(R"({
      "cluster": {"id": "00000200A0B1C2D3", "name": "lab", "firmware": "7.8.1.11", "build": 42},
      "credentials": {"user": "svc", "password": "pw"},
      "pools": [{"name": "gold", "capacityGiB": 100}, {"name": "Cold", "capacityGiB": 2, "online": false}],
      "volumes": [
        {"name": "src", "pool": "gold", "sizeGiB": 1, "uid": "6005076810CA0166C00000000000019f"},
        {"name": "tgt", "pool": "GOLD", "sizeGiB": 1, "spaceEfficient": true, "ioGroup": 1}
      ],
      "hosts": [{"name": "h1", "wwpns": ["10:00:00:00:c9:aa:bb:01"]}, {"name": "h2", "iqns": ["IQN.1994-05.com.example:h2"]}],
      "hostMappings": [{"host": "h1", "volume": "src", "lun": 3}],
      "fcMappings": [{"name": "fc1", "source": "src", "target": "tgt", "copyRate": 0, "cleanRate": 0}],
      "consistencyGroups": [{"name": "cg1", "mappings": ["fc1"]}]
    })");
}
}  // namespace

TEST(SeedFile, LoadsEveryKindOfObjectWithTheClustersOwnSpelling) {
    Seed seed = seedFromJson(baseSeed());
    const ClusterState& s = seed.state;
    EXPECT_EQ(s.cluster.id, "00000200A0B1C2D3");
    EXPECT_EQ(s.cluster.firmware, "7.8.1.11");
    EXPECT_EQ(seed.credentials.user, "svc");
    ASSERT_EQ(s.volumes.size(), 2u);
    auto src = s.volumeByUid("6005076810ca0166c00000000000019F");
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->uid, "6005076810CA0166C00000000000019F");
    auto tgt = s.volumeByName("tgt");
    ASSERT_NE(tgt, nullptr);
    EXPECT_TRUE(tgt->spaceEfficient);
    EXPECT_EQ(tgt->ioGroupId, 1u);
    EXPECT_EQ(s.nodes.at(tgt->preferredNodeId).ioGroupId, 1u) << "preferred node lies in the volume's I/O group";
    EXPECT_EQ(tgt->uid.size(), 32u);
    EXPECT_EQ(tgt->uid.substr(0, 6), "600507");
    ASSERT_NE(s.portByName("10000000C9AABB01"), nullptr) << "WWPNs are kept in upper case without colons";
    ASSERT_NE(s.portByName("iqn.1994-05.com.example:h2"), nullptr) << "iSCSI names are kept in lower case";
    EXPECT_EQ(s.hostMappings.at({s.hostByName("h1")->id, src->id}).scsiId, 3u);
    auto fc = s.mappingByName("fc1");
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(fc->copyRate, 0);
    EXPECT_EQ(s.groupByName("cg1")->members.count(fc->id), 1u);
    EXPECT_FALSE(s.poolByName("cold")->online);
}

TEST(SeedFile, RefusesWhatTheClusterWouldRefuseAndNamesTheItem) {
    struct Case {
        const char* what;
        std::function<void(json&)> edit;
        const char* expected;
    } cases[] = {
        {"cluster id", [](json& j) { j["cluster"]["id"] = "1234020060C14A2C"; }, "cluster id"},
        {"unknown pool", [](json& j) { j["volumes"][0]["pool"] = "silver"; }, "silver"},
        {"duplicate volume name", [](json& j) { j["volumes"][1]["name"] = "src"; }, "32775"},
        {"offline pool", [](json& j) { j["volumes"][1]["pool"] = "Cold"; }, "32771"},
        {"size mismatch", [](json& j) { j["volumes"][1]["sizeGiB"] = 2; }, "38844"},
        {"bad uid", [](json& j) { j["volumes"][0]["uid"] = "xyz"; }, "uid"},
        {"port of two hosts", [](json& j) { j["hosts"][1]["wwpns"] = json::array({"10000000C9AABB01"}); }, "38561"},
        {"wrong type", [](json& j) { j["volumes"][0]["sizeGiB"] = "one"; }, "sizeGiB"},
        {"unknown mapping", [](json& j) { j["consistencyGroups"][0]["mappings"][0] = "nope"; }, "nope"},
    };
    for (auto& c : cases) {
        json doc = baseSeed();
        c.edit(doc);
        try {
            seedFromJson(doc);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(SeedFile, StateDumpCarriesLiveStateButNoCredentials) {
    Seed seed = seedFromJson(baseSeed());
    CopyServices copies(seed.state);
    json dump = stateToJson(seed.state, copies, 0);
    std::string text = dump.dump();
    EXPECT_EQ(text.find("\"pw\""), std::string::npos);
    EXPECT_EQ(dump["fcMappings"][0]["state"], "idle_or_copied");
    EXPECT_EQ(dump["fcMappings"][0]["group"], "cg1");
    EXPECT_EQ(dump["volumes"][0]["generation"].get<uint64_t>() != dump["volumes"][1]["generation"].get<uint64_t>(),
              true)
        << "every volume starts with data of its own";
}

TEST(ClusterGenerator, LargeClusterIsIndexedByUidNameAndId) {
    GeneratorOptions opts;
    opts.volumes = 50000;
    ClusterState s = generateCluster(opts);
    ASSERT_EQ(s.volumes.size(), 50000u);
    std::set<std::string> uids;
    for (auto& [id, v] : s.volumes) uids.insert(v.uid);
    EXPECT_EQ(uids.size(), 50000u);
    const Volume& last = s.volumes.rbegin()->second;
    EXPECT_EQ(s.volumeByUid(last.uid), &last);
    EXPECT_EQ(s.volumeByName("vol49999"), &last);
    EXPECT_EQ(s.hostsOfVolume(0).size(), 1u);
    EXPECT_EQ(s.volumesOfHost(s.hostByName("host3")->id).size(), opts.mappedVolumesPerHost);
    // A volume can still be created on the generated cluster.
    VolumeSpec spec;
    spec.name = "extra";
    spec.sizeBytes = 1 << 30;
    EXPECT_TRUE(s.createVolume(spec).ok());
}
