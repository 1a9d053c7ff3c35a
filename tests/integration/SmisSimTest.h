// Base of the SMI-S base-layer tests against the in-process simulator: a
// record that receives the traces, a connection to the simulator, the
// platform settings of the test, and small helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ProviderTarget.h"
#include "ScopedHostSettings.h"
#include "SimulatorFixture.h"
#include "TestSnapInfo.h"
#include "ZqCimConnection.h"
#include "ZqCimUtil.h"
#include "cim/CIMClient.h"

namespace smistest {

constexpr Pegasus::Uint64 GiB = Pegasus::Uint64(1) << 30;
const char* const kCluster = "0000020060C14A2C";

// The same object: class and keys, whatever the host and namespace.
inline ::testing::AssertionResult SameObject(const std::string& text, const Pegasus::CIMObjectPath& expected) {
    if (zqtest::sameObject(text, expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "[" << text << "] is not [" << expected.toString() << "]";
}

class SmisSimTest : public ::testing::Test {
protected:
    SmisSimTest() { ZqCimUtil::ClearSharedCaches(); }
    void SetUp() override { ZQ_NEEDS_SIMULATOR(); }
    ~SmisSimTest() override {
        conn.DisconnectCimom();
        ZqCimUtil::ClearSharedCaches();
    }

    ZqCimomParams Params(bool https = false) const {
        ZqCimomParams p;
        p.Address = fx.host();
        p.Port = Pegasus::Uint16(https ? fx.httpsPort() : fx.httpPort());
        p.UseSSL = https;
        p.NameSpace = zqtest::SimulatorFixture::nameSpace();
        p.UserName = fx.user();
        p.Password = fx.password();
        // 20 s of real time at the fixture's time scale: a loaded machine never times out.
        p.TimeoutSecs = 20000;
        return p;
    }
    void Connect(ZqCimomParams p) {
        conn.SetLogger(&record);
        util.SetLogger(&record);
        conn.SetCimom(p);
        ASSERT_EQ(conn.ConnectCimom(), 0) << record.dump();
    }
    void Connect() { Connect(Params()); }
    size_t Requests() const { return fx.sim().requestLog().size(); }
    std::string VolumePath(const std::string& name) { return fx.volumePath(name).toString().toStdString(); }
    ::testing::AssertionResult IsVolume(const std::string& text, const std::string& name) {
        return SameObject(text, fx.volumePath(name));
    }
    Pegasus::CIMObjectPath SystemPath() { return util.GetSystemObjPathByNameProp(conn, kCluster); }
    // AttachReplica through a client of the test's own; the method's return value.
    Pegasus::Uint32 Attach(const std::string& source, const std::string& target,
                           Pegasus::Array<Pegasus::CIMParamValue>* out = nullptr);

    zqtest::ScopedHostSettings settings;
    mutable zqtest::SimulatorFixture fx;
    zqtest::TestSnapInfo record;
    ZqCimConnection conn;
    ZqCimUtil util;
};

inline Pegasus::Uint32 SmisSimTest::Attach(const std::string& source, const std::string& target,
                                           Pegasus::Array<Pegasus::CIMParamValue>* out) {
    using namespace Pegasus;
    Array<CIMParamValue> in;
    in.append(CIMParamValue("SourceElement", CIMValue(fx.volumePath(source))));
    in.append(CIMParamValue("TargetElement", CIMValue(fx.volumePath(target))));
    in.append(CIMParamValue("CopyType", CIMValue(Uint16(4))));
    Array<CIMParamValue> ignored;
    CIMValue rc = fx.client()->invokeMethod(zqtest::SimulatorFixture::nameSpace(), fx.configurationService(),
                                            "AttachReplica", in, out ? *out : ignored);
    Uint32 value = 0;
    rc.get(value);
    return value;
}

}  // namespace smistest
