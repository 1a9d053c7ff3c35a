// Engine tests that run against any IBM SVC SMI-S provider: the in-process
// simulator by default, a real provider when ZQ_TEST_CIMOM_URL names one
// (see ProviderTarget.h). They read what the provider holds instead of
// seeding it; the write test makes and removes its own volumes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProviderTarget.h"
#include "ScopedHostSettings.h"
#include "SimulatorFixture.h"
#include "SmisAction.h"
#include "TestSnapInfo.h"
#include "ZqClock.h"
#include "ZqCimConnection.h"
#include "ZqCimUtil.h"
#include "ZqSmisErrorTable.h"
#include "cim/CIMPropertyList.h"

namespace {

using zqtest::ProviderTarget;
using zqtest::sameObject;

constexpr uint64_t GiB = uint64_t(1) << 30;

// The value of a string key of a path; empty when absent.
std::string keyOf(const Pegasus::CIMObjectPath& path, const char* name) {
    for (const auto& key : path.getKeyBindings())
        if (key.getName().equal(Pegasus::CIMName(name))) return key.getValue().toStdString();
    return "";
}

class Provider : public ::testing::Test {
protected:
    void SetUp() override {
        ZqCimUtil::ClearSharedCaches();
        std::optional<ProviderTarget> real;
        try {
            real = ProviderTarget::fromEnvironment();
        } catch (const std::invalid_argument& e) {
            FAIL() << e.what();
        }
        if (real) {
            target = *real;
        } else {
            fx = std::make_unique<zqtest::SimulatorFixture>();
            for (const char* name : {"db01", "db02", "logs"})
                ASSERT_TRUE(fx->sim().addVolume(name, "Pool0", GiB, false).ok());
            target.host = fx->host();
            target.port = uint16_t(fx->httpsPort());
            target.https = true;
            target.user = fx->user();
            target.password = fx->password();
            target.writesAllowed = true;
        }
        conn.SetLogger(&record);
        util.SetLogger(&record);
        conn.SetCimom(params(target.password));
        ASSERT_EQ(conn.ConnectCimom(), 0) << record.dump();
    }
    void TearDown() override {
        conn.DisconnectCimom();
        ZqCimUtil::ClearSharedCaches();
    }

    ZqCimomParams params(const std::string& password) const {
        ZqCimomParams p;
        p.Address = target.host;
        p.Port = target.port;
        p.UseSSL = target.https;
        p.NameSpace = target.nameSpace;
        p.UserName = target.user;
        p.Password = password;
        // Under the simulator's compressed clock: 20 s of real time.
        if (fx) p.TimeoutSecs = 20000;
        return p;
    }

    // Up to `most` volumes of the provider: path and "Name".
    std::vector<std::pair<Pegasus::CIMObjectPath, std::string>> volumes(size_t most) {
        std::vector<std::pair<Pegasus::CIMObjectPath, std::string>> found;
        Pegasus::Array<Pegasus::CIMName> names;
        names.append(Pegasus::CIMName("Name"));
        auto instances = conn.GetInstances("CIM_StorageVolume", Pegasus::CIMPropertyList(names));
        for (Pegasus::Uint32 i = 0; i < instances.size() && found.size() < most; ++i) {
            const Pegasus::Uint32 at = instances[i].findProperty("Name");
            if (at == PEG_NOT_FOUND) continue;
            found.emplace_back(instances[i].getPath(),
                               instances[i].getProperty(at).getValue().toString().toStdString());
        }
        return found;
    }
    // The cluster id of a volume path: its "SystemName" up to the first ':'.
    static std::string clusterOf(const Pegasus::CIMObjectPath& volume) {
        const std::string system = keyOf(volume, "SystemName");
        return system.substr(0, system.find(':'));
    }

