// Scriptable OS utility of one test host: its disks (from a DeviceSource),
// initiators, known arrays with their information texts, bus rescans, the
// current operation code, and remote execution on another test host.
//
// Host ids: a host id that names a virtual host (addVirtualHost, any letter
// case) asks about that hypervisor host; every other id (the machine's host
// name, or empty for the local host in virtual-machine mode) asks about this
// host. A hypervisor lists its disks as hypervisor descriptors; this host
// lists device paths. Rescans move the host's HostDiskView, when it has one.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZqHostDiskView.h"
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
        bool failed = false;  // the view could not ask the array
    };
    // The engine entry point a proxy runs (zqso_execSnapEngineOp in practice).
    using EngineOp = std::function<int(ZQSO::SnapInfo** records, int16_t count, ZQSO::ZQOSUtil* os)>;

    explicit TestOSUtil(std::string hostName = "testhost");

    const std::string& hostName() const { return hostName_; }

    // Disks: the host's devices of a vendor are the disks of the source whose
    // vendor the asked vendor text contains.
    void setDeviceSource(std::shared_ptr<zq::platform::DeviceSource> source);
    // The view of the array's mappings that this host's rescans move (its
    // disks are listed through the device source, which may hold it or be it).
    void setHostDiskView(std::shared_ptr<zq::platform::HostDiskView> view);
    // A hypervisor host for virtual-machine records (the record's virtual
    // host name): its single initiator and its disks.
    void addVirtualHost(const std::string& name, Initiator initiator,
                        std::shared_ptr<zq::platform::HostDiskView> disks);
    // The machine's host name, the id the engine gives this host.
    static std::string machineHostName();
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
    // The type bytes the initiator query answers, instead of one per name
    // (fewer bytes than names, none, or wrong values).
    void setInitiatorTypeBytes(std::optional<std::vector<uint8_t>> types);
    std::vector<Initiator> initiators() const;
    std::vector<std::string> initiatorNames() const;
    // The initiator of a virtual host not added with addVirtualHost.
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
    struct VirtualHost {
        Initiator initiator;
        std::shared_ptr<zq::platform::HostDiskView> disks;
    };

    // A field written or read under the host's lock.
    template <class T, class V>
    void set(T& field, V&& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        field = std::forward<V>(value);
    }
    template <class T>
    T get(const T& field) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return field;
    }

    // The virtual host an id names; null for this host. Caller holds mutex_.
    const VirtualHost* virtualHostLocked(const char* hostId) const;

    std::string hostName_;
    mutable std::mutex mutex_;
    std::shared_ptr<zq::platform::DeviceSource> devices_;
    std::shared_ptr<zq::platform::HostDiskView> view_;
    std::map<std::string, VirtualHost> virtualHosts_;  // lower-case names
    std::optional<std::string> deviceListText_;
    bool deviceListFailure_ = false;
    std::map<std::string, Array> arrays_;  // insertion order kept in arrayOrder_
    std::vector<std::string> arrayOrder_;
    std::vector<Initiator> initiators_;
    std::optional<std::vector<uint8_t>> typeBytes_;
    std::optional<Initiator> virtualInitiator_;
    uint16_t currentOperation_ = 0;
    std::vector<Rescan> rescans_;
    std::map<std::string, TestOSUtil*> proxies_;  // lower-case names
    EngineOp engine_;
    RecordBatch* batch_ = nullptr;
    std::vector<std::string> remoteRuns_;
};

}  // namespace zqtest
