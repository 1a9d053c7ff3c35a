// Scriptable OS utility of one test host: its disks (from a DeviceSource),
// initiators, known arrays with their information texts, bus rescans, the
// current operation code, and remote execution on another test host.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZqSimulatedDevices.h"
#include "zqso/ZQOSUtil.h"
#include "zqso/SnapInfo.h"

namespace zqtest {

class RecordBatch;

class TestOSUtil : public ZQSO::ZQOSUtil {
public:
    struct Initiator {
        std::string name;
        bool iscsi = false;
    };
    struct Rescan {
        std::string hostId;
        std::vector<std::string> initiators;
        std::vector<std::string> removedPaths;
    };
    // The engine entry point a proxy runs (zqso_execSnapEngineOp in practice).
    using EngineOp = std::function<int(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os)>;

    explicit TestOSUtil(std::string hostName = "testhost");

    const std::string& hostName() const { return hostName_; }

    // Disks: the host's devices of a vendor are the disks of the source whose
    // vendor the asked vendor text contains.
    void setDeviceSource(std::shared_ptr<zq::platform::DeviceSource> source);
    std::shared_ptr<zq::platform::DeviceSource> deviceSource() const;
    // Replaces the device listing by a fixed text (e.g. virtual-machine descriptors).
    void setDeviceListText(std::optional<std::string> text);
    void setDeviceListFailure(bool fail);

    // Arrays known to the host, with their information texts.
    void addArray(const std::string& arrayId, const std::string& vendor, const std::string& infoText);
    void removeArray(const std::string& arrayId);
    std::optional<std::string> arrayInfo(const std::string& arrayId) const;
    // "{arrayId:<id>,hostName:<h>,hostUserName:<u>,hostPassword:<p>,engineId:<e>}"
    static std::string infoText(const std::string& arrayId, const std::string& host, const std::string& user,
                                const std::string& password, int engineId);

    void setInitiators(std::vector<Initiator> initiators);
    void setVirtualHostInitiator(std::optional<Initiator> initiator);
    void setCurrentOperation(uint16_t code);
    std::vector<Rescan> rescans() const;

    // Remote execution: `name` (any letter case) reaches `proxy`.
    void addProxy(const std::string& name, TestOSUtil* proxy);
    // What this host runs when it acts as a proxy.
    void setEngine(EngineOp engine);
    // The batch whose records a remote run carries (set by RecordBatch);
    // returns the batch set before.
    RecordBatch* setCurrentBatch(RecordBatch* batch);
    // Proxy names of the remote runs asked of this host, in order.
    std::vector<std::string> remoteRuns() const;
    // Result the proxy's engine returned on the last run.
    int lastProxyResult() const;

    // ZQSO::ZQOSUtil
    int rescanHostBus(const char* hostId, const char* const* initiators, const char* const* removedPaths) override;
    int getHostDevices(const char* hostId, const char* vendor, char separator, uint32_t size, char* buf) override;
    int getArrays(const char* vendor, char separator, uint32_t size, char* buf) override;
    int getHostInitiators(const char* hostId, const char* arrayId, char* names, uint16_t* namesLen, char* types,
                          uint16_t* typesLen, uint16_t* thirdLen) override;
    int getVirtualHostInitiator(const char* hostId, const char* arrayId, char* buf, uint16_t* len,
                                bool* isIscsi) override;
    int getArrayLoginInfo(const char* arrayName, char* buf, uint32_t* size) override;
    uint16_t getCurrentOperation() override;
    bool executeRemote(const char* proxyHost) override;

private:
    struct Array {
        std::string vendor;
        std::string info;
    };

    std::string hostName_;
    mutable std::mutex mutex_;
    std::shared_ptr<zq::platform::DeviceSource> devices_;
    std::optional<std::string> deviceListText_;
    bool deviceListFailure_ = false;
    std::map<std::string, Array> arrays_;  // insertion order kept in arrayOrder_
    std::vector<std::string> arrayOrder_;
    std::vector<Initiator> initiators_;
    std::optional<Initiator> virtualInitiator_;
    uint16_t currentOperation_ = 0;
    std::vector<Rescan> rescans_;
    std::map<std::string, TestOSUtil*> proxies_;  // lower-case names
    EngineOp engine_;
    RecordBatch* batch_ = nullptr;
    std::vector<std::string> remoteRuns_;
    int lastProxyResult_ = 0;
};

}  // namespace zqtest
