// Base of the prepare, snap and delete tests: the engine fixture, source
// volumes the test host sees as disks, batches of records that name them,
// the exported entry points, and readers of what a batch left on the array.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "EngineSimFixture.h"
#include "IBMSVCUtility.h"
#include "ProviderTarget.h"
#include "ZqCimUtil.h"
#include "zqso/zqso.h"

namespace flowtest {

using zqtest::EngineSimFixture;
using zqtest::RecordBatch;
using zqtest::TestSnapInfo;

constexpr int kSnapshotEngine = 20;
constexpr int kCloneEngine = 21;

class FlowTest : public ::testing::Test {
protected:
    FlowTest() { ZqCimUtil::ClearSharedCaches(); }
    ~FlowTest() override { ZqCimUtil::ClearSharedCaches(); }
    void SetUp() override { ZQ_NEEDS_SIMULATOR(); }

    // Source volumes "<prefix>0".."<prefix>N-1" of 1 GiB, each seen by the
    // host as /dev/sd<letter>, with data written once.
    std::vector<std::string> addSources(size_t n, const std::string& prefix = "db") {
        std::vector<std::string> names;
        for (size_t i = 0; i < n; ++i) {
            const std::string name = prefix + std::to_string(i);
            fx.addSource(name);
            fx.addHostDisk(name, devicePath(name));
            fx.sim().hostWrite(name);
            names.push_back(name);
        }
        return names;
    }
    static std::string devicePath(const std::string& source) { return "/dev/disk-" + source; }

    // A batch whose record i takes source i and the snap name "<snap>_<source>";
    // `configure` sets each record's keys.
    std::unique_ptr<RecordBatch> batchFor(const std::vector<std::string>& sources, const std::string& snap,
                                          const std::function<void(TestSnapInfo&)>& configure = {}) {
        auto batch = fx.makeBatch(sources.size());
        for (size_t i = 0; i < sources.size(); ++i) {
            TestSnapInfo& r = (*batch)[i];
            r.setSourceDevicePath(devicePath(sources[i]));
            r.setSnapName(snap + "_" + sources[i]);
            if (configure) configure(r);
        }
        return batch;
    }
    static void useGroup(TestSnapInfo& r) { r.setConfig("SMCONFIG_NAME_IBMSVC_CONSISTENCY_GROUP", 1); }

    int prepare(RecordBatch& b) { return zqso_prepareDevices(b.records(), b.count(), b.os()); }
    int snap(RecordBatch& b) { return zqso_snapDevices(b.records(), b.count(), b.os()); }
    int remove(RecordBatch& b) { return zqso_deleteSnaps(b.records(), b.count(), b.os()); }

    // The host's catalogue after a step, as the agent keeps it: copies of
    // prepared records known, deleted ones forgotten.
    void remember(RecordBatch& b, int engineId) {
        for (size_t i = 0; i < b.size(); ++i)
            if (b[i].status() == ZQSO::SNAP_STATUS_PREPARED) fx.env().catalogue().addFromRecord(engineId, b[i]);
    }
    void forget(RecordBatch& b) {
        for (size_t i = 0; i < b.size(); ++i)
            if (b[i].status() == ZQSO::SNAP_STATUS_DELETED && b[i].meta(1)) fx.env().catalogue().removeCopy(*b[i].meta(1));
    }

    static std::vector<int> statuses(RecordBatch& b) {
        std::vector<int> all;
        for (size_t i = 0; i < b.size(); ++i) all.push_back(int(b[i].status()));
        return all;
    }
    static std::string dump(RecordBatch& b) {
        std::string text;
        for (size_t i = 0; i < b.size(); ++i) text += "--- record " + std::to_string(i) + "\n" + b[i].dump();
        return text;
    }
    // The fields of a record's unique identifier (metadata 1).
    static ZQSOIBMSVCAPI::UniqueId uniqueId(TestSnapInfo& r) {
        ZQSOIBMSVCAPI::UniqueId fields;
        const auto text = r.meta(1);
        if (text) ZQSOIBMSVCAPI::parseUniqueId(nullptr, *text, fields);
        return fields;
    }
    // Name of the target volume of a record's copy; empty when none.
    std::string targetOf(TestSnapInfo& r) {
        const auto fields = uniqueId(r);
        if (fields.snapDev.empty()) return std::string();
        const auto v = fx.volume(fields.snapDev);
        return v ? v->name : std::string();
    }
    size_t calls(const std::string& method) { return fx.sim().requestLog().find(method).size(); }
    // Calls of ModifySynchronizedSet with this Operation.
    size_t groupCalls(int operation) {
        size_t n = 0;
        for (const auto& request : fx.sim().requestLog().find("ModifySynchronizedSet"))
            for (const auto& p : request.params)
                if (p.name == "Operation" && p.value == std::to_string(operation)) ++n;
        return n;
    }

    EngineSimFixture fx;
};

}  // namespace flowtest
