// A host that loads the plug-in with dlopen shares the platform library with
// it: services installed in the registry are the ones the plug-in uses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "ZQPlatformInfo.h"
#include "ZqDebugLogSink.h"
#include "ZqPlatformRegistry.h"
#include "ZqPlatformVersion.h"
#include "ZqSimulatedDevices.h"

using namespace zq::platform;

namespace {

using IsSupported = int (*)(const char*, int, void*, void*, void*);

struct Plugin {
    Plugin() : handle(dlopen(ZQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~Plugin() {
        if (handle) dlclose(handle);
    }
    void* handle;
};

std::string commandOutput(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    std::array<char, 512> buf;
    while (pipe && fgets(buf.data(), int(buf.size()), pipe.get())) out += buf.data();
    return out;
}

}  // namespace

TEST(PluginHost, ServicesInstalledByTheHostReachTheLoadedPlugin) {
    Plugin plugin;
    ASSERT_TRUE(plugin.handle) << dlerror();
    auto isSupported = reinterpret_cast<IsSupported>(dlsym(plugin.handle, "zqso_isSupported"));
    ASSERT_TRUE(isSupported);

    auto log = std::make_shared<MemoryDebugLog>();
    auto config = std::make_shared<ZQPlatformInfo>();
    auto disks = std::make_shared<StaticDeviceSource>();
    disks->add(SimulatedDisk::volume("/dev/sdq", "IBM", "2107", "ABCDEF012345XYZ", "60050768108001A2E800000000000001"));
    {
        ScopedService<DebugLogSink> logSlot(registry().debugLog, log);
        ScopedService<ZQPlatformInfo> configSlot(registry().platformInfo, config);
        ScopedService<DeviceBackend> deviceSlot(registry().devices, std::make_shared<SimulatedDeviceBackend>(disks));

        // The plug-in's debug log is the host's.
        EXPECT_EQ(isSupported(nullptr, 0, nullptr, nullptr, nullptr), 1);
        EXPECT_TRUE(log->contains("Function called with NULL character device name"));
        // It opens the host's devices and reads the host's configuration.
        EXPECT_EQ(isSupported("/dev/sdq", 0, nullptr, nullptr, nullptr), 2);
        EXPECT_TRUE(log->contains("Device [/dev/sdq] Vendor: [IBM] Product line : [2107] does not belong to IBMSVC"));
        config->set("HostModule", "IBMSVC_PRODUCT_ID", "2145 2107");
        EXPECT_EQ(isSupported("/dev/sdq", 0, nullptr, nullptr, nullptr), 0);
        EXPECT_TRUE(log->contains("Device /dev/sdq belong to array - 0000ABCDEF012345 vendor - IBM product 2107"));
    }
    // With the host's services gone the plug-in is back on the defaults:
    // Linux devices, where /dev/sdq is no IBM volume, and the log is left alone.
    log->clear();
    EXPECT_EQ(isSupported("/dev/sdq", 0, nullptr, nullptr, nullptr), 2);
    EXPECT_TRUE(log->lines().empty());
}

TEST(PluginHost, VersionedLibraryExportsOnlyItsOwnApi) {
    uint16_t major = 0, minor = 99;
    zqplatform_version(&major, &minor);
    EXPECT_EQ(major, ZQPLATFORM_VERSION_MAJOR);
    EXPECT_EQ(minor, ZQPLATFORM_VERSION_MINOR);

    std::string needed = commandOutput("objdump -p '" ZQ_PLUGIN_PATH "' 2>&1");
    EXPECT_NE(needed.find("NEEDED               libzqplatform.so.1"), std::string::npos) << needed;

    std::string exported = commandOutput("objdump -T --demangle '" ZQ_PLATFORM_PATH "' 2>&1");
    ASSERT_NE(exported.find("zq::platform::registry()"), std::string::npos) << exported;
    size_t ours = 0;
    size_t lineStart = 0;
    while (lineStart < exported.size()) {
        size_t end = exported.find('\n', lineStart);
        std::string line = exported.substr(lineStart, end - lineStart);
        lineStart = end == std::string::npos ? exported.size() : end + 1;
        // Defined dynamic symbols: a section other than *UND*.
        if (line.find(" DF ") == std::string::npos && line.find(" DO ") == std::string::npos) continue;
        if (line.find("*UND*") != std::string::npos || line.find("*ABS*") != std::string::npos) continue;
        ++ours;
        size_t version = line.find("ZQPLATFORM_1.0 ");
        ASSERT_NE(version, std::string::npos) << line;
        std::string name = line.substr(version + 15);
        name.erase(0, name.find_first_not_of(' '));
        bool own = false;
        for (const char* prefix : {"zq::platform::", "zqplatform_", "typeinfo ", "vtable for ", "CUxError", "EvDebug",
                                   "SM", "ZQMMSnapAPI", "ZQPlatformInfo", "ZqCriticalSection", "ZqDevice",
                                   "ZqException", "ZqThread"})
            own = own || name.rfind(prefix, 0) == 0;
        EXPECT_TRUE(own) << name;
        EXPECT_EQ(name.find("for std::"), std::string::npos) << name;
    }
    EXPECT_GT(ours, 20u);
}