    zqtest::ScopedHostSettings settings;
    std::unique_ptr<zqtest::SimulatorFixture> fx;
    ProviderTarget target;
    zqtest::TestSnapInfo record;
    ZqCimConnection conn;
    ZqCimUtil util;
};

TEST(ProviderTargetUrl, PartsDefaultsAndMistakes) {
    auto t = ProviderTarget::fromUrl("https://svc01.example.com");
    EXPECT_EQ(t.host, "svc01.example.com");
    EXPECT_EQ(t.port, 5989);
    EXPECT_TRUE(t.https);
    EXPECT_EQ(t.nameSpace, "root/ibm");
    t = ProviderTarget::fromUrl("http://10.0.0.7:15988/root/cimv2/");
    EXPECT_EQ(t.host, "10.0.0.7");
    EXPECT_EQ(t.port, 15988);
    EXPECT_FALSE(t.https);
    EXPECT_EQ(t.nameSpace, "root/cimv2");
    t = ProviderTarget::fromUrl("https://[fe80::1]:5999");
    EXPECT_EQ(t.host, "fe80::1");
    EXPECT_EQ(t.port, 5999);
    for (const char* bad : {"svc01:5989", "ftp://svc01", "https://", "https://svc01:", "https://svc01:99999",
                            "http://svc01:59x8", "https://[fe80::1"})
        EXPECT_THROW(ProviderTarget::fromUrl(bad), std::invalid_argument) << bad;
}

TEST_F(Provider, RefusedCredentialsAreReportedWithoutThePassword) {
    const std::string wrong = "zq-wrong-" + std::to_string(getpid());
    conn.DisconnectCimom();
    ZqCimomParams p = params(wrong);
    p.MaxRetries = 0;
    conn.SetCimom(p);
    ASSERT_EQ(conn.ConnectCimom(), 0);
    EXPECT_EQ(util.GetVolObjPathByUUID(conn, "6005076801234567", ""), "");
    EXPECT_EQ(record.errorCode(), 60555u) << record.dump();
    EXPECT_TRUE(conn.IsErrorReported());
    EXPECT_EQ(record.dump().find(wrong), std::string::npos);
    EXPECT_EQ(record.dump().find(target.password), std::string::npos);
}

TEST_F(Provider, VolumesAreFoundByTheirUniqueIdBothWays) {
    const auto found = volumes(5);
    ASSERT_FALSE(found.empty()) << "the provider shows no volume";
    for (int cached : {0, 1}) {
        settings.set("ZQ_SMIS_CACHE_VOLUME_INSTANCES", cached);
        for (const auto& [path, uid] : found) {
            const std::string cluster = clusterOf(path);
            EXPECT_TRUE(sameObject(util.GetVolObjPathByUUID(conn, uid, ""), path)) << uid;
            EXPECT_TRUE(sameObject(util.GetVolObjPathByUUID(conn, uid, cluster), path)) << uid;
            EXPECT_TRUE(sameObject(util.GetIBMSVCVolObjPathByUUID(conn, uid, cluster), path)) << uid;
        }
    }
    // An id no volume has is absent, not an error.
    EXPECT_EQ(util.GetIBMSVCVolObjPathByUUID(conn, "60050768FFFFFFFFFFFFFFFFFFFFFFFF", clusterOf(found[0].first)), "");
    EXPECT_EQ(record.errorCode(), 0u) << record.dump();
}

TEST_F(Provider, ClusterAndItsServicesAreFound) {
    const auto found = volumes(1);
    ASSERT_FALSE(found.empty()) << "the provider shows no volume";
    const std::string cluster = clusterOf(found[0].first);
    const Pegasus::CIMObjectPath system = util.GetSystemObjPathByNameProp(conn, cluster);
    EXPECT_EQ(keyOf(system, "Name"), cluster) << record.dump();
    Pegasus::CIMObjectPath service;
    EXPECT_TRUE(util.ValidateSystemName(conn, cluster, "CIM_StorageConfigurationService", service)) << record.dump();
    EXPECT_EQ(keyOf(service, "SystemName"), cluster);
    EXPECT_EQ(keyOf(util.GetCtlrservicePath(conn, system), "SystemName"), cluster) << record.dump();
    EXPECT_FALSE(util.ValidateSystemName(conn, "0000000000000000", "CIM_StorageConfigurationService", service));
}

// Makes a volume, a snapshot of it, finds their synchronization, detaches and
// deletes both; whatever the test made is removed even when it fails.
TEST_F(Provider, SnapshotOfANewVolumeFromCreationToDeletion) {
    if (!target.writesAllowed) GTEST_SKIP() << "writes to a real provider need ZQ_TEST_ALLOW_WRITES=1";
    const auto found = volumes(1);
    ASSERT_FALSE(found.empty()) << "the provider shows no volume";
    const std::string cluster = clusterOf(found[0].first);
    const std::string prefix = "zqtest" + std::to_string(getpid());

    SmisAction action;
    action.SetLogger(&record);
    action.SetSMISErrorTable(ETable);
    struct Made {
        std::string path, uid;
    };
    std::vector<Made> made;  // newest last
    std::string source, snapshot, syncPath;
    // The cluster deletes a mapping only once it is stopped: stop, wait a
    // bounded time for SyncState 9, detach.
    auto stopAndDetach = [&] {
        std::vector<std::string> stop{cluster, "8", source, snapshot};
        if (action.ModifySync(conn, stop, false) != 0) return -1;
        for (int poll = 0; poll < 60 && util.GetCIMProp(conn, syncPath, "SyncState") != "9"; ++poll)
            zq::platform::clock().sleepSeconds(1);
        std::vector<std::string> detach{cluster, source, snapshot};
        return action.DetachVol(conn, detach);
    };
    auto cleanUp = [&] {
        if (!source.empty() && !snapshot.empty() && !syncPath.empty()) stopAndDetach();
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            std::vector<std::string> del{cluster, it->path, it->uid};
            EXPECT_EQ(action.DeleteVol(conn, del), 0) << "left on the provider: " << it->path << record.dump();
        }
        made.clear();
    };
    struct Guard {
        std::function<void()> run;
        ~Guard() { run(); }
    } guard{cleanUp};

