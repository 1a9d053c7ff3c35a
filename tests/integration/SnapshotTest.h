// Base of the snapshot-object tests: the engine fixture (simulator and engine
// on one clock), IBM SVC snapshot objects bound to the fixture's record, and
// readers of the request log.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "EngineSimFixture.h"
#include "IBMSVCSnapshot.h"
#include "ProviderTarget.h"
#include "ZqCimUtil.h"

namespace snaptest {

class SnapshotTest : public ::testing::Test {
protected:
    SnapshotTest() { ZqCimUtil::ClearSharedCaches(); }
    ~SnapshotTest() override { ZqCimUtil::ClearSharedCaches(); }
    void SetUp() override { ZQ_NEEDS_SIMULATOR(); }

    // A snapshot object of kind `op` (4 snapshot, 5 clone) for the array,
    // bound to the fixture's record.
    IBMSVCSnapshot Snap(int op = 4) {
        IBMSVCSnapshot snap;
        ZQ_SMIS_SNAP::ZqArrayParams array;
        static_cast<ZqCimomParams&>(array) = fx.cimomParams();
        array.SystemName = fx.arrayId();
        snap.SetArrayInfo(array);
        snap.SetLogger(&fx.record());
        snap.m_SnapOp = op;
        return snap;
    }
    // A snapshot object that knows the copy: source and target by id and path.
    IBMSVCSnapshot SnapOf(const zqtest::EngineSimFixture::Copy& copy, int op = 4) {
        IBMSVCSnapshot snap = Snap(op);
        snap.m_SourceDev = copy.source.uid;
        snap.m_SourceDevPath = copy.source.path;
        snap.m_TargetDev = copy.target.uid;
        snap.m_TargetDevPath = copy.target.path;
        snap.m_SyncPath = copy.mappingPath;
        return snap;
    }

    zqtest::TestSnapInfo& record() { return fx.record(); }
    size_t Calls(const std::string& method) { return fx.sim().requestLog().find(method).size(); }
    // The value of in-parameter `name` of the n-th call of `method` ("-" when not sent).
    std::string Sent(const std::string& method, const std::string& name, size_t n = 0) {
        auto calls = fx.sim().requestLog().find(method);
        if (n >= calls.size()) return "no call";
        const arraysim::LoggedParam* p = calls[n].param(name);
        return p ? p->value : "-";
    }
    void ClearLog() { fx.sim().requestLog().clear(); }

    zqtest::EngineSimFixture fx;
};

}  // namespace snaptest