    std::vector<std::string> request{cluster, prefix + "src", "null", "5"};
    std::vector<std::string> creation;
    ASSERT_EQ(action.CreateStorageVolParams(conn, request, found[0].first.toString().toStdString(), creation), 0)
        << record.dump();
    ASSERT_EQ(creation.size(), 8u);
    creation[3] = std::to_string(GiB);
    ASSERT_EQ(action.CreateStorageVolume(conn, creation, source), 0) << record.dump();
    const std::string sourceUid = util.GetCIMProp(conn, source, "Name");
    ASSERT_FALSE(sourceUid.empty());
    made.push_back({source, sourceUid});

    std::vector<std::string> replica{cluster, prefix + "snap", "4", sourceUid}, resolved;
    ASSERT_TRUE(action.PrepareCreateReplica(conn, replica, resolved)) << record.dump();
    ASSERT_EQ(action.CreateReplica(conn, resolved, snapshot), 0u) << record.dump();
    const std::string snapshotUid = util.GetCIMProp(conn, snapshot, "Name");
    ASSERT_FALSE(snapshotUid.empty());
    made.push_back({snapshot, snapshotUid});

    std::string syncSource, syncSourceId;
    ASSERT_EQ(util.GetSyncPathFromTarget(conn, snapshot, syncPath, syncSource, syncSourceId), 0) << record.dump();
    EXPECT_EQ(syncSourceId, sourceUid);
    EXPECT_TRUE(sameObject(syncSource, Pegasus::CIMObjectPath(Pegasus::String(source))));
    EXPECT_TRUE(sameObject(util.GetIBMSVCVolObjPathByUUID(conn, snapshotUid, cluster),
                           Pegasus::CIMObjectPath(Pegasus::String(snapshot))));

    ASSERT_EQ(stopAndDetach(), 0) << record.dump();
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, snapshot, syncPath, syncSource, syncSourceId), 1);
    snapshot.clear();  // nothing left to detach
    cleanUp();
    EXPECT_EQ(util.GetIBMSVCVolObjPathByUUID(conn, sourceUid, cluster), "");
}

}  // namespace
